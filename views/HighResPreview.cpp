#include "HighResPreview.h"
#include "Alerts.h"
#include "FiducialFile.h"
#include "HostBytes.h"
#include "Outline.h"
#include "PointList.h"
#include "StagePixel.h"
#include "Url.h"

#include <QDebug>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <utility>
#include <vector>

namespace {

// A double narrowed to float without leaving float's range.
float narrow(double v)
{
    if (v > double(FLT_MAX))
        return FLT_MAX;
    if (v < -double(FLT_MAX))
        return -FLT_MAX;
    return float(v);
}

// Stage to image pixel without the clamp, with the calibration's trigonometry done once.
struct ImageMapping
{
    explicit ImageMapping(const HighResPreview& v)
        : kx(v.pixelWidth / v.slideWidthMm), ky(v.pixelHeight / v.slideHeightMm), c(std::cos(-v.angle)),
          s(std::sin(-v.angle)), ox(std::trunc(v.originX)), oy(std::trunc(v.originY))
    {
    }

    QPoint pixel(float x, float y) const
    {
        const float sx = narrow(kx * (x * 0.0001));
        const float sy = narrow(ky * (y * 0.0001));
        return QPoint(StagePixel::clamp(std::trunc(c * sx + s * sy) + ox),
                      StagePixel::clamp(std::trunc(c * sy - s * sx) + oy));
    }

    double kx, ky, c, s, ox, oy;
};

} // namespace

HighResPreview::HighResPreview(QWidget* parent, const char* name) : QWidget(parent)
{
    if (name)
        setObjectName(QString::fromLatin1(name));
    jpeg.setMode(0);
    connect(&jpeg, &MyWebJPEG::newPixmapAvailable, this, &HighResPreview::loadPixmap);
    connect(&newFiducials, qOverload<>(&MyHTTP::done), this, &HighResPreview::loadStatus);
    connect(&oldFiducials, qOverload<>(&MyHTTP::done), this, &HighResPreview::loadFiducials);
    connect(&counts1, qOverload<>(&MyHTTP::done), this, &HighResPreview::markUpPixmap);
    connect(&counts2, qOverload<>(&MyHTTP::done), this, &HighResPreview::markUpPixmap);
    location = pixelToPhysical(QPoint(1530, 1018));
    redraw();
}

HighResPreview::~HighResPreview() = default;

void HighResPreview::setServer(QString hostName)
{
    host = hostName;
    server = QStringLiteral("http://") + hostName;
}

void HighResPreview::slideChange(QString& slide)
{
    slideChange(slide.toUtf8());
}

void HighResPreview::slideChange(const QByteArray& wireSlide)
{
    slideWireName = wireSlide;
    slideName = HostBytes::shown(wireSlide);
    // Nothing of the previous slide stays on view: placed by this slide's calibration its
    // picture, dots and marks would show the wrong places, and its tissue would be tested for
    // this slide's jobs. Its point lists, read or on their way, are not drawn either.
    dropPicture();
    haveLists = false;
    lists.advance();
    slideImageIn = false;
    requestImage();
    requestFiducials();
    redraw();
}

void HighResPreview::requestImage()
{
    // A picture still on its way, perhaps never to come, gives way to this one, as the
    // calibration does.
    jpeg.request()->abandon();
    jpeg.setURL(Url(host).raw(QStringLiteral("/whole_slides/")).value(slideWireName).str());
    jpeg.get();
}

void HighResPreview::requestFiducials()
{
    calibrationCurrent = false;
    // A calibration still on its way, perhaps never to come, gives way to this one: the
    // picture waits for the calibration asked for last.
    newFiducials.abandon();
    oldFiducials.abandon();
    fiducialSlide = slideWireName;
    newFiducials.setUrl(Url(host)
                            .raw(QStringLiteral("/fiducials/"))
                            .value(slideWireName)
                            .raw(QStringLiteral("."))
                            .value(fiducialTag)
                            .raw(QStringLiteral(".new")));
    newFiducials.fetch();
}

