// High-resolution slide view over loopback: the mappings and drag navigation, calibration files,
// point-list dots and slide changes while replies are still running, and what the view paints;
// the acquisition rectangle and its grid, the tissue test and the job points and files.
#include "BoxCloser.h"
#include "HighResPreview.h"
#include "PointList.h"
#include "ServiceConfig.h"
#include "TestHost.h"
#include "TestImages.h"

#include <QDir>
#include <QDirIterator>
#include <QLoggingCategory>
#include <QPainter>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <functional>
#include <memory>

namespace {

QByteArray slideJpeg(QRgb colour)
{
    return TestImages::jpeg(TestImages::solid(HighResPreview::ImageWidth, HighResPreview::ImageHeight, colour));
}

// A host serving slide files, fiducial files and point lists from a table that a test fills.
struct Site
{
    TestHost host;
    QHash<QString, HostReply> replies;  // by path, or by "<f>:<s or j>" for point lists

    Site()
    {
        for (const QString& prefix : {QStringLiteral("/whole_slides/"), QStringLiteral("/fiducials/")}) {
            host->addRoute(prefix, [](const HostRequest&) { return HostReply::notFound(); });
            host->script(prefix, [this](const HostRequest& r) { return replies.value(r.path, HostReply::notFound()); });
        }
        for (const QString& f : {QStringLiteral("sl"), QStringLiteral("sbl"), QStringLiteral("jl")})
            host->script(QStringLiteral("icount:") + f, [this, f](const HostRequest& r) {
                return replies.value(f + ':' + (r.has("j") ? r.value("j") : r.value("s")), HostReply::notFound());
            });
    }
    // `key`: "/whole_slides/<slide>" (JPEG), "/fiducials/<name>" or "<f>:<s or j>" (text).
    // `delayMs` Held: the reply waits for the next release().
    static constexpr int Held = -1;
    void add(const QString& key, const QByteArray& body, int delayMs = 0)
    {
        HostReply r = key.startsWith("/whole_slides/") ? HostReply::jpeg(body) : HostReply::text(body);
        if (delayMs == Held) {
            released = false;
            r.ready = [this](HostReply&) { return released; };
        } else {
            r.delayMs = delayMs;
        }
        replies.insert(key, r);
    }
    void release() { released = true; }
    bool released = false;
    // The paths (files) or raw queries (lists) asked for on a route, in order.
    QStringList asked(const QString& route) const
    {
        QStringList out;
        for (const auto& e : host.host->requests(route))
            out << (route.startsWith('/') ? e.path : QString::fromLatin1(e.rawQuery));
        return out;
    }
    bool waitCount(const QString& route, int n) { return QTest::qWaitFor([&] { return host->count(route) == n; }, 10000); }
};

std::unique_ptr<HighResPreview> previewOn(Site& site, bool slideLists = false)
{
    auto v = std::make_unique<HighResPreview>();
    v->resize(383, 270);
    v->setServer(site.host.field());
    v->fiducialTag = "scopeA";
    v->slideListMode = slideLists;
    return v;
}

bool waitIdle(HighResPreview& v)
{
    return QTest::qWaitFor([&v] {
        return !v.jpeg.request()->isBusy() && !v.newFiducials.isBusy() && !v.oldFiducials.isBusy()
            && !v.counts1.isBusy() && !v.counts2.isBusy();
    }, 10000);
}

void load(HighResPreview& v, QString slide) { v.slideChange(slide); }
bool show(HighResPreview& v, const QString& slide) { return load(v, slide), waitIdle(v); }
// Loads a slide whose two lists are the `n`th "sbl" request, and waits until all is in.
bool showWithLists(Site& site, HighResPreview& v, const QString& slide, int n)
{
    load(v, slide);
    return site.waitCount("icount:sbl", n) && waitIdle(v);
}

QColor at(const QPixmap& pm, const QPoint& p) { return pm.toImage().pixelColor(p); }
bool isRed(QColor c) { return c.red() > 200 && c.green() < 60 && c.blue() < 60; }
bool isGreen(QColor c) { return c.green() > 200 && c.red() < 60 && c.blue() < 60; }
CoordinateTriple stage(float x, float y) { return CoordinateTriple(x, y, 0); }
QPoint px(const HighResPreview& v, float x, float y) { return v.physicalToImagePixel(stage(x, y)); }

const QByteArray Offset = "100 80 2960 80 100 1980 2960 1980 75.67 50.325";

// What the view last painted: the picture and the pixel it centred on.
struct LastPaint : QObject
{
    HighResPreview& v;
    qint64 picture = 0;
    QPoint centre;
    explicit LastPaint(HighResPreview& view) : v(view)
    {
        v.installEventFilter(this);
        v.show();
        if (!QTest::qWaitForWindowExposed(&v))
            qFatal("the view is not shown");
    }
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint) {
            picture = v.pixmap.cacheKey();
            centre = v.physicalToPixel(v.location);
        }
        return false;
    }
};

// A slide whose pixel columns left of `darkUpTo` have the colour `dark`, the rest white.
QPixmap slide(int darkUpTo, QRgb dark = qRgb(40, 40, 40))
{
    QImage img = TestImages::solid(HighResPreview::ImageWidth, HighResPreview::ImageHeight, qRgb(255, 255, 255));
    QPainter(&img).fillRect(QRect(0, 0, darkUpTo, img.height()), QColor(dark));
    return QPixmap::fromImage(img);
}

// Bounding boxes of the 8-connected areas of pixels that `match`, in scan order.
QList<QRect> blobs(const QImage& img, const std::function<bool(QRgb)>& match)
{
    QList<QRect> out;
    QSet<qint64> seen;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            if (!match(img.pixel(x, y)) || seen.contains(qint64(y) * img.width() + x))
                continue;
            QRect box(x, y, 1, 1);
            QList<QPoint> todo{{x, y}};
            seen.insert(qint64(y) * img.width() + x);
            while (!todo.isEmpty()) {
                const QPoint p = todo.takeLast();
                box |= QRect(p, QSize(1, 1));
                for (int i = 0; i < 9; ++i) {
                    const QPoint n = p + QPoint(i % 3 - 1, i / 3 - 1);
                    const qint64 key = qint64(n.y()) * img.width() + n.x();
                    if (img.valid(n) && !seen.contains(key) && match(img.pixel(n))) {
                        seen.insert(key);
                        todo.append(n);
                    }
                }
            }
            out.append(box);
        }
    return out;
}

