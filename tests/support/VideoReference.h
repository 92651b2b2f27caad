#pragma once

#include <QImage>

// A literal, pixel-at-a-time model of the video view's processing, through QImage's pixel
// accessors with x outer and y inner, kept as the reference for the fast implementation.
struct ReferenceVideo
{
    int filter = 0;
    int contrastExpansion = 2;
    int channel = 0;
    float gain = 100.0f;
    bool gainEnabled = false;
    bool invert = false;
    int videoWidth = 640;
    int videoHeight = 480;
    bool haveImage = false;

    int minR = 0, maxR = 0, minG = 0, maxG = 0, minB = 0, maxB = 0;
    int rangeR = 1, rangeG = 1, rangeB = 1;

    QImage sourceImage;
    QImage display;

    // A new frame: bands from the histograms, then display = copy of the frame, processed.
    void setImage(const QImage& frame);
    // A control change: display = copy of the source, processed.
    void reprocess();
    // The passes on display, in place.
    void filterOnScreen();
};
