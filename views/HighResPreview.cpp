#include "HighResPreview.h"
#include "HostBytes.h"
#include "ReplyText.h"
#include "Url.h"

#include <QDebug>
#include <QMouseEvent>
#include <QPainter>

#include <cfloat>
#include <cmath>

namespace {

// Marks further out than this are not image pixels of any slide; they are taken as unreadable.
constexpr qint64 MaxMark = 1000000000;

// Pixel values are kept well inside int before truncation.
constexpr double MaxPixel = 1000000.0;

int toPixel(double v)
{
    if (!(v == v))
        return 0;
    if (v > MaxPixel)
        v = MaxPixel;
    else if (v < -MaxPixel)
        v = -MaxPixel;
    return int(v);
}

// A double narrowed to float without leaving float's range.
float narrow(double v)
{
    if (v > double(FLT_MAX))
        return FLT_MAX;
    if (v < -double(FLT_MAX))
        return -FLT_MAX;
    return float(v);
}

// Qt outlines drawn with a one-pixel pen cover one pixel more in each direction than the box
// they are given; these cover exactly w x h pixels.
void outlineRect(QPainter& p, int x, int y, int w, int h)
{
    if (w < 0) { x += w; w = -w; }
    if (h < 0) { y += h; h = -h; }
    if (w == 0 || h == 0)
        return;
    p.drawRect(x, y, w - 1, h - 1);
}

void outlineEllipse(QPainter& p, int x, int y, int w, int h)
{
    if (w <= 0 || h <= 0)
        return;
    p.drawEllipse(x, y, w - 1, h - 1);
}

double distance(const QPoint& a, const QPoint& b)
{
    const qint64 dx = qint64(a.x()) - b.x();
    const qint64 dy = qint64(a.y()) - b.y();
    return std::sqrt(double(dx * dx + dy * dy));
}

double rowAngle(const QPoint& a, const QPoint& b)
{
    return std::atan(double(qint64(b.y()) - a.y()) / double(qint64(b.x()) - a.x()));
}

double columnAngle(const QPoint& a, const QPoint& b)
{
    return std::atan(double(-(qint64(b.x()) - a.x())) / double(qint64(b.y()) - a.y()));
}

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
    // Runs after the fetcher has handed on (or not) the picture of the finished transfer.
    connect(jpeg.request(), qOverload<>(&MyHTTP::done), this, &HighResPreview::imageRequestDone);
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
    requestImage();
    requestFiducials();
    redraw();
}

void HighResPreview::requestImage()
{
    if (jpeg.request()->isBusy()) {
        imageStale = true;
        return;
    }
    imageStale = false;
    jpeg.setURL(Url(host).raw(QStringLiteral("/whole_slides/")).value(slideWireName).str());
    jpeg.get();
}

void HighResPreview::imageRequestDone()
{
    if (imageStale)
        requestImage();
}