QRect boundsOf(const QList<QRect>& boxes)
{
    QRect r;
    for (const QRect& b : boxes)
        r |= b;
    return r;
}

CoordinateTriple mm(QPointF p) { return CoordinateTriple(float(p.x()), float(p.y()), 0); }

// The grid of corners (10, 10) and (12, 11) mm at density 3: float sums of 10000 / 3.
const QStringList X4 = {"100000.0000", "103333.3359", "106666.6719", "110000.0078", "113333.3438", "116666.6797"};
const QStringList Y4 = {"100000.0000", "103333.3359", "106666.6719"};
// Columns 0 to 3 of it lie left of pixel 450.
constexpr int FourColumns = 450;

// "x,y;" for the columns [from, to) of a grid, column by column.
QString points(const QStringList& xs, const QStringList& ys, int from, int to)
{
    QString out;
    for (int i = from; i < to; ++i)
        for (const QString& y : ys)
            out += xs[i] + ',' + y + ';';
    return out;
}

// A temporary base directory with jobs/ and bad_lib/, and everything under it.
struct JobDirs
{
    QTemporaryDir root;
    QString base;
    JobDirs() : base(root.path() + "/base")
    {
        QDir(root.path()).mkpath("base/jobs");
        QDir(root.path()).mkpath("base/bad_lib");
    }
    QStringList tree() const
    {
        QStringList out;
        QDirIterator it(root.path(), QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            out << it.next();
        out.sort();
        return out;
    }
    QByteArray read(const QString& path) const
    {
        QFile f(base + path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
    }
};

} // namespace

class TestHighResPreview : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void mappingAndDrag();
    void calibration_data();
    void calibration();
    void pointListDots_data();
    void pointListDots();
    void listsAcrossSlides();
    void dotsAfterLateCalibration();
    void readPointList_data();
    void readPointList();
    void markPointAndPainting();
    void selectionDrawing_data();
    void selectionDrawing();
    void jobPoints_data();
    void jobPoints();
    void tissueTest_data();
    void tissueTest();
    void libraryFiles();
    void libraryRefusals_data();
    void libraryRefusals();

private:
    QByteArray white;
};

void TestHighResPreview::initTestCase()
{
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    qRegisterMetaType<CoordinateTriple>("CoordinateTriple&");
    qRegisterMetaType<QImage>("QImage&");
    qRegisterMetaType<QPixmap>("QPixmap&");
    white = slideJpeg(qRgb(255, 255, 255));
}

void TestHighResPreview::mappingAndDrag()
{
    HighResPreview v;
    v.resize(383, 270);
    // The location starts at the slide centre, which maps to (1530, 1018) and back exactly.
    QCOMPARE(v.physicalToPixel(v.location), QPoint(1530, 1018));
    QVERIFY(v.location.x == 378350.0f && v.location.y == 251625.0f);

    // Clamped to keep a 383 x 270 view on the image; unclamped for what is drawn on it.
    QCOMPARE(v.physicalToPixel(stage(0, 0)), QPoint(191, 135));
    QCOMPARE(v.physicalToPixel(stage(756700, 503250)), QPoint(2869, 1901));
    QCOMPARE(px(v, 0, 0), QPoint(0, 0));
    QCOMPARE(px(v, 20000, 30000), QPoint(80, 121));

    // Coordinates far off the slide stay bounded and finite.
    const QPoint far = px(v, 3e38f, -3e38f);
    QVERIFY(far.x() > 0 && far.x() <= 1000000 && far.y() < 0 && far.y() >= -1000000);
    QCOMPARE(v.physicalToPixel(stage(3e38f, -3e38f)), QPoint(2869, 135));

    QSignalSpy moved(&v, &HighResPreview::locationChanged);

    // Every move reports the pixel twice the mouse's way from the press, with any button.
    QTest::mousePress(&v, Qt::RightButton, {}, QPoint(200, 100));
    QTest::mouseMove(&v, QPoint(210, 95));
    QTest::mouseMove(&v, QPoint(190, 105));
    QTest::mouseRelease(&v, Qt::RightButton, {}, QPoint(190, 105));
    QCOMPARE(moved.count(), 2);
    const auto t = moved.at(0).at(0).value<CoordinateTriple>();
    const CoordinateTriple expected = v.pixelToPhysical(QPoint(1550, 1008));
    QVERIFY(t.x == expected.x && t.y == expected.y);
    QCOMPARE(v.physicalToPixel(v.location), QPoint(1510, 1028));

    // Dragging past the image's edge is not clamped; the view centre is.
    QTest::mousePress(&v, Qt::LeftButton, {}, QPoint(100, 100));
    QTest::mouseMove(&v, QPoint(-900, 110));
    QVERIFY(v.location.x < 0);
    QCOMPARE(v.physicalToPixel(v.location).x(), 191);

    // setLocation moves the view without a signal.
    CoordinateTriple there(100000, 90000, 5);
    v.setLocation(there);
    QCOMPARE(moved.count(), 3);
    QCOMPARE(v.physicalToPixel(v.location), QPoint(404, 364));
    // A view larger than the image: the upper bound wins.
    v.resize(4000, 3000);
    QCOMPARE(v.physicalToPixel(stage(0, 0)), QPoint(1060, 536));

    // Marks at (100, 80), 2860 x 1900 pixels apart: the centre maps to (1530, 1030) and back exactly.
    v.resize(383, 270);
    v.originX = 100;
    v.originY = 80;
    v.pixelWidth = 2860;
    v.pixelHeight = 1900;
    QCOMPARE(v.physicalToPixel(stage(378350, 251625)), QPoint(1530, 1030));
    const CoordinateTriple c = v.pixelToPhysical(QPoint(1530, 1030));
    QVERIFY(c.x == 378350.0f && c.y == 251625.0f);
}