void HighResPreview::loadStatus()
{
    if (newFiducials.succeeded()) {
        haveNewFiducials = true;
        loadFiducials();
        return;
    }
    haveNewFiducials = false;
    qDebug("Failed to get new fiducials.");
    const QString url = Url(host).raw(QStringLiteral("/fiducials/")).value(fiducialSlide);
    qDebug().noquote() << url;
    oldFiducials.setUrl(url);
    oldFiducials.fetch();
}

void HighResPreview::loadFiducials()
{
    MyHTTP* source = nullptr;
    if (haveNewFiducials && newFiducials.succeeded())
        source = &newFiducials;
    else if (!haveNewFiducials && oldFiducials.succeeded())
        source = &oldFiducials;
    const std::optional<FiducialFile> file =
        source ? FiducialFile::read(source->data(), source->length()) : std::nullopt;
    if (file) {
        useCalibration(*file);
    } else {
        qDebug("Failed to get old fiducials.");
        useFallbackCalibration();
    }
    calibrationCurrent = true;
    // A picture of this slide that came first is shown now, with its own calibration.
    if (!arrived.isNull())
        showArrived();
    // The view is centred by the calibration in force: show it now.
    if (haveLists && !dotsDrawn)
        drawLists();
    else
        redraw();
}

void HighResPreview::useFallbackCalibration()
{
    pixelWidth = ImageWidth;
    slideWidthMm = 75.67f;
    pixelHeight = ImageHeight;
    slideHeightMm = 50.325f;
    angle = 0;
    originX = 0;
    originY = 0;
}

void HighResPreview::useCalibration(const FiducialFile& f)
{
    fiducialTopLeft = f.topLeft;
    fiducialTopRight = f.topRight;
    fiducialBottomLeft = f.bottomLeft;
    fiducialBottomRight = f.bottomRight;
    slideWidthMm = f.widthMm;
    slideHeightMm = f.heightMm;
    pixelWidth = f.pixelWidth;
    pixelHeight = f.pixelHeight;
    originX = f.topLeft.x();
    originY = f.topLeft.y();
    angle = f.angle;
}

QPoint HighResPreview::physicalToImagePixel(const CoordinateTriple& t) const
{
    return ImageMapping(*this).pixel(t.x, t.y);
}

QPoint HighResPreview::physicalToPixel(const CoordinateTriple& t)
{
    QPoint p = physicalToImagePixel(t);
    const int halfW = width() / 2;
    const int halfH = height() / 2;
    if (p.x() < halfW)
        p.setX(halfW);
    if (p.y() < halfH)
        p.setY(halfH);
    if (p.x() > ImageWidth - halfW)
        p.setX(ImageWidth - halfW);
    if (p.y() > ImageHeight - halfH)
        p.setY(ImageHeight - halfH);
    return p;
}

CoordinateTriple HighResPreview::pixelToPhysical(const QPoint& p) const
{
    const float dx = narrow(p.x() - originX);
    const float dy = narrow(p.y() - originY);
    const float rx = narrow(std::cos(angle) * dx + std::sin(angle) * dy);
    const double ry = std::cos(angle) * dy - std::sin(angle) * dx;
    CoordinateTriple t;
    t.x = narrow(slideWidthMm / pixelWidth * rx * 10000);
    t.y = narrow(slideHeightMm / pixelHeight * ry * 10000);
    t.z = 0;
    return t;
}

void HighResPreview::loadPixmap(QPixmap& pm)
{
    // A picture that did not decode is not shown.
    if (pm.isNull())
        return;
    slideImageIn = true;
    haveLists = false;
    dotsDrawn = false;
    lists.advance();
    requestLists();
    // Shown once the slide's own calibration is in force, never under another slide's.
    arrived = pm;
    if (calibrationCurrent) {
        showArrived();
        redraw();
    }
}

