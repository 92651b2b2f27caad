#pragma once

#include "ColourBands.h"

#include <QImage>
#include <QRgb>
#include <array>

// The image-processing passes of the video view, in order:
//   1. contrast expansion and colour channel, clamped (when expansion is on or a channel is chosen)
//   2. gain (when enabled)
//   3. colour filter (1 red, 2 green, 3 blue)
//   4. inversion (when enabled)
// over the region x < videoWidth, y < videoHeight that lies inside the frame. Every pass works on
// one pixel's own components, so the four fold into one lookup table per output component,
// built by running each pass's arithmetic on all 256 values.
struct VideoPassSettings
{
    int filter = 0;
    int contrastExpansion = 2;
    int channel = 0;
    float gain = 100.0f;
    bool gainEnabled = false;
    bool invert = false;
    int videoWidth = 640;
    int videoHeight = 480;
    ColourBands bands;

    bool expansionPass() const { return contrastExpansion != 0 || channel != 0; }
    bool filterPass() const { return filter >= 1 && filter <= 3; }
    bool anyPass() const { return expansionPass() || gainEnabled || filterPass() || invert; }
};

namespace VideoPasses {

// One component value through passes 2, 3 and 4, as each pass computes it.
int gain(int c, float gainPercent);
int filterScale(int c);
inline int invert(int c) { return 255 - c; }

// Output pixel = red[r'] | green[g'] | blue[b'] (alpha 255 included), where r', g', b' are the
// input components the channel choice takes each output component from.
struct Tables
{
    std::array<QRgb, 256> red{};
    std::array<QRgb, 256> green{};
    std::array<QRgb, 256> blue{};
    int source = -1;        // -1: each from its own component; 0, 1, 2: all from red, green, blue
};
Tables tables(const VideoPassSettings& s);

// Applies the passes to `src`, writing `dst`; outside the region `dst` receives `src` unchanged.
// `dst` must have the size of `src`, both 32-bit RGB; they may be the same image (in place).
void apply(const QImage& src, QImage& dst, const VideoPassSettings& s);

// A deep copy's metadata (resolution, offset, colour space, text) from `src` onto `dst`.
void copyMetadata(const QImage& src, QImage& dst);

}