void TestHighResPreview::calibration_data()
{
    QTest::addColumn<QByteArray>("corrected");  // "<slide>.scopeA.new", or "404"
    QTest::addColumn<QByteArray>("base");       // "<slide>", or "404"
    QTest::addColumn<double>("pixelWidth");     // 3060: the built-in calibration
    QTest::addColumn<double>("angle");
    QTest::addColumn<float>("widthMm");
    QTest::addColumn<QPoint>("probe");          // the image pixel of stage (100000, 100000)

    const QByteArray none = "404", marks = "100 80 2960 80 100 1980 2960 1980 ";
    const QPoint builtIn(404, 404), marked(477, 457);
    auto row = [](const char* name, const QByteArray& corrected, const QByteArray& base, double pixelWidth,
                  QPoint probe, double angle = 0, float widthMm = 75.67f) {
        QTest::newRow(name) << corrected << base << pixelWidth << angle << widthMm << probe;
    };
    row("corrected wins", Offset, "0 0 1000 0 0 1000 1000 1000 10 10", 2860, marked);
    row("base: rotated, 8 values", none, "0 0 2000 100 -100 2000 1900 2100\n", 2002.4984394500786, {244, 410},
        0.049958395721942765);
    row("neither file", none, none, 3060, builtIn);
    row("empty", "", none, 3060, builtIn);
    row("seven values", "100 80 2960 80 100 1980 2960", none, 3060, builtIn);
    row("all marks equal", "5 5 5 5 5 5 5 5 75.67 50.325", none, 3060, builtIn);
    row("no height", "0 0 3000 0 0 0 3000 0", none, 3060, builtIn);
    row("zero mm", marks + "0 50.325", none, 3060, builtIn);
    row("negative mm", marks + "75.67 -50.325", none, 3060, builtIn);
    row("mark out of range", "3000000000 80 2960 80 100 1980 2960 1980", none, 3060, builtIn);
    // Eight good marks with unreadable sizes: the nominal sizes, as with any eight-value file.
    row("nan mm", marks + "nan 50.325", none, 2860, marked);
    row("mm beyond float", marks + "75.67 1e39", none, 2860, marked);
    row("one mm value", marks + "60.5", none, 2860, marked);
    row("sizes read", marks + "60.5 40.25 trailing text", none, 2860, {572, 552}, 0, 60.5f);
    // Decimal, whatever the leading zeros.
    row("leading zeros", "0100 080 02960 080 0100 01980 02960 01980 75.67 50.325", none, 2860, marked);
}

void TestHighResPreview::calibration()
{
    QFETCH(QByteArray, corrected);
    QFETCH(QByteArray, base);
    QFETCH(double, pixelWidth);
    QFETCH(double, angle);
    QFETCH(float, widthMm);
    QFETCH(QPoint, probe);

    Site site;
    site.add("/whole_slides/S0", white);
    site.add("/whole_slides/S1", white);
    site.add("/fiducials/S0.scopeA.new", "50 40 2950 40 50 1990 2950 1990 72 48");
    for (const auto& [path, file] : {std::pair("/fiducials/S1.scopeA.new", corrected), std::pair("/fiducials/S1", base)})
        if (file != "404")
            site.add(path, file);
    auto v = previewOn(site);
    QVERIFY(show(*v, "S0"));
    QCOMPARE(v->originX, 50.0);

    // Nothing of the previous slide's calibration survives.
    QVERIFY(show(*v, "S1"));
    QCOMPARE(v->haveNewFiducials, corrected != "404");
    QCOMPARE(v->pixelWidth, pixelWidth);
    QCOMPARE(v->angle, angle);
    QCOMPARE(v->slideWidthMm, widthMm);
    QCOMPARE(px(*v, 100000, 100000), probe);
    // So pixels map back to finite stage coordinates.
    QVERIFY(std::isfinite(v->pixelHeight) && v->pixelHeight > 0 && v->slideHeightMm > 0);
    const CoordinateTriple back = v->pixelToPhysical(QPoint(100, 100));
    QVERIFY(std::isfinite(back.x) && std::isfinite(back.y));
}

void TestHighResPreview::pointListDots_data()
{
    QTest::addColumn<bool>("jobMode");
    QTest::addColumn<int>("redDelay");
    QTest::addColumn<int>("greenDelay");
    QTest::newRow("slide list, red first") << false << 0 << 500;
    QTest::newRow("job list, green first") << true << 500 << 0;
}

