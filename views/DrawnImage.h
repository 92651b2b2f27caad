#pragma once

#include <QImage>
#include <QList>
#include <QSize>

class QPainter;
class QRect;

// What a view keeps of a picture that it shows scaled to its own size: the picture drawn once
// at that size, in the device pixels of the view's screen (`ratio` of them per pixel of `size`),
// with the painter call that would draw it on the view, so that the kept image drawn unscaled
// gives the same pixels. It is drawn without smoothing: each pixel kept is one of the picture's
// (the neighbour tile relies on that). A picture of that size is kept as it is (shared).
namespace DrawnImage {
QImage atSize(const QImage& picture, const QSize& size, qreal ratio);

// The same for every other device pixel ratio among the screens, so that a view moved to a
// screen of another ratio draws the picture as it would be drawn there. Empty when all screens
// have `ratio`.
QList<QImage> atOtherRatios(const QImage& picture, const QSize& size, qreal ratio);

// Draws over `target` the kept image (`kept` or one of `others`) of the painter's device pixel
// ratio, or the finest one if none has it; scaled only if the view's size has changed since.
void draw(QPainter& p, const QRect& target, const QImage& kept, const QList<QImage>& others = {});
}