void HighResPreview::showArrived()
{
    QPixmap picture = std::exchange(arrived, QPixmap());
    dropPicture();
    backup = std::move(picture);
    pixmap = backup;
}

void HighResPreview::dropPicture()
{
    slideImage = QImage();
    pixmap = QPixmap();
    backup = QPixmap();
    arrived = QPixmap();
    list1.clear();
    list2.clear();
}

void HighResPreview::requestLists()
{
    if (!slideListMode && !jobListMode)
        return;
    // Lists still running for an earlier image are sent again once both are back.
    if (counts1.isBusy() || counts2.isBusy())
        return;
    if (slideListMode) {
        counts1.setUrl(Url(host).raw(QStringLiteral("/cgi-bin/icount?f=sl&s=")).value(slideWireName));
        counts2.setUrl(Url(host)
                           .raw(QStringLiteral("/cgi-bin/icount?f=sbl&s="))
                           .value(slideWireName)
                           .raw(QStringLiteral("&c=2")));
    } else {
        counts1.setUrl(Url(host)
                           .raw(QStringLiteral("/cgi-bin/icount?f=jl&j="))
                           .value(jobId)
                           .raw(QStringLiteral("&c=1")));
        counts2.setUrl(Url(host)
                           .raw(QStringLiteral("/cgi-bin/icount?f=sbl&s="))
                           .value(jobId)
                           .raw(QStringLiteral("&c=1")));
    }
    // A job's dots belong on its own slide only; its lists are asked for all the same.
    listsOfSlide = slideListMode || (!jobSlide.isEmpty() && jobSlide == slideWireName);
    lists.sent();
    listsPending = true;
    counts1.fetch();
    counts2.fetch();
}

void HighResPreview::markUpPixmap()
{
    if (counts1.isBusy() || counts2.isBusy() || !listsPending)
        return;
    listsPending = false;
    if (lists.stale()) {
        if (slideImageIn)
            requestLists();
        return;
    }
    if (!counts1.succeeded() || !counts2.succeeded() || !listsOfSlide)
        return;
    haveLists = true;
    drawLists();
}

namespace {

// The dots of one list that touch an image of w x h pixels (a dot covers 2 x 2 pixels from its
// point on), each pixel once, in reply order.
QVector<QPoint> dotsOnImage(MyHTTP& reply, const ImageMapping& mapping, int w, int h)
{
    QVector<QPoint> dots;
    const qsizetype stride = qsizetype(w) + 1;
    std::vector<bool> seen(size_t(stride * (qsizetype(h) + 1)));
    PointList list(reply.data(), reply.length());
    float x = 0, y = 0;
    while (list.next(x, y)) {
        const QPoint p = mapping.pixel(x, y);
        if (p.x() < -1 || p.x() >= w || p.y() < -1 || p.y() >= h)
            continue;
        const size_t bit = size_t(qsizetype(p.y() + 1) * stride + p.x() + 1);
        if (seen[bit])
            continue;
        seen[bit] = true;
        dots.append(p);
    }
    return dots;
}

// 2 x 2 dots of one colour, as a one-pixel pen draws ellipses in boxes of 2 x 2: written
// straight into a 32-bit picture, or painted point by point in batches into any other.
void drawDots(QImage& img, const QVector<QPoint>& dots, const QColor& colour)
{
    const QImage::Format f = img.format();
    if (f == QImage::Format_RGB32 || f == QImage::Format_ARGB32 || f == QImage::Format_ARGB32_Premultiplied) {
        const QRgb c = colour.rgba();
        const int w = img.width(), h = img.height();
        uchar* bits = img.bits();
        const qsizetype bpl = img.bytesPerLine();
        for (const QPoint& p : dots)
            for (int dy = 0; dy < 2; ++dy) {
                const int y = p.y() + dy;
                if (y < 0 || y >= h)
                    continue;
                auto* line = reinterpret_cast<QRgb*>(bits + y * bpl);
                for (int dx = 0; dx < 2; ++dx)
                    if (const int x = p.x() + dx; x >= 0 && x < w)
                        line[x] = c;
            }
        return;
    }
    QPainter painter(&img);
    painter.setPen(colour);
    QVector<QPoint> batch;
    batch.reserve(4096);
    for (const QPoint& p : dots) {
        batch << p << p + QPoint(1, 0) << p + QPoint(0, 1) << p + QPoint(1, 1);
        if (batch.size() >= 4096) {
            painter.drawPoints(batch.constData(), int(batch.size()));
            batch.clear();
        }
    }
    painter.drawPoints(batch.constData(), int(batch.size()));
}

} // namespace