void TestHighResPreview::pointListDots()
{
    QFETCH(bool, jobMode);
    QFETCH(int, redDelay);
    QFETCH(int, greenDelay);
    // The red list is the job's or the slide's; the green one is "sbl" for either.
    const QString red = jobMode ? QStringLiteral("jl:") : QStringLiteral("sl:");
    auto id = [jobMode](const char* job, const char* slide) { return QString::fromLatin1(jobMode ? job : slide); };

    // Names go into the URLs as they are, escaped only where they would change its structure.
    Site site;
    site.add("/whole_slides/A B#1", white);
    site.add("/whole_slides/S2", white);
    site.add(red + id("J 7", "A B#1"), "S1 100000 100000\nS1 20000 30000\n");
    site.add("sbl:" + id("J 7", "A B#1"), "S1 300000 200000\n");
    auto v = previewOn(site, !jobMode);
    v->jobListMode = jobMode;
    v->jobId = "J 7";
    v->jobSlide = "A B#1";
    v->fiducialTag = "scope-2";
    QVERIFY(showWithLists(site, *v, "A B#1", 1));
    QCOMPARE(site.asked("/fiducials/"), (QStringList{"/fiducials/A B#1.scope-2.new", "/fiducials/A B#1"}));
    QCOMPARE(site.asked("icount:sl") + site.asked("icount:jl") + site.asked("icount:sbl"),
             (jobMode ? QStringList{"f=jl&j=J%207&c=1", "f=sbl&s=J%207&c=1"}
                      : QStringList{"f=sl&s=A%20B%231", "f=sbl&s=A%20B%231&c=2"}));
    // Every dot at its own pixel, also near the image's edge.
    const QPoint red1 = px(*v, 100000, 100000), green1 = px(*v, 300000, 200000);
    QCOMPARE(v->list1, (QVector<QPoint>{red1, QPoint(80, 121)}));
    QCOMPARE(v->list2, QVector<QPoint>{green1});
    for (const QPixmap* pm : {&v->pixmap, &v->backup})
        QVERIFY(isRed(at(*pm, red1)) && isRed(at(*pm, QPoint(80, 121))) && isGreen(at(*pm, green1)));

    // The next slide: while only one of its lists is in (the other request's last finished
    // transfer is still the first slide's), the slide shows no dots at all.
    site.add(red + id("J8", "S2"), "S2 50000 60000\n", redDelay);
    site.add("sbl:" + id("J8", "S2"), "S2 60000 60000\n", greenDelay);
    v->jobId = "J8";
    v->jobSlide = "S2";
    load(*v, "S2");
    QVERIFY(site.waitCount("icount:sbl", 2));
    QVERIFY(QTest::qWaitFor([&] { return v->counts1.isBusy() != v->counts2.isBusy(); }, 10000));
    const QPoint red2 = px(*v, 50000, 60000), green2 = px(*v, 60000, 60000);
    for (const QPoint& p : {red1, green1, red2, green2})
        QVERIFY(!isRed(at(v->pixmap, p)) && !isGreen(at(v->pixmap, p)));
    QVERIFY(waitIdle(*v));
    QCOMPARE(v->list1 + v->list2, (QVector<QPoint>{red2, green2}));
    QVERIFY(isRed(at(v->pixmap, red2)) && isGreen(at(v->pixmap, green2)));
}

void TestHighResPreview::listsAcrossSlides()
{
    Site site;
    site.add("/whole_slides/S1", slideJpeg(qRgb(0, 0, 255)), 400);
    site.add("/whole_slides/S2", slideJpeg(qRgb(255, 255, 0)));
    for (const char* s : {"S3", "S4", "S5", "S6"})
        site.add(QStringLiteral("/whole_slides/") + s, white);
    site.add("/fiducials/S1.scopeA.new", "50 40 2950 40 50 1990 2950 1990 72 48", 400);
    site.add("/fiducials/S2.scopeA.new", Offset);
    // Each slide's red dot at (x, 100000), its green one at (x, 150000); S6 has no green list.
    for (const auto& [slide, x, delayMs] : {std::tuple("S2", 200000, 0), std::tuple("S3", 100000, Site::Held),
                                            std::tuple("S4", 300000, 0), std::tuple("S6", 250000, 0)}) {
        site.add(QStringLiteral("sl:") + slide, "S " + QByteArray::number(x) + " 100000\n", delayMs);
        site.add(QStringLiteral("sbl:") + slide, "S " + QByteArray::number(x) + " 150000\n", delayMs);
    }
    site.replies.remove("sbl:S6");
    auto v = previewOn(site, true);

    // The first slide's image and corrected fiducials are still running when the second slide
    // is chosen: both the image and the fiducial request are abandoned for the second slide's.
    load(*v, "S1");
    QVERIFY(site.waitCount("/fiducials/", 1));
    QVERIFY(showWithLists(site, *v, "S2", 1));
    QCOMPARE(site.asked("/fiducials/"), (QStringList{"/fiducials/S1.scopeA.new", "/fiducials/S2.scopeA.new"}));
    QCOMPARE(v->originX, 100.0);
    QVERIFY(at(v->pixmap, QPoint(10, 10)).blue() < 60);      // yellow: the second slide, not the first's blue
    QVERIFY(isRed(at(v->pixmap, px(*v, 200000, 100000))));

    // The third slide's lists are still running when the fourth slide's image arrives: they
    // are discarded and the fourth slide's lists requested once both are back.
    load(*v, "S3");
    QVERIFY(site.waitCount("icount:sbl", 2));
    QVERIFY(v->counts1.isBusy() && v->counts2.isBusy());
    load(*v, "S4");
    QVERIFY(QTest::qWaitFor([&] { return !v->jpeg.request()->isBusy(); }, 10000));
    site.release();
    QVERIFY(site.waitCount("icount:sbl", 3) && waitIdle(*v));
    QCOMPARE(site.asked("icount:sl"), (QStringList{"f=sl&s=S2", "f=sl&s=S3", "f=sl&s=S4"}));
    const QPoint red = px(*v, 300000, 100000), green = px(*v, 300000, 150000);
    QCOMPARE(v->list1 + v->list2, (QVector<QPoint>{red, green}));
    QVERIFY(isRed(at(v->pixmap, red)) && isGreen(at(v->pixmap, green)));
    QVERIFY(!isRed(at(v->pixmap, px(*v, 100000, 100000))) && !isGreen(at(v->pixmap, px(*v, 100000, 150000))));

    // A whole-slide reply that does not decode reaches the view as a null picture: the view
    // keeps what it shows and asks for no point lists for it.
    const qint64 shown = v->pixmap.cacheKey();
    QPixmap none;
    emit v->jpeg.newPixmapAvailable(none);
    QCOMPARE(v->pixmap.cacheKey(), shown);
    QVERIFY(!v->backup.isNull() && !v->counts1.isBusy());

    // Neither list mode: no lists asked for, and the previous slide's dots are gone.
    v->slideListMode = false;
    QVERIFY(show(*v, "S5"));
    QCOMPARE(site.host->count("icount:sl"), 3);
    QVERIFY(!isRed(at(v->pixmap, red)) && !isRed(at(v->backup, red)));

    // One list failed: nothing drawn.
    v->slideListMode = true;
    QVERIFY(showWithLists(site, *v, "S6", 4));
    QVERIFY(!isRed(at(v->pixmap, px(*v, 250000, 100000))));
}