void HighResPreview::requestFiducials()
{
    calibrationCurrent = false;
    if (newFiducials.isBusy() || oldFiducials.isBusy()) {
        fiducialsStale = true;
        return;
    }
    fiducialsStale = false;
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
    if (fiducialsStale) {
        requestFiducials();
        return;
    }
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
    if (fiducialsStale) {
        requestFiducials();
        return;
    }
    MyHTTP* source = nullptr;
    if (haveNewFiducials && newFiducials.succeeded())
        source = &newFiducials;
    else if (!haveNewFiducials && oldFiducials.succeeded())
        source = &oldFiducials;
    if (!source || !readFiducials(source->reply())) {
        qDebug("Failed to get old fiducials.");
        useFallbackCalibration();
    }
    calibrationCurrent = true;
    drawLists();
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

// Eight marks (decimal integers: TL, TR, BL, BR as x y) and optionally the two sizes in mm,
// separated by any white space. Without both sizes the nominal ones apply. A file with fewer
// marks, or whose calibration would not be a finite positive scale, changes nothing and
// returns false.
bool HighResPreview::readFiducials(const QByteArray& reply)
{
    const ReplyText text(reply);
    ReplyText::Scanner in = text.scan();
    int v[8];
    for (int& value : v) {
        const std::optional<qint64> read = in.decimal();
        if (!read || *read < -MaxMark || *read > MaxMark)
            return false;
        value = int(*read);
    }
    // A size that is not a float (beyond its range, or not finite) is not read.
    const auto millimetres = [&in]() -> std::optional<float> {
        const std::optional<double> v = in.real();
        if (!v || std::fabs(*v) > double(FLT_MAX))
            return std::nullopt;
        return float(*v);
    };
    float widthMm = 75.67f;
    float heightMm = 50.325f;
    if (const std::optional<float> w = millimetres()) {
        if (const std::optional<float> h = millimetres()) {
            widthMm = *w;
            heightMm = *h;
        }
    }

    const QPoint tl(v[0], v[1]), tr(v[2], v[3]), bl(v[4], v[5]), br(v[6], v[7]);
    const double width = (distance(tl, tr) + distance(bl, br)) * 0.5;
    const double height = (distance(tl, bl) + distance(tr, br)) * 0.5;
    double a = (rowAngle(tl, tr) + rowAngle(bl, br)) * 0.5;
    a = ((columnAngle(tl, bl) + columnAngle(tr, br)) * 0.5 + a) * 0.5;

    const bool usable = width > 0 && height > 0 && std::isfinite(width) && std::isfinite(height)
        && std::isfinite(a) && widthMm > 0 && heightMm > 0 && std::isfinite(widthMm)
        && std::isfinite(heightMm);
    if (!usable)
        return false;

    fiducialTopLeft = tl;
    fiducialTopRight = tr;
    fiducialBottomLeft = bl;
    fiducialBottomRight = br;
    slideWidthMm = widthMm;
    slideHeightMm = heightMm;
    pixelWidth = width;
    pixelHeight = height;
    originX = tl.x();
    originY = tl.y();
    angle = a;
    return true;
}

QPoint HighResPreview::physicalToImagePixel(const CoordinateTriple& t) const
{
    const float sx = narrow((pixelWidth / slideWidthMm) * (t.x * 0.0001));
    const float sy = narrow((pixelHeight / slideHeightMm) * (t.y * 0.0001));
    const double c = std::cos(-angle);
    const double s = std::sin(-angle);
    const double px = std::trunc(c * sx + s * sy) + std::trunc(originX);
    const double py = std::trunc(c * sy - s * sx) + std::trunc(originY);
    return QPoint(toPixel(px), toPixel(py));
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
    // A picture for an earlier slide, or one that did not decode, is not shown.
    if (imageStale || pm.isNull())
        return;
    pixmap = pm;
    backup = pixmap;
    cleanImage = pm;
    haveLists = false;
    points1.clear();
    points2.clear();
    ++imageGeneration;
    requestLists();
    redraw();
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
    listsGeneration = imageGeneration;
    listsPending = true;
    counts1.fetch();
    counts2.fetch();
}

QList<CoordinateTriple> HighResPreview::readPointList(const QByteArray& reply)
{
    QList<CoordinateTriple> points;
    const QByteArray text = ReplyText(reply).text();
    for (const QByteArray& line : text.split('\n')) {
        const ReplyText lineText(line);
        ReplyText::Scanner in = lineText.scan();
        if (!in.word())
            continue;
        const std::optional<double> x = in.real();
        if (!x)
            continue;
        const std::optional<double> y = in.real();
        if (!y)
            continue;
        // Values are read as float: one beyond float's range is not a number here.
        if (std::fabs(*x) > double(FLT_MAX) || std::fabs(*y) > double(FLT_MAX))
            continue;
        points.append(CoordinateTriple(float(*x), float(*y), 0));
    }
    return points;
}

void HighResPreview::markUpPixmap()
{
    if (counts1.isBusy() || counts2.isBusy() || !listsPending)
        return;
    listsPending = false;
    if (listsGeneration != imageGeneration) {
        requestLists();
        return;
    }
    if (!counts1.succeeded() || !counts2.succeeded())
        return;
    points1 = readPointList(counts1.reply());
    points2 = readPointList(counts2.reply());
    haveLists = true;
    drawLists();
}

void HighResPreview::drawLists()
{
    if (!haveLists || !calibrationCurrent)
        return;
    pixmap = cleanImage;
    list1.clear();
    list2.clear();
    for (const CoordinateTriple& t : std::as_const(points1))
        list1.append(physicalToImagePixel(t));
    for (const CoordinateTriple& t : std::as_const(points2))
        list2.append(physicalToImagePixel(t));
    if (!pixmap.isNull()) {
        QPainter p(&pixmap);
        p.setPen(Qt::red);
        for (const QPoint& pt : std::as_const(list1))
            outlineEllipse(p, pt.x(), pt.y(), 2, 2);
        p.setPen(Qt::green);
        for (const QPoint& pt : std::as_const(list2))
            outlineEllipse(p, pt.x(), pt.y(), 2, 2);
    }
    backup = pixmap;
    redraw();
}

void HighResPreview::markPoint(float x, float y)
{
    const QPoint p = physicalToImagePixel(CoordinateTriple(x, y, 0));
    if (!pixmap.isNull()) {
        QPainter painter(&pixmap);
        painter.setPen(Qt::red);
        outlineEllipse(painter, p.x(), p.y(), 2, 2);
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
    outlineEllipse(p, w / 2 - 5, h / 2 - 5, 10, 10);
    if (showSelection) {
        p.setPen(Qt::blue);
        const int dx = selB.x() - selA.x();
        const int dy = selB.y() - selA.y();
        outlineRect(p, w / 2 - dx / 2, h / 2 - dy / 2, dx, dy);
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
