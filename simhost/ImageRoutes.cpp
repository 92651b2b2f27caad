// Slide files, video frames and the system information.
//
// Field of view: a frame shows the microscope's whole camera field (World::cameraField, e.g.
// 1254.912 x 941.184 units on "tall") at every size code; a larger code samples the same field
// more finely. So neighbour tiles one field apart meet at any size, and "f=d" reports the
// micrometres per pixel of the 640 x 480 frame (field / 640, field / 480); a frame of width W
// has pixels of 640 / W of that.
#include "ImageRoutes.h"
#include "SimHost.h"

#include <QBuffer>
#include <QImageWriter>
#include <QMutex>
#include <cmath>

QByteArray ImageRoutes::jpeg(const QImage& image, int quality)
{
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    writer.write(image);
    return out;
}

QByteArray ImageRoutes::slideFile(const SlideWorld& slide, bool whole)
{
    // Pictures depend on the slide name alone, so one copy serves every host in the process.
    static QMutex lock;
    static QHash<QString, QByteArray> cache;
    const QString key = (whole ? QLatin1String("whole:") : QLatin1String("small:")) + slide.name();
    {
        QMutexLocker hold(&lock);
        if (const auto it = cache.constFind(key); it != cache.constEnd())
            return *it;
    }
    const QByteArray bytes = jpeg(whole ? slide.wholeSlide() : slide.overview());
    QMutexLocker hold(&lock);
    if (cache.size() >= 64)
        cache.clear();
    cache.insert(key, bytes);
    return bytes;
}

QImage ImageRoutes::wholeSlidePicture(const SlideWorld& slide)
{
    static QMutex lock;
    static QHash<QString, QImage> cache;
    {
        QMutexLocker hold(&lock);
        if (const auto it = cache.constFind(slide.name()); it != cache.constEnd())
            return *it;
    }
    const QImage picture = QImage::fromData(slideFile(slide, true), "JPEG").convertToFormat(QImage::Format_RGB32);
    QMutexLocker hold(&lock);
    if (cache.size() >= 4)
        cache.clear();
    cache.insert(slide.name(), picture);
    return picture;
}

QImage ImageRoutes::videoFrame(const World& w, const QString& scopeName, int sizeCode, const QRect* inset)
{
    const SimScope* scope = nullptr;
    for (const SimScope& s : w.scopes)
        if (s.name == scopeName)
            scope = &s;
    if (!scope)
        return QImage();
    const QString slideName = w.mountedSlide(scopeName);
    const auto slide = w.slide(slideName);
    if (!slide)
        return QImage();
    const QSize size = SlideGeometry::videoSize(sizeCode);
    QRect crop(QPoint(0, 0), size);
    if (inset) {
        // The inset's top-left in frame pixels, moved inside the frame.
        const int x = qBound(0, inset->x(), size.width() - SlideGeometry::kInsetWidth);
        const int y = qBound(0, inset->y(), size.height() - SlideGeometry::kInsetHeight);
        crop = QRect(x, y, SlideGeometry::kInsetWidth, SlideGeometry::kInsetHeight);
    }
    const SimStage::Position at = w.stagePosition(scopeName);
    const QPointF centre = w.slidePoint(scopeName, slideName, {at.x, at.y});
    const QPointF field = w.cameraField(scopeName);
    const double blur = w.blurUm(scopeName, at.z, slide->focusAt(centre.x(), centre.y()));
    return slide->frame(centre, field.x(), field.y(), size, crop, blur);
}