void TestHighResPreview::dotsAfterLateCalibration()
{
    Site site;
    site.add("/whole_slides/S0", white);
    site.add("/whole_slides/S1", white);
    site.add("/fiducials/S0.scopeA.new", Offset);
    // The second slide's fiducial file arrives well after its point lists.
    site.add("/fiducials/S1.scopeA.new", "50 40 2950 40 50 1990 2950 1990 72 48", Site::Held);
    site.add("sl:S1", "S 200000 100000\n");
    site.add("sbl:S1", "S 300000 150000\n");
    auto v = previewOn(site, true);
    QVERIFY(show(*v, "S0"));

    // The second slide's picture and lists are in while its calibration is on its way: the
    // view shows no picture, neither the first slide's nor the second's under the first's
    // calibration.
    LastPaint painted(*v);
    const QPoint early = px(*v, 200000, 100000);
    load(*v, "S1");
    QVERIFY(site.waitCount("icount:sbl", 2));
    QVERIFY(QTest::qWaitFor([&] { return !v->counts1.isBusy() && !v->counts2.isBusy(); }, 10000));
    QVERIFY(v->newFiducials.isBusy() && !v->jpeg.request()->isBusy());
    QVERIFY(v->pixmap.isNull() && v->backup.isNull());
    QCOMPARE(painted.picture, qint64(0));
    QVERIFY(v->list1.isEmpty() && v->list2.isEmpty());

    site.release();
    QVERIFY(waitIdle(*v));
    QCOMPARE(v->originX, 50.0);
    const QPoint red = px(*v, 200000, 100000), green = px(*v, 300000, 150000);
    QVERIFY(red != early);
    QCOMPARE(v->list1, QVector<QPoint>{red});
    QCOMPARE(v->list2, QVector<QPoint>{green});
    QVERIFY(isRed(at(v->pixmap, red)) && isGreen(at(v->pixmap, green)) && !isRed(at(v->pixmap, early)));

    // A slide whose image does not come: its calibration centres the view as soon as it is
    // read, and nothing of the previous slide, picture or dots, is shown under it.
    site.add("/fiducials/S2.scopeA.new", Offset);
    QVERIFY(show(*v, "S2"));
    QCOMPARE(v->originX, 100.0);
    QCOMPARE(painted.centre, v->physicalToPixel(v->location));
    QCOMPARE(painted.picture, qint64(0));
    QVERIFY(v->pixmap.isNull() && v->backup.isNull());
    QVERIFY(v->list1.isEmpty() && v->list2.isEmpty());

    // Nor are the lists of an image that were on their way when the slide changed.
    site.add("/whole_slides/S3", white);
    site.add("sl:S3", "S 200000 100000\n", Site::Held);
    site.add("sbl:S3", "S 300000 150000\n", Site::Held);
    load(*v, "S3");
    QVERIFY(site.waitCount("icount:sbl", 3));
    QVERIFY(QTest::qWaitFor([&] { return !v->pixmap.isNull(); }, 10000));
    load(*v, "S2");
    site.release();
    QVERIFY(waitIdle(*v));
    QVERIFY(v->pixmap.isNull() && v->list1.isEmpty());
    QCOMPARE(site.host->count("icount:sl"), 3);
}

void TestHighResPreview::readPointList_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QList<QPointF>>("points");
    using P = QList<QPointF>;
    QTest::newRow("two lines, no final newline") << QByteArray("S1 1 2\nS1 3.5 -4") << P{{1, 2}, {3.5, -4}};
    QTest::newRow("crlf, tabs, empty lines") << QByteArray("\nS1\t1 2\r\n\nS1 3\t4\r\n") << P{{1, 2}, {3, 4}};
    QTest::newRow("lines giving nothing") << QByteArray("S1 1 2\nS1 x y\nS1 5\n-NO_AUTHORIZATION") << P{{1, 2}};
    QTest::newRow("not finite") << QByteArray("S1 nan 2\nS1 inf 3\nS1 1e40 4\nS1 9 10\n") << P{{9, 10}};
    QTest::newRow("long name") << QByteArray(300, 'n') + " 11 12\n" << P{{11, 12}};
    QTest::newRow("long number") << "S1 1" + QByteArray(70, '0') + "e-70 2" << P{{1, 2}};
    QTest::newRow("nul inside") << QByteArray("S1 1 2\n\0S1 3 4\n", 15) << P{{1, 2}};
}

void TestHighResPreview::readPointList()
{
    QFETCH(QByteArray, reply);
    QFETCH(QList<QPointF>, points);
    QList<QPointF> got;
    PointList list(reply.constData(), reply.size());
    for (float x = 0, y = 0; list.next(x, y);)
        got << QPointF(x, y);
    QCOMPARE(got, points);
}

