#pragma once

#include <QPainter>

// Outlines that cover exactly w x h pixels with a 1-pixel pen (QPainter's own outlines cover
// one pixel more in each direction). A negative size extends the box to the left or upwards
// of (x, y); an empty box draws nothing.
namespace Outline {
namespace detail {
inline bool normalise(int& x, int& y, int& w, int& h)
{
    if (w < 0) { x += w; w = -w; }
    if (h < 0) { y += h; h = -h; }
    return w != 0 && h != 0;
}
}
inline void rect(QPainter& p, int x, int y, int w, int h)
{
    if (detail::normalise(x, y, w, h))
        p.drawRect(x, y, w - 1, h - 1);
}
inline void ellipse(QPainter& p, int x, int y, int w, int h)
{
    if (detail::normalise(x, y, w, h))
        p.drawEllipse(x, y, w - 1, h - 1);
}
}