void HighResPreview::drawLists()
{
    if (!haveLists || !calibrationCurrent || dotsDrawn)
        return;
    dotsDrawn = true;
    const ImageMapping mapping(*this);
    const int w = backup.isNull() ? ImageWidth : backup.width();
    const int h = backup.isNull() ? ImageHeight : backup.height();
    list1 = dotsOnImage(counts1, mapping, w, h);
    list2 = dotsOnImage(counts2, mapping, w, h);
    if (!backup.isNull()) {
        // The dots go into backup's own pixels: nothing else may share them meanwhile, or
        // they would be copied.
        slideImage = QImage();
        pixmap = QPixmap();
        QImage img = backup.toImage();
        backup = QPixmap();
        drawDots(img, list1, Qt::red);
        drawDots(img, list2, Qt::green);
        backup = QPixmap::fromImage(std::move(img));
        pixmap = backup;
    }
    redraw();
}

void HighResPreview::detachOverlay()
{
    // Painting on a pixmap whose pixels backup (and slideImage through it) share would copy
    // them once for each sharer; a copy of its own is one copy.
    if (!pixmap.isNull() && pixmap.cacheKey() == backup.cacheKey())
        pixmap = backup.copy();
}

void HighResPreview::markPoint(float x, float y)
{
    const QPoint p = physicalToImagePixel(CoordinateTriple(x, y, 0));
    if (!pixmap.isNull()) {
        detachOverlay();
        QPainter painter(&pixmap);
        painter.setPen(Qt::red);
        Outline::ellipse(painter, p.x(), p.y(), 2, 2);
    }
    redraw();
}

void HighResPreview::setLocation(CoordinateTriple& t)
{
    location = t;
    redraw();
}

void HighResPreview::redraw()
{
    repaint();
}

void HighResPreview::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    const int w = width();
    const int h = height();
    const QPoint c = physicalToPixel(location);
    if (!pixmap.isNull())
        p.drawPixmap(QPoint(0, 0), pixmap, QRect(c.x() - w / 2, c.y() - h / 2, w, h));
    p.setPen(Qt::green);
    Outline::ellipse(p, w / 2 - 5, h / 2 - 5, 10, 10);
    if (showSelection) {
        p.setPen(Qt::blue);
        const int dx = selB.x() - selA.x();
        const int dy = selB.y() - selA.y();
        Outline::rect(p, w / 2 - dx / 2, h / 2 - dy / 2, dx, dy);
    }
}

void HighResPreview::mousePressEvent(QMouseEvent* e)
{
    pressPos = e->position().toPoint();
    pressPixel = physicalToPixel(location);
}

void HighResPreview::mouseMoveEvent(QMouseEvent* e)
{
    const QPoint pos = e->position().toPoint();
    const QPoint p(pressPixel.x() + (pos.x() - pressPos.x()) * 2,
                   pressPixel.y() + (pos.y() - pressPos.y()) * 2);
    location = pixelToPhysical(p);
    emit locationChanged(location);
    redraw();
}

void HighResPreview::mouseReleaseEvent(QMouseEvent*)
{
}