void TestHighResPreview::markPointAndPainting()
{
    HighResPreview v;
    v.resize(383, 270);
    v.markPoint(20000, 30000);          // no image yet: nothing to draw on
    QVERIFY(v.pixmap.isNull());

    // A mark covers 2 x 2 pixels at its own pixel, not on the clamp line, and not in the backup.
    QImage img = TestImages::solid(HighResPreview::ImageWidth, HighResPreview::ImageHeight, qRgb(255, 255, 255));
    v.pixmap = v.backup = QPixmap::fromImage(img);
    v.markPoint(20000, 30000);
    QVERIFY(isRed(at(v.pixmap, QPoint(80, 121))) && isRed(at(v.pixmap, QPoint(81, 122))));
    for (const QPoint& p : {QPoint(82, 121), QPoint(80, 123), QPoint(191, 135)})
        QVERIFY(!isRed(at(v.pixmap, p)));
    QCOMPARE(at(v.backup, QPoint(80, 121)), QColor(Qt::white));
    // A position that is not a number draws no mark, at the image's origin or anywhere.
    const QImage marked = v.pixmap.toImage();
    v.markPoint(qQNaN(), 30000);
    QCOMPARE(v.pixmap.toImage(), marked);

    // The view shows the image around the location's pixel (1530, 1018).
    QPainter(&img).fillRect(QRect(1600, 0, 1460, 2036), Qt::darkCyan);
    v.pixmap = QPixmap::fromImage(img);
    QImage shot = v.grab().toImage();
    QCOMPARE(shot.pixelColor(191 + 69, 200), QColor(Qt::white));
    QCOMPARE(shot.pixelColor(191 + 70, 200), QColor(Qt::darkCyan));
    // The location marker: a 10 x 10 green ring at the centre, x 186..195 and y 130..139.
    QVERIFY(isGreen(shot.pixelColor(186, 135)) && isGreen(shot.pixelColor(195, 135)));
    QVERIFY(isGreen(shot.pixelColor(191, 130)) && isGreen(shot.pixelColor(191, 139)));
    QVERIFY(!isGreen(shot.pixelColor(185, 135)) && !isGreen(shot.pixelColor(196, 135)));
    QVERIFY(!isGreen(shot.pixelColor(191, 140)) && !isGreen(shot.pixelColor(191, 135)));

    // The selection, when shown: its size, centred on the view, exactly 100 x 50 pixels.
    v.selA = QPoint(1000, 1000);
    v.selB = QPoint(1100, 1050);
    QCOMPARE(v.grab().toImage().pixelColor(141, 120), QColor(Qt::white));
    v.showSelection = true;
    shot = v.grab().toImage();
    QVERIFY(shot.pixelColor(141, 120) == QColor(Qt::blue) && shot.pixelColor(240, 159) == QColor(Qt::blue));
    QVERIFY(shot.pixelColor(241, 120) != QColor(Qt::blue) && shot.pixelColor(180, 160) != QColor(Qt::blue));

    // A mark on a slide whose pixels the tissue test shares goes on a copy of its own: the
    // slide and the tissue test keep sharing theirs (two copies held, not three).
    v.pixmap = v.backup = slide(0);
    v.slideImage = v.backup.toImage();
    v.markPoint(20000, 30000);
    QCOMPARE(v.backup.toImage().constBits(), v.slideImage.constBits());
    QVERIFY(isRed(at(v.pixmap, QPoint(80, 121))) && !isRed(at(v.backup, QPoint(80, 121))));
}

void TestHighResPreview::selectionDrawing_data()
{
    QTest::addColumn<QPointF>("c1");
    QTest::addColumn<QPointF>("c2");
    QTest::addColumn<int>("density");
    QTest::addColumn<QRect>("frame");
    QTest::addColumn<QList<QRect>>("dots");

    // Labels at (404, 404) and (485, 445); an 81 x 41 rectangle; steps 40 and 41.
    const QRect frame(404, 404, 81, 41);
    QTest::newRow("density 1") << QPointF(10, 10) << QPointF(12, 11) << 1 << frame
                               << QList<QRect>{{404, 404, 3, 3}, {444, 404, 3, 3}};
    // Steps of 13 pixels: 7 x 3 dots.
    QList<QRect> dots;
    for (int y = 404; y < 443; y += 13)
        for (int x = 404; x < 483; x += 13)
            dots << QRect(x, y, 3, 3);
    QTest::newRow("density 3") << QPointF(10, 10) << QPointF(12, 11) << 3 << frame << dots;
    // A step below one pixel, and corners without extent in x: no dots, and the drawing ends.
    QTest::newRow("denser than the pixels") << QPointF(10, 10) << QPointF(12, 11) << 50 << frame << QList<QRect>{};
    QTest::newRow("equal x") << QPointF(10, 10) << QPointF(10, 11) << 1 << QRect() << QList<QRect>{};
}

void TestHighResPreview::selectionDrawing()
{
    QFETCH(QPointF, c1);
    QFETCH(QPointF, c2);
    QFETCH(int, density);
    QFETCH(QRect, frame);
    QFETCH(QList<QRect>, dots);

    HighResPreview v;
    v.resize(383, 270);
    v.pixmap = v.backup = slide(0);
    v.setLinearDensity(density);
    // One corner: its label only, and kept when the corner is set again elsewhere.
    auto magenta = [](QRgb c) { return qRed(c) > qGreen(c) + 60 && qBlue(c) > qGreen(c) + 60; };
    v.setCorner1(mm(QPointF(30, 30)));
    v.setCorner1(mm(c1));
    const QRect far(1200, 1200, 100, 100);      // around pixel (1213, 1220) of (30, 30) mm
    QVERIFY(!blobs(v.pixmap.toImage().copy(far), magenta).isEmpty());

    // Both corners: the clean image again, with labels, rectangle and grid.
    v.setCorner2(mm(c2));
    QVERIFY(blobs(v.pixmap.toImage().copy(far), magenta).isEmpty());
    const QImage img = v.pixmap.toImage().copy(0, 0, 1200, 1200);
    QCOMPARE(boundsOf(blobs(img, [](QRgb c) { return c == qRgb(0, 0, 0); })), frame);
    QCOMPARE(blobs(img, [](QRgb c) { return c == qRgb(255, 255, 0); }), dots);
    const QList<QRect> labels = blobs(img, magenta);
    const QPoint a = v.physicalToImagePixel(v.corner1), b = v.physicalToImagePixel(v.corner2);
    QCOMPARE(a, QPoint(404, 404));
    for (const QPoint& at : {a, b}) {
        // A label's baseline starts at its corner.
        QList<QRect> own;
        for (const QRect& r : labels)
            if (std::abs(r.left() - at.x()) < 30 && std::abs(r.bottom() - at.y()) < 30)
                own << r;
        const QRect box = boundsOf(own);
        QVERIFY2(box.left() >= at.x() && box.left() <= at.x() + 2 && box.bottom() <= at.y()
                     && box.bottom() >= at.y() - 3 && box.width() > 5,
                 qPrintable(QStringLiteral("label at %1,%2: %3,%4 %5x%6").arg(at.x()).arg(at.y())
                                .arg(box.x()).arg(box.y()).arg(box.width()).arg(box.height())));
    }
    QCOMPARE(v.backup.toImage().pixel(a), qRgb(255, 255, 255));
}

