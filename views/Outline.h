#pragma once

#include <QPainter>

// Outlines that cover exactly w x h pixels with a 1-pixel pen (QPainter's own outlines cover
// one pixel more in each direction).
namespace Outline {
inline void rect(QPainter& p, int x, int y, int w, int h)
{
    p.drawRect(x, y, w - 1, h - 1);
}
inline void ellipse(QPainter& p, int x, int y, int w, int h)
{
    p.drawEllipse(x, y, w - 1, h - 1);
}
}
