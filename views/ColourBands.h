#pragma once

#include <QImage>
#include <array>

// Per-component intensity bands of a frame, for contrast expansion.
struct ColourBands
{
    // Component order: 0 red, 1 green, 2 blue.
    std::array<int, 3> lower{{0, 0, 0}};
    std::array<int, 3> upper{{0, 0, 0}};
    std::array<int, 3> width{{1, 1, 1}};

    // 256-bin histograms of a frame, counted over all of its pixels as 32-bit RGB.
    using Histograms = std::array<std::array<int, 256>, 3>;
    static Histograms histograms(const QImage& img);

    // Bands from histograms: the smallest and largest bin of 1..255 whose count exceeds 50
    // (0 when none; bin 0 never counts), the width their difference, or 1 when that is 0.
    static ColourBands fromHistograms(const Histograms& h);
    static ColourBands of(const QImage& img) { return fromHistograms(histograms(img)); }

    // The views keep their bands in nine named fields (minR, maxR, rangeR, ... for G and B).
    template <class Fields>
    void storeIn(Fields& f) const
    {
        f.minR = lower[0]; f.minG = lower[1]; f.minB = lower[2];
        f.maxR = upper[0]; f.maxG = upper[1]; f.maxB = upper[2];
        f.rangeR = width[0]; f.rangeG = width[1]; f.rangeB = width[2];
    }
    template <class Fields>
    static ColourBands in(const Fields& f)
    {
        ColourBands b;
        b.lower = {{f.minR, f.minG, f.minB}};
        b.upper = {{f.maxR, f.maxG, f.maxB}};
        b.width = {{f.rangeR, f.rangeG, f.rangeB}};
        return b;
    }

    // Contrast expansion: (c - lower) * 255 / width in integer arithmetic, truncated toward
    // zero, clamped to 0..255.
    int expand(int component, int c) const
    {
        const int v = (c - lower[component]) * 255 / width[component];
        return v < 0 ? 0 : (v > 255 ? 255 : v);
    }
};
