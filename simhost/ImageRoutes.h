#pragma once

#include "World.h"

#include <QByteArray>
#include <QImage>
#include <QRect>

// Picture helpers behind the image routes, open to tests and benchmarks.
namespace ImageRoutes {
// JPEG bytes of an image.
QByteArray jpeg(const QImage& image, int quality = 85);
// The overview (whole = false) or whole-slide JPEG of a slide, rendered once per process.
QByteArray slideFile(const SlideWorld& slide, bool whole);
// The whole-slide JPEG as a client decodes it, RGB32; kept for a few slides at a time.
QImage wholeSlidePicture(const SlideWorld& slide);
// The video frame of a microscope at a size code (1..4, else 1): its field at the stage
// position on its mounted slide, blurred by the distance from focus. With `inset`, only the
// 168 x 140 part at inset's top-left (moved inside the frame). Null for an unknown microscope.
QImage videoFrame(const World& w, const QString& scope, int sizeCode, const QRect* inset = nullptr);
}
