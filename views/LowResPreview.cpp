#include "LowResPreview.h"

#include "MyHTTP.h"
#include "Outline.h"
#include "StagePixel.h"
#include "Url.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

LowResPreview::LowResPreview(QWidget* parent, const char* name) : QWidget(parent)
{
    if (name)
        setObjectName(QString::fromLatin1(name));
    connect(&jpeg, &MyWebJPEG::newImageAvailable, this, &LowResPreview::loadImage);
    // Runs after the fetcher has handed on the reply.
    connect(jpeg.request(), qOverload<>(&MyHTTP::done), this, &LowResPreview::overviewRequestDone);
    connect(&jpeg, &MyWebJPEG::decoding, this, &LowResPreview::overviewDecoding);
    physical = pixelToPhysical(QPoint(width() / 2, height() / 2));
    destination = physical;
    // Every paint covers the whole widget, so nothing behind it is painted first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void LowResPreview::setServer(QString hostName)
{
    host = hostName;
    server = QStringLiteral("http://") + hostName;
}

void LowResPreview::slideChange(QString& slide)
{
    slideChange(slide.toUtf8());
}

void LowResPreview::slideChange(const QByteArray& wireSlide)
{
    slideWireName = wireSlide;
    overview.advance();
    requestOverview();
}

void LowResPreview::requestOverview()
{
    if (jpeg.request()->isBusy())
        return;
    overview.sent();
    jpeg.setURL(Url(host).raw(QStringLiteral("/small_slides/")).value(slideWireName).str());
    jpeg.get();
}

void LowResPreview::overviewRequestDone()
{
    if (overview.stale())
        requestOverview();
}

void LowResPreview::overviewDecoding()
{
    // An overview of the current slide is on its way: a large one shown now is let go of
    // before the next is decoded (what is shown stays), so that two are never held at once.
    constexpr qsizetype LargeOverview = qsizetype(16) << 20;
    if (!overview.stale() && image.sizeInBytes() > LargeOverview)
        image = QImage();
}

void LowResPreview::loadImage(QImage& img)
{
    // No picture, or the overview of a slide no longer chosen: keep what is shown.
    if (img.isNull() || overview.stale())
        return;
    image = img;
    redraw();
}

void LowResPreview::setPhysical(CoordinateTriple& t)
{
    // Only the stage marker moves: where it was and where it is are painted at once.
    const QRect before = stageMarker();
    physical = t;
    repaint(QRegion(before) + stageMarker());
}

QRect LowResPreview::stageMarker() const
{
    const QPoint at = physicalToPixel(physical);
    return QRect(at.x() - 7, at.y() - 5, 15, 10);
}

void LowResPreview::setDestination(CoordinateTriple& t)
{
    destination = t;
    redraw();
}

QPoint LowResPreview::physicalToPixel(const CoordinateTriple& t) const
{
    const double px = width() * 0.013215276860050218 * (double(t.x) * 0.0001);
    const double py = height() * 0.01987083954297069 * (double(t.y) * 0.0001);
    return QPoint(StagePixel::clamp(px), StagePixel::clamp(py));
}

CoordinateTriple LowResPreview::pixelToPhysical(const QPoint& p) const
{
    // An empty widget maps as if it were one pixel wide or high, never dividing by zero.
    const int w = std::max(width(), 1);
    const int h = std::max(height(), 1);
    CoordinateTriple t;
    t.x = float(SlideWidthMm / w * p.x() * 10000);
    t.y = float(SlideHeightMm / h * p.y() * 10000);
    t.z = 0;
    return t;
}

void LowResPreview::redraw()
{
    repaint();
}

void LowResPreview::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    if (!image.isNull()) {
        const qreal dpr = devicePixelRatioF();
        const QSize pixels = (QSizeF(size()) * dpr).toSize();
        if (scaled.isNull() || scaledKey != image.cacheKey() || scaled.size() != pixels) {
            scaled = QPixmap::fromImage(image.scaled(pixels, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
            scaled.setDevicePixelRatio(dpr);
            scaledKey = image.cacheKey();
        }
        p.drawPixmap(0, 0, scaled);
    } else if (!scaled.isNull()) {
        p.drawPixmap(rect(), scaled);
    } else {
        p.fillRect(rect(), palette().window());
    }
    p.setBrush(Qt::NoBrush);
    p.setPen(Qt::red);
    const QRect marker = stageMarker();
    Outline::rect(p, marker.x(), marker.y(), marker.width(), marker.height());
    p.setPen(Qt::green);
    const QPoint to = physicalToPixel(destination);
    Outline::ellipse(p, to.x() - 16, to.y() - 16, 32, 32);
}

void LowResPreview::mousePressEvent(QMouseEvent* e)
{
    destination = pixelToPhysical(e->position().toPoint());
    redraw();
    emit destinationChanged(destination);
}

void LowResPreview::mouseMoveEvent(QMouseEvent* e)
{
    mousePressEvent(e);
}
