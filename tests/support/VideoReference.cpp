#include "VideoReference.h"

namespace {

int clampComponent(int v)
{
    if (v < 0)
        return 0;
    if (v > 255)
        return 255;
    return v;
}

} // namespace

void ReferenceVideo::setImage(const QImage& frame)
{
    haveImage = true;
    sourceImage = frame.convertToFormat(QImage::Format_RGB32).copy();
    int histR[256] = {}, histG[256] = {}, histB[256] = {};
    for (int x = 0; x < sourceImage.width(); ++x)
        for (int y = 0; y < sourceImage.height(); ++y) {
            const QRgb p = sourceImage.pixel(x, y);
            ++histR[qRed(p)];
            ++histG[qGreen(p)];
            ++histB[qBlue(p)];
        }
    auto lower = [](const int* h) {
        for (int i = 1; i <= 255; ++i)
            if (h[i] > 50)
                return i;
        return 0;
    };
    auto upper = [](const int* h) {
        for (int i = 255; i >= 1; --i)
            if (h[i] > 50)
                return i;
        return 0;
    };
    minR = lower(histR);
    maxR = upper(histR);
    minG = lower(histG);
    maxG = upper(histG);
    minB = lower(histB);
    maxB = upper(histB);
    rangeR = maxR - minR;
    rangeG = maxG - minG;
    rangeB = maxB - minB;
    if (rangeR == 0)
        rangeR = 1;
    if (rangeG == 0)
        rangeG = 1;
    if (rangeB == 0)
        rangeB = 1;
    display = frame.convertToFormat(QImage::Format_RGB32).copy();
    filterOnScreen();
}

void ReferenceVideo::reprocess()
{
    display = sourceImage.copy();
    filterOnScreen();
}

void ReferenceVideo::filterOnScreen()
{
    if (!haveImage || display.width() < 640)
        return;
    const int w = videoWidth < display.width() ? videoWidth : display.width();
    const int h = videoHeight < display.height() ? videoHeight : display.height();

    if (contrastExpansion != 0 || channel != 0) {
        for (int x = 0; x < w; ++x)
            for (int y = 0; y < h; ++y) {
                const QRgb p = display.pixel(x, y);
                int r = qRed(p), g = qGreen(p), b = qBlue(p);
                if (contrastExpansion != 0) {
                    r = (r - minR) * 255 / rangeR;
                    g = (g - minG) * 255 / rangeG;
                    b = (b - minB) * 255 / rangeB;
                }
                if (channel == 1) {
                    g = r;
                    b = r;
                } else if (channel == 2) {
                    r = g;
                    b = g;
                } else if (channel == 3) {
                    r = b;
                    g = b;
                }
                display.setPixel(x, y, qRgb(clampComponent(r), clampComponent(g), clampComponent(b)));
            }
    }
    if (gainEnabled) {
        const float hundredth = 0.01f;
        const double f = double(gain) * double(hundredth);
        for (int x = 0; x < w; ++x)
            for (int y = 0; y < h; ++y) {
                const QRgb p = display.pixel(x, y);
                const int r = int(qRed(p) * f);
                const int g = int(qGreen(p) * f);
                const int b = int(qBlue(p) * f);
                display.setPixel(x, y, qRgb(clampComponent(r), clampComponent(g), clampComponent(b)));
            }
    }
    if (filter >= 1 && filter <= 3) {
        for (int x = 0; x < w; ++x)
            for (int y = 0; y < h; ++y) {
                const QRgb p = display.pixel(x, y);
                int r = qRed(p), g = qGreen(p), b = qBlue(p);
                if (filter != 1)
                    r = int(r * 0.8);
                if (filter != 2)
                    g = int(g * 0.8);
                if (filter != 3)
                    b = int(b * 0.8);
                display.setPixel(x, y, qRgb(r, g, b));
            }
    }
    if (invert) {
        for (int x = 0; x < w; ++x)
            for (int y = 0; y < h; ++y) {
                const QRgb p = display.pixel(x, y);
                display.setPixel(x, y, qRgb(255 - qRed(p), 255 - qGreen(p), 255 - qBlue(p)));
            }
    }
}
