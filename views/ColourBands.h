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

    // 256-bin histograms of a 32-bit RGB frame.
    using Histograms = std::array<std::array<int, 256>, 3>;
    static Histograms histograms(const QImage& rgb32);

    // Bands from histograms: the smallest and largest bin of 1..255 whose count exceeds 50.
    static ColourBands fromHistograms(const Histograms& h);
    static ColourBands of(const QImage& rgb32) { return fromHistograms(histograms(rgb32)); }

    // (c - lower) * 255 / width in integer arithmetic, clamped to 0..255.
    int expand(int component, int c) const
    {
        const int v = (c - lower[component]) * 255 / width[component];
        return v < 0 ? 0 : (v > 255 ? 255 : v);
    }
};