void TestHighResPreview::jobPoints_data()
{
    QTest::addColumn<QPointF>("c1");
    QTest::addColumn<QPointF>("c2");
    QTest::addColumn<int>("density");
    QTest::addColumn<int>("darkUpTo");
    QTest::addColumn<HighResPreview::JobPoints>("result");
    QTest::addColumn<QString>("good");
    QTest::addColumn<QString>("bad");
    using R = HighResPreview::JobPoints;

    QTest::newRow("density 1") << QPointF(10, 10) << QPointF(12, 11) << 1 << 3060 << R::Listed
                               << "100000.0000,100000.0000;110000.0000,100000.0000;" << "";
    // 18 points: in each column the sum after 106666.6719 is about 110000.005, not below 110000.
    QTest::newRow("density 3, white right") << QPointF(10, 10) << QPointF(12, 11) << 3 << FourColumns << R::Listed
                                            << points(X4, Y4, 0, 4) << points(X4, Y4, 4, 6);
    // Off the image counts as tissue.
    QTest::newRow("left of the image") << QPointF(-1, -1) << QPointF(-0.5, -0.5) << 1 << 0 << R::Listed
                                       << "-10000.0000,-10000.0000;" << "";
    QTest::newRow("equal x") << QPointF(10, 10) << QPointF(10, 11) << 1 << 3060 << R::Listed << "" << "";
    QTest::newRow("density 0") << QPointF(10, 10) << QPointF(12, 11) << 0 << 3060 << R::NoGrid << "" << "";
    QTest::newRow("too many") << QPointF(0, 0) << QPointF(1e5, 1e5) << 10 << 3060 << R::TooMany << "" << "";
}

void TestHighResPreview::jobPoints()
{
    QFETCH(QPointF, c1);
    QFETCH(QPointF, c2);
    QFETCH(int, density);
    QFETCH(int, darkUpTo);
    QFETCH(HighResPreview::JobPoints, result);
    QFETCH(QString, good);
    QFETCH(QString, bad);

    HighResPreview v;
    v.resize(383, 270);
    LastPaint painted(v);
    v.backup = slide(darkUpTo);
    v.pixmap = v.backup;
    v.setCorner1(CoordinateTriple(10, 10, 0));
    v.setCorner2(CoordinateTriple(12, 11, 0));
    // The strings are only appended to; the name and strain are no concern of other logins.
    QString g = "G;", b = "B;";
    QCOMPARE(v.buildJobPoints(mm(c1), mm(c2), density, "jdoe", "../x", QString(QChar(0x3a9)), g, b), result);
    QCOMPARE(g, "G;" + good);
    QCOMPARE(b, "B;" + bad);
    QCOMPARE(HighResPreview::jobPointsProblem(result).isEmpty(), result == HighResPreview::JobPoints::Listed);
    // The tissue test saw the slide without the overlay; a refusal shows it so.
    QCOMPARE(v.pixmap.cacheKey(), v.backup.cacheKey());
    if (result != HighResPreview::JobPoints::Listed)
        QCOMPARE(painted.picture, v.pixmap.cacheKey());
}

void TestHighResPreview::tissueTest_data()
{
    QTest::addColumn<QRgb>("colour");
    QTest::addColumn<bool>("tissue");
    QTest::newRow("sum 675") << qRgb(225, 225, 225) << true;
    QTest::newRow("sum 676") << qRgb(226, 225, 225) << false;
}

void TestHighResPreview::tissueTest()
{
    QFETCH(QRgb, colour);
    QFETCH(bool, tissue);

    HighResPreview v;
    v.resize(383, 270);
    QVERIFY(v.hasTissue(stage(100000, 100000)));          // no image yet
    v.pixmap = v.backup = slide(HighResPreview::ImageWidth, colour);
    QString good, bad;
    QCOMPARE(v.buildJobPoints(CoordinateTriple(10, 10, 0), CoordinateTriple(10.5f, 10.5f, 0), 1, "jdoe", "j", "", good, bad),
             HighResPreview::JobPoints::Listed);
    QCOMPARE(good, tissue ? "100000.0000,100000.0000;" : "");
    QCOMPARE(bad, tissue ? "" : "100000.0000,100000.0000;");
    QCOMPARE(v.hasTissue(stage(100000, 100000)), tissue);
    // Beyond the image's edges: tissue, nothing read.
    for (const CoordinateTriple& t : {stage(-1000, 100000), stage(100000, 3e6f), stage(1e7f, 1e7f)})
        QVERIFY(v.hasTissue(t));
}