namespace {

// A slide pixel is blank (not tissue) when its mean component is above 225.
bool isBlank(QRgb c)
{
    const int sum = qRed(c) + qGreen(c) + qBlue(c);
    return sum * 0.3333333333333333 > 225.0;
}

// The first of start, start + step, ... that is not below `low` (step > 0).
qint64 firstFrom(qint64 start, qint64 step, qint64 low)
{
    if (start >= low)
        return start;
    return start + (low - start + step - 1) / step * step;
}

} // namespace

void HighResPreview::setCorner1(CoordinateTriple t)
{
    corner1 = t;
    corner1.x = t.x * 10000.0f;
    corner1.y = t.y * 10000.0f;
    corner1Set = true;
    updateSelection();
}

void HighResPreview::setCorner2(CoordinateTriple t)
{
    corner2 = t;
    corner2.x = t.x * 10000.0f;
    corner2.y = t.y * 10000.0f;
    corner2Set = true;
    updateSelection();
}

void HighResPreview::setLinearDensity(int d)
{
    linearDensity = d;
}

void HighResPreview::updateSelection()
{
    if (!(corner1Set && corner2Set)) {
        if (!pixmap.isNull() && (corner1Set || corner2Set)) {
            detachOverlay();
            QPainter p(&pixmap);
            p.setPen(Qt::magenta);
            if (corner1Set)
                p.drawText(physicalToImagePixel(corner1), QStringLiteral("TL"));
            if (corner2Set)
                p.drawText(physicalToImagePixel(corner2), QStringLiteral("BR"));
        }
        redraw();
        return;
    }

    pixmap = backup;
    const QPoint a = physicalToImagePixel(corner1);
    const QPoint b = physicalToImagePixel(corner2);
    if (a == b)
        return;
    if (!pixmap.isNull()) {
        detachOverlay();
        QPainter p(&pixmap);
        p.setPen(Qt::magenta);
        p.drawText(a, QStringLiteral("TL"));
        p.drawText(b, QStringLiteral("BR"));
        p.setPen(Qt::black);
        Outline::rect(p, a.x(), a.y(), b.x() - a.x(), b.y() - a.y());

        // Pixels per mm over samples per mm; no dots closer than a pixel, and none for a
        // rectangle without extent or density.
        const double dx = double(corner2.x) - double(corner1.x);
        const double dy = double(corner2.y) - double(corner1.y);
        if (dx != 0 && dy != 0 && linearDensity != 0) {
            const double stepX = std::trunc((b.x() - a.x()) / (dx * 0.0001) / linearDensity);
            const double stepY = std::trunc((b.y() - a.y()) / (dy * 0.0001) / linearDensity);
            if (stepX >= 1 && stepY >= 1) {
                // Only the dots that reach the image are drawn; a 3 x 3 dot at x covers x to x + 2.
                const qint64 sx = qint64(std::min(stepX, 1e7));
                const qint64 sy = qint64(std::min(stepY, 1e7));
                const qint64 xEnd = std::min<qint64>(b.x() - 2, pixmap.width());
                const qint64 yEnd = std::min<qint64>(b.y() - 2, pixmap.height());
                p.setPen(Qt::yellow);
                for (qint64 x = firstFrom(a.x(), sx, -2); x < xEnd; x += sx)
                    for (qint64 y = firstFrom(a.y(), sy, -2); y < yEnd; y += sy)
                        Outline::ellipse(p, int(x), int(y), 3, 3);
            }
        }
    }
    redraw();
}

void HighResPreview::setSelection(float x1, float y1, float x2, float y2)
{
    selA = physicalToImagePixel(CoordinateTriple(x1, y1, 0));
    selB = physicalToImagePixel(CoordinateTriple(x2, y2, 0));
    showSelection = true;
}

