#pragma once

#include <QImage>
#include <QSize>

class QPainter;
class QRect;

// What a view keeps of a picture that it shows scaled to its own size: the picture drawn once
// at that size, in the device pixels of the view's screen (`ratio` of them per pixel of `size`),
// with the painter call that would draw it on the view, so that the kept image drawn unscaled
// gives the same pixels. A picture of that size is kept as it is (shared).
namespace DrawnImage {
QImage atSize(const QImage& picture, const QSize& size, qreal ratio);

// Draws a kept image over `target`, scaled only if the view's size has changed since.
void draw(QPainter& p, const QRect& target, const QImage& kept);
}