void addImageRoutes(SimHost& host)
{
    World& w = host.world();

    host.addRoute(QStringLiteral("/small_slides/"), [&w](const HostRequest& r) {
        const auto slide = w.slide(r.rest);
        return slide ? HostReply::jpeg(ImageRoutes::slideFile(*slide, false)) : HostReply::notFound();
    });

    host.addRoute(QStringLiteral("/whole_slides/"), [&w](const HostRequest& r) {
        const auto slide = w.slide(r.rest);
        return slide ? HostReply::jpeg(ImageRoutes::slideFile(*slide, true)) : HostReply::notFound();
    });

    // "<slide>" is the base file of every slide; "<slide>.<scope>.new" exists only where the
    // world holds a corrected calibration.
    host.addRoute(QStringLiteral("/fiducials/"), [&w](const HostRequest& r) {
        const QString name = r.rest;
        if (name.endsWith(QLatin1String(".new"))) {
            const auto it = w.correctedFiducials.constFind(name.chopped(4));
            return it == w.correctedFiducials.constEnd() ? HostReply::notFound() : HostReply::text(it->text());
        }
        const auto slide = w.slide(name);
        return slide ? HostReply::text(slide->fiducials().text()) : HostReply::notFound();
    });

    // "f=ca&xc=<dx>&yc=<dy>&l=<login>&sli=<slide>&sc=<scope>" on "/cgi-bin/icount": the
    // whole-pixel offset added to the marks of the slide's calibration on that microscope, kept
    // as "<slide>.<scope>.new". "-N" without fiducials for the slide (or no such microscope),
    // "-E" for an offset that is no number or reaches beyond the picture.
    host.addRoute(QStringLiteral("icount:ca"), [&w](const HostRequest& r) {
        bool okX = false, okY = false;
        const double dx = r.value(QStringLiteral("xc")).toDouble(&okX);
        const double dy = r.value(QStringLiteral("yc")).toDouble(&okY);
        if (!okX || !okY || !(std::abs(dx) <= SlideGeometry::kWholeWidth) || !(std::abs(dy) <= SlideGeometry::kWholeHeight))
            return HostReply::text("-E");
        const QPoint offset(int(std::lround(dx)), int(std::lround(dy)));
        return HostReply::text(w.correctCalibration(r.value(QStringLiteral("sli")), r.value(QStringLiteral("sc")), offset)
                                   ? "+OK" : "-N");
    });

    // "f=p&ps=<n>", optionally "&x=<fx>&y=<fy>&inset=1" for a 168 x 140 part of that frame.
    host.addRoute(QStringLiteral("iserv:p"), [&w](const HostRequest& r) {
        QRect inset;
        const bool isInset = r.value(QStringLiteral("inset")) == QLatin1String("1");
        if (isInset)
            inset = QRect(r.value(QStringLiteral("x")).toInt(), r.value(QStringLiteral("y")).toInt(),
                          SlideGeometry::kInsetWidth, SlideGeometry::kInsetHeight);
        const QImage frame = ImageRoutes::videoFrame(w, r.value(QStringLiteral("s")),
                                                     r.value(QStringLiteral("ps")).toInt(),
                                                     isInset ? &inset : nullptr);
        return frame.isNull() ? HostReply::notFound() : HostReply::jpeg(ImageRoutes::jpeg(frame));
    });

    // "%f %f\n" micrometres per pixel of the 640 x 480 frame, then a few lines about the
    // microscope.
    host.addRoute(QStringLiteral("iserv:d"), [&w](const HostRequest& r) {
        const QString scopeName = r.value(QStringLiteral("s"));
        const SimScope* scope = w.scope(scopeName);
        if (!scope)
            return HostReply::notFound();
        const QPointF field = w.cameraField(scopeName);
        const double mppX = field.x() / 6400.0, mppY = field.y() / 4800.0;
        QByteArray out = QByteArray::number(mppX, 'f', 5) + ' ' + QByteArray::number(mppY, 'f', 5) + '\n';
        out += "Microscope <b>" + scopeName.toUtf8() + "</b> ready.\n";
        out += "Camera field " + QByteArray::number(field.x() / 10.0, 'f', 1) + " x "
               + QByteArray::number(field.y() / 10.0, 'f', 1) + " um at 640 x 480; z range 0 to 3 mm.\n";
        out += "Slide on the stage: " + w.mountedSlide(scopeName).toUtf8() + ".\n";
        return HostReply::text(out);
    });
}
