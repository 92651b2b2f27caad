#include "VideoPasses.h"

#include <QColorSpace>

#include <algorithm>
#include <cstring>

int VideoPasses::gain(int c, float gainPercent)
{
    // The factor is the single-precision gain times the single-precision 0.01, multiplied in
    // double precision: a gain of 100 is a factor just below 1, so 255 becomes 254.
    const double f = double(gainPercent) * double(0.01f);
    const double v = c * f;
    // Clamp before truncating: an out-of-range double has no int value.
    if (!(v > 0.0))
        return 0;
    if (v >= 256.0)
        return 255;
    return int(v);
}

int VideoPasses::filterScale(int c)
{
    return int(c * 0.8);
}

VideoPasses::Tables VideoPasses::tables(const VideoPassSettings& s)
{
    Tables t;
    const bool pass1 = s.expansionPass();
    const bool chosen = s.channel >= 1 && s.channel <= 3;
    t.source = pass1 && chosen ? s.channel - 1 : -1;
    for (int out = 0; out < 3; ++out) {
        const int from = t.source >= 0 ? t.source : out;
        std::array<QRgb, 256>& table = out == 0 ? t.red : (out == 1 ? t.green : t.blue);
        const int shift = 16 - 8 * out;
        for (int v = 0; v < 256; ++v) {
            int c = v;
            if (pass1 && s.contrastExpansion != 0)
                c = s.bands.expand(from, c);
            if (s.gainEnabled)
                c = gain(c, s.gain);
            if (s.filterPass() && s.filter - 1 != out)
                c = filterScale(c);
            if (s.invert)
                c = invert(c);
            table[std::size_t(v)] = QRgb(c) << shift;
        }
    }
    for (QRgb& e : t.red)
        e |= 0xff000000u;
    return t;
}

void VideoPasses::apply(const QImage& src, QImage& dst, const VideoPassSettings& s)
{
    const int w = src.width();
    const int h = src.height();
    if (dst.size() != src.size() || dst.format() != src.format())
        return;
    const int rw = std::clamp(s.videoWidth, 0, w);
    const int rh = std::clamp(s.videoHeight, 0, h);
    const bool inPlace = dst.constBits() == src.constBits();
    const Tables t = tables(s);
    const QRgb* red = t.red.data();
    const QRgb* green = t.green.data();
    const QRgb* blue = t.blue.data();
    const int shift = 16 - 8 * std::max(t.source, 0);
    for (int y = 0; y < h; ++y) {
        const auto* in = reinterpret_cast<const QRgb*>(src.constScanLine(y));
        auto* out = reinterpret_cast<QRgb*>(dst.scanLine(y));
        if (inPlace)
            in = out;       // the write detaches nothing further: read what is written
        if (y >= rh) {
            if (!inPlace)
                std::memcpy(out, in, std::size_t(w) * sizeof(QRgb));
            continue;
        }
        if (t.source < 0) {
            for (int x = 0; x < rw; ++x) {
                const QRgb p = in[x];
                out[x] = red[(p >> 16) & 0xff] | green[(p >> 8) & 0xff] | blue[p & 0xff];
            }
        } else {
            for (int x = 0; x < rw; ++x) {
                const unsigned v = (in[x] >> shift) & 0xff;
                out[x] = red[v] | green[v] | blue[v];
            }
        }
        if (!inPlace && rw < w)
            std::memcpy(out + rw, in + rw, std::size_t(w - rw) * sizeof(QRgb));
    }
}

void VideoPasses::copyMetadata(const QImage& src, QImage& dst)
{
    dst.setDotsPerMeterX(src.dotsPerMeterX());
    dst.setDotsPerMeterY(src.dotsPerMeterY());
    dst.setOffset(src.offset());
    dst.setDevicePixelRatio(src.devicePixelRatio());
    dst.setColorSpace(src.colorSpace());
    for (const QString& key : src.textKeys())
        dst.setText(key, src.text(key));
}