void TestHighResPreview::libraryFiles()
{
    JobDirs dirs;
    BoxCloser boxes;
    HighResPreview v;
    v.resize(383, 270);
    v.jobFilesDir = dirs.base;
    v.slideName = QStringLiteral("S%1 7");         // no placeholder of its own is filled
    v.backup = slide(FourColumns);
    QString good = "G", bad = "B";
    QCOMPARE(v.buildJobPoints(CoordinateTriple(10, 10, 0), CoordinateTriple(12, 11, 0), 3, "library", "job 1",
                              QString::fromLatin1("Mus m\xfcsculus"), good, bad),
             HighResPreview::JobPoints::Written);
    QCOMPARE(good + bad, "GB");
    QCOMPARE(boxes.seen.size(), 1);
    QCOMPARE(boxes.seen[0].icon, QMessageBox::Information);
    QCOMPARE(boxes.seen[0].title, "Job waiting.");
    QCOMPARE(boxes.seen[0].text, "You may receive an email for your job information as soon as your job is complete.");

    // 6 decimals for tissue, 0 for blank; printf's rounding (110000.0078125 has its tie to even).
    const QByteArray head = BROLT_JOB_EMAIL "\nMus m\xfcsculus\nlibrary\n";
    const QList<QByteArray> x6 = {"100000.000000", "103333.335938", "106666.671875", "110000.007812"};
    const QList<QByteArray> y6 = {"100000.000000", "103333.335938", "106666.671875"};
    QByteArray tissue = head, blank = head;
    for (const QByteArray& x : x6)
        for (const QByteArray& y : y6)
            tissue += "S%1 7 " + x + ' ' + y + '\n';
    for (const QByteArray& x : {QByteArray("113333"), QByteArray("116667")})
        for (const QByteArray& y : {QByteArray("100000"), QByteArray("103333"), QByteArray("106667")})
            blank += "S%1 7 " + x + ' ' + y + '\n';
    QCOMPARE(dirs.read("/jobs/job 1"), tissue);
    QCOMPARE(dirs.read("/bad_lib/job 1"), blank);
    QCOMPARE(dirs.tree().size(), 5);              // the three directories and the two files

    // The same name again: refused, both files as they were.
    QCOMPARE(v.buildJobPoints(CoordinateTriple(10, 10, 0), CoordinateTriple(11, 11, 0), 1, "library", "job 1",
                              "other", good, bad),
             HighResPreview::JobPoints::Exists);
    QCOMPARE(dirs.read("/jobs/job 1"), tissue);
    QCOMPARE(dirs.read("/bad_lib/job 1"), blank);
    QCOMPARE(boxes.seen.size(), 1);
}

void TestHighResPreview::libraryRefusals_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("strain");
    QTest::addColumn<QString>("present");   // a file made before, under the base directory
    QTest::addColumn<bool>("presentIsDir");
    QTest::addColumn<HighResPreview::JobPoints>("result");
    QTest::addColumn<QString>("slideName");
    using R = HighResPreview::JobPoints;
    QTest::newRow("../x") << "../x" << "m" << "" << false << R::NotFileName << "S1";
    QTest::newRow("..") << ".." << "m" << "" << false << R::NotFileName << "S1";
    QTest::newRow("a\\b") << "a\\b" << "m" << "" << false << R::NotFileName << "S1";
    QTest::newRow("tab") << "a\tb" << "m" << "" << false << R::NotFileName << "S1";
    QTest::newRow("tissue file exists") << "j" << "m" << "/jobs/j" << false << R::Exists << "S1";
    QTest::newRow("blank file exists") << "j" << "m" << "/bad_lib/j" << false << R::Exists << "S1";
    QTest::newRow("a directory of the name") << "j" << "m" << "/bad_lib/j" << true << R::Exists << "S1";
    QTest::newRow("unwritable directory") << "j" << "m" << "/bad_lib" << false << R::NotWritten << "S1";
    QTest::newRow("strain beyond Latin-1") << "j" << QString::fromUtf8("Mus \u03a9") << "" << false << R::NotLatin1
                                           << "S1";
    QTest::newRow("name beyond Latin-1") << QString::fromUtf8("j\u20ac") << "m" << "" << false << R::NotLatin1
                                         << "S1";
    QTest::newRow("slide beyond Latin-1") << "j" << "m" << "" << false << R::NotLatin1Slide
                                          << QString::fromUtf8("S\u20ac");
}

void TestHighResPreview::libraryRefusals()
{
    QFETCH(QString, name);
    QFETCH(QString, strain);
    QFETCH(QString, present);
    QFETCH(bool, presentIsDir);
    QFETCH(HighResPreview::JobPoints, result);
    QFETCH(QString, slideName);

    JobDirs dirs;
    if (present == "/bad_lib") {                // a plain file where the directory should be
        QDir(dirs.base).rmdir("bad_lib");
        QFile f(dirs.base + present);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write("x") == 1);
    } else if (presentIsDir) {
        QVERIFY(QDir(dirs.base).mkpath(present.mid(1)));
    } else if (!present.isEmpty()) {
        QFile f(dirs.base + present);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write("old") == 3);
    }
    const QStringList before = dirs.tree();

    BoxCloser boxes;
    HighResPreview v;
    v.resize(383, 270);
    LastPaint painted(v);
    v.jobFilesDir = dirs.base;
    v.slideName = slideName;
    v.pixmap = v.backup = slide(FourColumns);
    v.setCorner1(CoordinateTriple(10, 10, 0));
    v.setCorner2(CoordinateTriple(12, 11, 0));
    QString good, bad;
    QCOMPARE(v.buildJobPoints(CoordinateTriple(10, 10, 0), CoordinateTriple(12, 11, 0), 3, "library", name, strain,
                              good, bad),
             result);
    // The view shows the slide as before the acquisition rectangle was drawn.
    QCOMPARE(v.pixmap.cacheKey(), v.backup.cacheKey());
    QCOMPARE(painted.picture, v.pixmap.cacheKey());
    QVERIFY(!HighResPreview::jobPointsProblem(result).isEmpty());
    QString detail;             // the file that could not be written, and why
    if (result == HighResPreview::JobPoints::NotWritten) {
        QFile probe(dirs.base + "/bad_lib/" + name);
        QVERIFY(!probe.open(QIODevice::WriteOnly));
        detail = '\n' + probe.fileName() + ": " + probe.errorString();
    }
    QCOMPARE(v.jobPointsMessage(result), HighResPreview::jobPointsProblem(result) + detail);
    QCOMPARE(dirs.tree(), before);
    if (!present.isEmpty() && !presentIsDir && present != "/bad_lib")
        QCOMPARE(dirs.read(present), "old");
    QVERIFY(boxes.seen.isEmpty());
    QVERIFY(good.isEmpty() && bad.isEmpty());
}

QTEST_MAIN(TestHighResPreview)
#include "tst_highrespreview.moc"
