#include "ColourBands.h"

ColourBands::Histograms ColourBands::histograms(const QImage& img)
{
    Histograms h{};
    const QImage rgb = img.format() == QImage::Format_RGB32 || img.format() == QImage::Format_ARGB32
        ? img : img.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < rgb.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(rgb.constScanLine(y));
        for (int x = 0; x < rgb.width(); ++x) {
            ++h[0][qRed(line[x])];
            ++h[1][qGreen(line[x])];
            ++h[2][qBlue(line[x])];
        }
    }
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
