#include "ColourBands.h"

#include <cstdint>

ColourBands::Histograms ColourBands::histograms(const QImage& img)
{
    const QImage rgb = img.format() == QImage::Format_RGB32 || img.format() == QImage::Format_ARGB32
        ? img : img.convertToFormat(QImage::Format_RGB32);
    // Four sets of counters, one per pixel position modulo 4, so that neighbouring pixels of
    // the same value do not wait on each other's increments; summed at the end.
    std::array<std::array<std::array<std::uint32_t, 256>, 3>, 4> bank{};
    const int w = rgb.width();
    for (int y = 0; y < rgb.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        int x = 0;
        for (; x + 4 <= w; x += 4) {
            for (int k = 0; k < 4; ++k) {
                const QRgb p = line[x + k];
                ++bank[k][0][(p >> 16) & 0xff];
                ++bank[k][1][(p >> 8) & 0xff];
                ++bank[k][2][p & 0xff];
            }
        }
        for (; x < w; ++x) {
            const QRgb p = line[x];
            ++bank[0][0][(p >> 16) & 0xff];
            ++bank[0][1][(p >> 8) & 0xff];
            ++bank[0][2][p & 0xff];
        }
    }
    Histograms h{};
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < 256; ++i)
            h[c][i] = int(bank[0][c][i] + bank[1][c][i] + bank[2][c][i] + bank[3][c][i]);
    return h;
}

ColourBands ColourBands::fromHistograms(const Histograms& h)
{
    ColourBands b;
    for (int c = 0; c < 3; ++c) {
        int lo = 0, hi = 0;
        for (int i = 1; i < 256; ++i)
            if (h[c][i] > 50) { lo = i; break; }
        for (int i = 255; i >= 1; --i)
            if (h[c][i] > 50) { hi = i; break; }
        b.lower[c] = lo;
        b.upper[c] = hi;
        b.width[c] = hi - lo == 0 ? 1 : hi - lo;
    }
    return b;
}