bool HighResPreview::hasTissue(CoordinateTriple t) const
{
    const QPoint p = physicalToImagePixel(t);
    if (!slideImage.valid(p))
        return true;
    return !isBlank(slideImage.pixel(p));
}

QString HighResPreview::jobPointsMessage(JobPoints result) const
{
    QString text = jobPointsProblem(result);
    if (result == JobPoints::NotWritten && !jobFilesFailure.isEmpty())
        text += QLatin1Char('\n') + jobFilesFailure;
    return text;
}

HighResPreview::JobPoints HighResPreview::buildJobPoints(CoordinateTriple c1, CoordinateTriple c2, int density,
                                                         QString login, QString jobName, QString strain,
                                                         QString& good, QString& bad)
{
    // The tissue test sees the point-list dots, not the overlays; a refused job leaves the
    // view showing the same.
    pixmap = backup;
    jobFilesFailure.clear();
    const auto refuse = [this](JobPoints why) {
        redraw();
        return why;
    };
    if (density < 1)
        return refuse(JobPoints::NoGrid);
    // The grid in stage units: starts stored as floats, ends and step in double.
    const double x0 = double(c1.x) * 10000.0;
    const double y0 = double(c1.y) * 10000.0;
    const double xEnd = double(c2.x) * 10000.0;
    const double yEnd = double(c2.y) * 10000.0;
    const double step = 10000.0 / density;
    const bool startsFit = std::fabs(x0) <= double(FLT_MAX) && std::fabs(y0) <= double(FLT_MAX);
    if (startsFit && x0 < xEnd && y0 < yEnd) {
        const double pointsAtMost = (std::floor((xEnd - x0) / step) + 2) * (std::floor((yEnd - y0) / step) + 2);
        if (!(pointsAtMost <= MaxJobPoints))
            return refuse(JobPoints::TooMany);
    }

    std::optional<JobPointFiles> files;
    if (login == QLatin1String("library")) {
        files.emplace(jobFilesDir, jobName, strain, login, slideName);
        if (const std::optional<JobPoints> problem = files->check())
            return refuse(*problem);
    }

    slideImage = pixmap.toImage().convertToFormat(QImage::Format_RGB32);
    const ImageMapping mapping(*this);
    const uchar* bits = slideImage.constBits();
    const qsizetype bytesPerLine = slideImage.bytesPerLine();
    const uint width = uint(slideImage.width());
    const uint height = uint(slideImage.height());
    auto tissue = [&](float x, float y) {
        const QPoint p = mapping.pixel(x, y);
        if (uint(p.x()) >= width || uint(p.y()) >= height)
            return true;
        return !isBlank(reinterpret_cast<const QRgb*>(bits + p.y() * bytesPerLine)[p.x()]);
    };

    QByteArray tissueText;
    QByteArray blankText;
    auto record = [&](float x, float y) {
        const bool isTissue = tissue(x, y);
        if (files)
            files->add(isTissue, x, y);
        else
            JobPointFiles::appendListed(isTissue ? tissueText : blankText, x, y);
    };

    // Column by column; every sum is stored as a float, and tested in double before that.
    // A sum that no longer moves the float ends the walk.
    if (startsFit) {
        for (double xs = float(x0); xs < xEnd;) {
            const float x = narrow(xs);
            for (double ys = float(y0); ys < yEnd;) {
                const float y = narrow(ys);
                record(x, y);
                ys = y + step;
                if (narrow(ys) == y)
                    break;
            }
            xs = x + step;
            if (narrow(xs) == x)
                break;
        }
    }

    if (!files) {
        good += QString::fromLatin1(tissueText);
        bad += QString::fromLatin1(blankText);
        return JobPoints::Listed;
    }
    if (!files->write(&jobFilesFailure))
        return refuse(JobPoints::NotWritten);
    Alerts::information(this, QStringLiteral("Job waiting."),
                        QStringLiteral("You may receive an email for your job information as soon as your job is complete."));
    return JobPoints::Written;
}
