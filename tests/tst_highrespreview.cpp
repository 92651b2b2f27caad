// High-resolution slide view over loopback: calibration sources and degenerate fiducial files,
// the two mappings, drag navigation, point-list dots and their arrival order, slide changes
// while replies are still running, and what the view paints.
#include "HighResPreview.h"
#include "TestHost.h"

#include <QBuffer>
#include <QLoggingCategory>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <memory>

namespace {

QByteArray jpegOf(const QImage& img)
{
    QByteArray bytes;
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    img.save(&buf, "JPEG");
    return bytes;
}

QByteArray slideJpeg(QColor colour)
{
    QImage img(HighResPreview::ImageWidth, HighResPreview::ImageHeight, QImage::Format_RGB32);
    img.fill(colour);
    return jpegOf(img);
}

// A host serving slide files and point lists from tables that a test fills.
struct Site
{
    TestHost host;
    QHash<QString, HostReply> files;    // by path
    QHash<QString, HostReply> lists;    // by "<f>:<s or j>"

    Site()
    {
        for (const QString& prefix : {QStringLiteral("/whole_slides/"), QStringLiteral("/fiducials/")}) {
            host->addRoute(prefix, [](const HostRequest&) { return HostReply::notFound(); });
            host->script(prefix, [this](const HostRequest& r) {
                return files.value(r.path, HostReply::notFound());
            });
        }
        for (const QString& f : {QStringLiteral("sl"), QStringLiteral("sbl"), QStringLiteral("jl")})
            host->script(QStringLiteral("icount:") + f, [this, f](const HostRequest& r) {
                const QString key = f + ':' + (r.has("j") ? r.value("j") : r.value("s"));
                return lists.value(key, HostReply::notFound());
            });
    }
    void image(const QString& slide, const QByteArray& jpeg, int delayMs = 0)
    {
        HostReply r = HostReply::jpeg(jpeg);
        r.delayMs = delayMs;
        files.insert("/whole_slides/" + slide, r);
    }
    void fiducials(const QString& path, const QByteArray& text, int delayMs = 0)
    {
        HostReply r = HostReply::text(text);
        r.delayMs = delayMs;
        files.insert("/fiducials/" + path, r);
    }
    void list(const QString& key, const QByteArray& text, int delayMs = 0)
    {
        HostReply r = HostReply::text(text);
        r.delayMs = delayMs;
        lists.insert(key, r);
    }
    QStringList paths(const QString& route) const
    {
        QStringList out;
        for (const auto& e : host.host->requests(route))
            out << e.path;
        return out;
    }
    QStringList queries(const QString& route) const
    {
        QStringList out;
        for (const auto& e : host.host->requests(route))
            out << QString::fromLatin1(e.rawQuery);
        return out;
    }
};

std::unique_ptr<HighResPreview> previewOn(Site& site)
{
    auto v = std::make_unique<HighResPreview>();
    v->resize(383, 270);
    v->setServer(site.host.field());
    v->fiducialTag = QStringLiteral("scopeA");
    return v;
}

bool idle(HighResPreview& v)
{
    return !v.jpeg.request()->isBusy() && !v.newFiducials.isBusy() && !v.oldFiducials.isBusy()
        && !v.counts1.isBusy() && !v.counts2.isBusy();
}

bool waitIdle(HighResPreview& v)
{
    return QTest::qWaitFor([&v] { return idle(v); }, 10000);
}

void load(HighResPreview& v, const QString& slide)
{
    QString name = slide;
    v.slideChange(name);
}

QColor at(const QPixmap& pm, const QPoint& p)
{
    return pm.toImage().pixelColor(p);
}

bool isRed(QColor c) { return c.red() > 200 && c.green() < 60 && c.blue() < 60; }
bool isGreen(QColor c) { return c.green() > 200 && c.red() < 60 && c.blue() < 60; }

CoordinateTriple stage(float x, float y) { return CoordinateTriple(x, y, 0); }

const QByteArray Offset = "100 80 2960 80 100 1980 2960 1980 75.67 50.325";
const QByteArray Rotated = "0 0 2000 100 -100 2000 1900 2100\n";

} // namespace

class TestHighResPreview : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void fallbackMapping();
    void calibrationSources();
    void degenerateFiducials_data();
    void degenerateFiducials();
    void drag();
    void pointListDots_data();
    void pointListDots();
    void listFailureDrawsNothing();
    void noModeNoDots();
    void undecodableImageKeepsView();
    void namesInUrls();
    void slideChangeWhileLoading();
    void slideChangeWhileListsRun();
    void readPointList_data();
    void readPointList();
    void markPoint();
    void painting();

private:
    QByteArray white;
};

void TestHighResPreview::initTestCase()
{
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    qRegisterMetaType<CoordinateTriple>("CoordinateTriple&");
    qRegisterMetaType<QImage>("QImage&");
    qRegisterMetaType<QPixmap>("QPixmap&");
    white = slideJpeg(Qt::white);
}

void TestHighResPreview::fallbackMapping()
{
    HighResPreview v;
    v.resize(383, 270);
    QCOMPARE(v.pixelWidth, 3060.0);
    QCOMPARE(v.slideHeightMm, 50.325f);
    // The location starts at the slide centre, which maps to (1530, 1018) and back exactly.
    QCOMPARE(v.location.x, 378350.0f);
    QCOMPARE(v.location.y, 251625.0f);
    QCOMPARE(v.location.z, 0.0f);
    QCOMPARE(v.physicalToPixel(stage(378350, 251625)), QPoint(1530, 1018));
    const CoordinateTriple back = v.pixelToPhysical(QPoint(1530, 1018));
    QCOMPARE(back.x, 378350.0f);
    QCOMPARE(back.y, 251625.0f);
    QCOMPARE(v.pixelToPhysical(QPoint(0, 0)).x, 0.0f);

    // Clamped to keep a 383 x 270 view on the image; unclamped for what is drawn on it.
    QCOMPARE(v.physicalToPixel(stage(0, 0)), QPoint(191, 135));
    QCOMPARE(v.physicalToPixel(stage(756700, 503250)), QPoint(2869, 1901));
    QCOMPARE(v.physicalToImagePixel(stage(0, 0)), QPoint(0, 0));
    QCOMPARE(v.physicalToImagePixel(stage(20000, 30000)), QPoint(80, 121));
    QCOMPARE(v.physicalToImagePixel(stage(378350, 251625)), QPoint(1530, 1018));

    // Coordinates far off the slide stay bounded and finite.
    const QPoint far = v.physicalToImagePixel(stage(3e38f, -3e38f));
    QVERIFY(far.x() > 0 && far.x() <= 1000000);
    QVERIFY(far.y() < 0 && far.y() >= -1000000);
    QCOMPARE(v.physicalToPixel(stage(3e38f, -3e38f)), QPoint(2869, 135));

    // A view larger than the image: the upper bound wins.
    v.resize(4000, 3000);
    QCOMPARE(v.physicalToPixel(stage(0, 0)), QPoint(1060, 536));
    QCOMPARE(v.physicalToPixel(stage(756700, 503250)), QPoint(1060, 536));
}

void TestHighResPreview::calibrationSources()
{
    Site site;
    for (const char* s : {"S1", "S2", "S3"})
        site.image(s, white);
    site.fiducials("S1.scopeA.new", Offset);
    site.fiducials("S1", "0 0 1000 0 0 1000 1000 1000 10 10");   // not read: the corrected file wins
    site.fiducials("S2", Rotated);
    auto v = previewOn(site);

    // The corrected file.
    load(*v, "S1");
    QVERIFY(waitIdle(*v));
    QCOMPARE(site.paths("/fiducials/"), QStringList{"/fiducials/S1.scopeA.new"});
    QCOMPARE(site.paths("/whole_slides/"), QStringList{"/whole_slides/S1"});
    QVERIFY(v->haveNewFiducials);
    QCOMPARE(v->pixelWidth, 2860.0);
    QCOMPARE(v->pixelHeight, 1900.0);
    QCOMPARE(v->angle, 0.0);
    QCOMPARE(v->originX, 100.0);
    QCOMPARE(v->originY, 80.0);
    QCOMPARE(v->fiducialBottomRight, QPoint(2960, 1980));
    QCOMPARE(v->physicalToPixel(stage(378350, 251625)), QPoint(1530, 1030));
    const CoordinateTriple c = v->pixelToPhysical(QPoint(1530, 1030));
    QCOMPARE(c.x, 378350.0f);
    QCOMPARE(c.y, 251625.0f);
    QCOMPARE(c.z, 0.0f);

    // No corrected file: the slide's own base file, eight values, so the nominal sizes.
    site.host->clearLog();
    load(*v, "S2");
    QVERIFY(waitIdle(*v));
    QCOMPARE(site.paths("/fiducials/"),
             (QStringList{"/fiducials/S2.scopeA.new", "/fiducials/S2"}));
    QVERIFY(!v->haveNewFiducials);
    QCOMPARE(v->pixelWidth, 2002.4984394500786);
    QCOMPARE(v->pixelHeight, 2002.4984394500786);
    QCOMPARE(v->angle, 0.049958395721942765);
    QCOMPARE(v->slideWidthMm, 75.67f);
    QCOMPARE(v->slideHeightMm, 50.325f);
    QCOMPARE(v->originX, 0.0);
    QCOMPARE(v->physicalToPixel(stage(100000, 100000)), QPoint(244, 410));

    // Neither file: the built-in calibration.
    site.host->clearLog();
    load(*v, "S3");
    QVERIFY(waitIdle(*v));
    QCOMPARE(site.paths("/fiducials/"),
             (QStringList{"/fiducials/S3.scopeA.new", "/fiducials/S3"}));
    QCOMPARE(v->pixelWidth, 3060.0);
    QCOMPARE(v->pixelHeight, 2036.0);
    QCOMPARE(v->angle, 0.0);
    QCOMPARE(v->originX, 0.0);
    QCOMPARE(v->originY, 0.0);
    QCOMPARE(v->slideWidthMm, 75.67f);
    QCOMPARE(v->physicalToPixel(stage(378350, 251625)), QPoint(1530, 1018));
    // Loading a slide moves neither the location nor anything else but the calibration.
    QCOMPARE(v->location.x, 378350.0f);
}

void TestHighResPreview::degenerateFiducials_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<double>("pixelWidth");     // 3060: the built-in calibration
    QTest::addColumn<double>("originX");
    QTest::addColumn<float>("widthMm");

    const QByteArray marks = "100 80 2960 80 100 1980 2960 1980 ";
    QTest::newRow("empty") << QByteArray() << 3060.0 << 0.0 << 75.67f;
    QTest::newRow("three values") << QByteArray("1 2 3") << 3060.0 << 0.0 << 75.67f;
    QTest::newRow("seven values") << QByteArray("100 80 2960 80 100 1980 2960") << 3060.0 << 0.0 << 75.67f;
    QTest::newRow("not numbers") << QByteArray("a b c d e f g h i j") << 3060.0 << 0.0 << 75.67f;
    QTest::newRow("html error page") << QByteArray("<html>404</html>") << 3060.0 << 0.0 << 75.67f;
    QTest::newRow("all marks equal") << QByteArray("5 5 5 5 5 5 5 5 75.67 50.325") << 3060.0 << 0.0 << 75.67f;
    QTest::newRow("no width") << QByteArray("0 0 0 0 0 2000 0 2000") << 3060.0 << 0.0 << 75.67f;
    QTest::newRow("no height") << QByteArray("0 0 3000 0 0 0 3000 0") << 3060.0 << 0.0 << 75.67f;
    QTest::newRow("zero mm") << marks + "0 50.325" << 3060.0 << 0.0 << 75.67f;
    QTest::newRow("negative mm") << marks + "75.67 -50.325" << 3060.0 << 0.0 << 75.67f;
    QTest::newRow("mark out of range") << QByteArray("3000000000 80 2960 80 100 1980 2960 1980")
                                       << 3060.0 << 0.0 << 75.67f;
    // Eight good marks with unreadable sizes: the nominal sizes, as with any eight-value file.
    QTest::newRow("nan mm") << marks + "nan 50.325" << 2860.0 << 100.0 << 75.67f;
    QTest::newRow("inf mm") << marks + "inf inf" << 2860.0 << 100.0 << 75.67f;
    QTest::newRow("one mm value") << marks + "60.5" << 2860.0 << 100.0 << 75.67f;
    QTest::newRow("sizes read") << marks + "60.5 40.25 trailing text" << 2860.0 << 100.0 << 60.5f;
    // Decimal, whatever the leading zeros.
    QTest::newRow("leading zeros") << QByteArray("0100 080 02960 080 0100 01980 02960 01980 75.67 50.325")
                                   << 2860.0 << 100.0 << 75.67f;
}

void TestHighResPreview::degenerateFiducials()
{
    QFETCH(QByteArray, file);
    QFETCH(double, pixelWidth);
    QFETCH(double, originX);
    QFETCH(float, widthMm);

    Site site;
    site.image("S0", white);
    site.image("S1", white);
    site.fiducials("S0.scopeA.new", "50 40 2950 40 50 1990 2950 1990 72 48");
    site.fiducials("S1.scopeA.new", file);
    auto v = previewOn(site);
    load(*v, "S0");
    QVERIFY(waitIdle(*v));
    QCOMPARE(v->originX, 50.0);

    // Nothing of the previous slide's calibration survives a bad file.
    load(*v, "S1");
    QVERIFY(waitIdle(*v));
    QCOMPARE(v->pixelWidth, pixelWidth);
    QCOMPARE(v->originX, originX);
    QCOMPARE(v->slideWidthMm, widthMm);
    for (double d : {v->angle, v->pixelWidth, v->pixelHeight, v->originX, v->originY,
                     double(v->slideWidthMm), double(v->slideHeightMm)})
        QVERIFY(std::isfinite(d));
    QVERIFY(v->pixelWidth > 0 && v->pixelHeight > 0);

    // A drag over it reports finite stage coordinates.
    QSignalSpy moved(v.get(), &HighResPreview::locationChanged);
    QTest::mousePress(v.get(), Qt::LeftButton, {}, QPoint(100, 100));
    QTest::mouseMove(v.get(), QPoint(140, 60));
    QCOMPARE(moved.count(), 1);
    const auto t = moved.at(0).at(0).value<CoordinateTriple>();
    QVERIFY(std::isfinite(t.x) && std::isfinite(t.y));
    const QPoint p = v->physicalToImagePixel(t);
    QVERIFY(qAbs(p.x() - (v->pressPixel.x() + 80)) <= 1);
    QVERIFY(qAbs(p.y() - (v->pressPixel.y() - 80)) <= 1);
}

void TestHighResPreview::drag()
{
    HighResPreview v;
    v.resize(383, 270);
    v.show();
    QVERIFY(QTest::qWaitForWindowExposed(&v));
    QSignalSpy moved(&v, &HighResPreview::locationChanged);

    QTest::mousePress(&v, Qt::LeftButton, {}, QPoint(200, 100));
    QCOMPARE(v.pressPos, QPoint(200, 100));
    QCOMPARE(v.pressPixel, QPoint(1530, 1018));
    QCOMPARE(moved.count(), 0);
    QTest::mouseMove(&v, QPoint(210, 95));
    QCOMPARE(moved.count(), 1);
    const auto t = moved.at(0).at(0).value<CoordinateTriple>();
    const CoordinateTriple expected = v.pixelToPhysical(QPoint(1550, 1008));
    QCOMPARE(t.x, expected.x);
    QCOMPARE(t.y, expected.y);
    QCOMPARE(t.z, 0.0f);
    QCOMPARE(v.physicalToPixel(v.location), QPoint(1550, 1008));
    QTest::mouseRelease(&v, Qt::LeftButton, {}, QPoint(210, 95));
    QCOMPARE(moved.count(), 1);

    // Any button drags; every step is reported, relative to the press.
    QTest::mousePress(&v, Qt::RightButton, {}, QPoint(100, 100));
    QCOMPARE(v.pressPixel, QPoint(1550, 1008));
    QTest::mouseMove(&v, QPoint(90, 100));
    QTest::mouseMove(&v, QPoint(80, 110));
    QCOMPARE(moved.count(), 3);
    QCOMPARE(v.physicalToPixel(v.location), QPoint(1510, 1028));

    // Dragging past the image's edge is not clamped; the view centre is.
    QTest::mouseMove(&v, QPoint(-900, 110));
    QVERIFY(v.location.x < 0);
    QCOMPARE(v.physicalToPixel(v.location).x(), 191);
    QTest::mouseRelease(&v, Qt::RightButton, {}, QPoint(-900, 110));

    // setLocation moves the view without a signal.
    CoordinateTriple there(100000, 90000, 5);
    v.setLocation(there);
    QCOMPARE(moved.count(), 4);
    QCOMPARE(v.location.z, 5.0f);
    QCOMPARE(v.physicalToPixel(v.location), QPoint(404, 364));
}

void TestHighResPreview::pointListDots_data()
{
    QTest::addColumn<bool>("jobMode");
    QTest::addColumn<int>("redDelay");
    QTest::addColumn<int>("greenDelay");
    QTest::newRow("slide list, red first") << false << 0 << 500;
    QTest::newRow("slide list, green first") << false << 500 << 0;
    QTest::newRow("job list, red first") << true << 0 << 500;
    QTest::newRow("job list, green first") << true << 500 << 0;
}

void TestHighResPreview::pointListDots()
{
    QFETCH(bool, jobMode);
    QFETCH(int, redDelay);
    QFETCH(int, greenDelay);

    Site site;
    site.image("S1", white);
    site.image("S2", white);
    const QString first = jobMode ? QStringLiteral("jl:J7") : QStringLiteral("sl:S1");
    const QString second = jobMode ? QStringLiteral("sbl:J7") : QStringLiteral("sbl:S1");
    site.list(first, "S1 100000 100000\nS1 20000 30000\n", redDelay);
    site.list(second, "S1 300000 200000\n", greenDelay);

    auto v = previewOn(site);
    v->slideListMode = !jobMode;
    v->jobListMode = jobMode;
    v->jobId = QStringLiteral("J7");
    load(*v, "S1");

    // Once the faster list is in, nothing is drawn yet.
    QVERIFY(QTest::qWaitFor([&] { return site.host->count("icount:sbl") == 1; }, 10000));
    QVERIFY(QTest::qWaitFor([&] { return v->counts1.isBusy() != v->counts2.isBusy(); }, 10000));
    QVERIFY(v->list1.isEmpty() && v->list2.isEmpty());
    QVERIFY(!isRed(at(v->pixmap, QPoint(1213, 809))));
    QVERIFY(!isGreen(at(v->pixmap, QPoint(1213, 809))));

    QVERIFY(waitIdle(*v));
    if (jobMode) {
        QCOMPARE(site.queries("icount:jl"), QStringList{"f=jl&j=J7&c=1"});
        QCOMPARE(site.queries("icount:sbl"), QStringList{"f=sbl&s=J7&c=1"});
        QCOMPARE(site.host->count("icount:sl"), 0);
    } else {
        QCOMPARE(site.queries("icount:sl"), QStringList{"f=sl&s=S1"});
        QCOMPARE(site.queries("icount:sbl"), QStringList{"f=sbl&s=S1&c=2"});
        QCOMPARE(site.host->count("icount:jl"), 0);
    }
    // Every dot at its own pixel, also near the image's edge.
    const QPoint red1 = v->physicalToImagePixel(stage(100000, 100000));
    const QPoint green1 = v->physicalToImagePixel(stage(300000, 200000));
    QCOMPARE(v->list1, (QVector<QPoint>{red1, QPoint(80, 121)}));
    QCOMPARE(v->list2, QVector<QPoint>{green1});
    for (const QPixmap* pm : {&v->pixmap, &v->backup}) {
        QVERIFY(isRed(at(*pm, red1)));
        QVERIFY(isRed(at(*pm, QPoint(80, 121))));
        QVERIFY(isGreen(at(*pm, green1)));
        QVERIFY(!isRed(at(*pm, QPoint(191, 135))));
    }

    // The next slide: while only one of its lists is in, the slide shows no dots at all.
    const QString first2 = jobMode ? QStringLiteral("jl:J8") : QStringLiteral("sl:S2");
    const QString second2 = jobMode ? QStringLiteral("sbl:J8") : QStringLiteral("sbl:S2");
    site.list(first2, "S2 50000 60000\n", redDelay);
    site.list(second2, "S2 60000 60000\n", greenDelay);
    v->jobId = QStringLiteral("J8");
    load(*v, "S2");
    QVERIFY(QTest::qWaitFor([&] { return site.host->count("icount:sbl") == 2; }, 10000));
    QVERIFY(QTest::qWaitFor([&] { return v->counts1.isBusy() != v->counts2.isBusy(); }, 10000));
    const QPoint red2 = v->physicalToImagePixel(stage(50000, 60000));
    const QPoint green2 = v->physicalToImagePixel(stage(60000, 60000));
    for (const QPoint& p : {red1, green1, red2, green2}) {
        QVERIFY(!isRed(at(v->pixmap, p)));
        QVERIFY(!isGreen(at(v->pixmap, p)));
    }
    QVERIFY(waitIdle(*v));
    QCOMPARE(v->list1, QVector<QPoint>{red2});
    QCOMPARE(v->list2, QVector<QPoint>{green2});
    QVERIFY(isRed(at(v->pixmap, red2)));
    QVERIFY(isGreen(at(v->pixmap, green2)));
    QVERIFY(!isRed(at(v->pixmap, red1)));
    QVERIFY(!isGreen(at(v->pixmap, green1)));
}

void TestHighResPreview::listFailureDrawsNothing()
{
    Site site;
    site.image("S1", white);
    site.list("sl:S1", "S1 100000 100000\n");       // the green list is missing (404)
    auto v = previewOn(site);
    v->slideListMode = true;
    load(*v, "S1");
    QVERIFY(QTest::qWaitFor([&] { return site.host->count("icount:sbl") == 1; }, 10000));
    QVERIFY(waitIdle(*v));
    QVERIFY(v->list1.isEmpty());
    QVERIFY(!isRed(at(v->pixmap, v->physicalToImagePixel(stage(100000, 100000)))));
}

void TestHighResPreview::noModeNoDots()
{
    Site site;
    site.image("S1", white);
    site.image("S2", white);
    site.list("sl:S1", "S1 100000 100000\n");
    site.list("sbl:S1", "");
    auto v = previewOn(site);
    v->slideListMode = true;
    load(*v, "S1");
    QVERIFY(QTest::qWaitFor([&] { return !v->list1.isEmpty(); }, 10000));
    const QPoint dot = v->list1.first();
    QVERIFY(isRed(at(v->pixmap, dot)));

    v->slideListMode = false;
    load(*v, "S2");
    QVERIFY(QTest::qWaitFor([&] { return site.host->count("/whole_slides/") == 2; }, 10000));
    QVERIFY(waitIdle(*v));
    QCOMPARE(site.host->count("icount:sl"), 1);
    QVERIFY(!isRed(at(v->pixmap, dot)));
    QVERIFY(!isRed(at(v->backup, dot)));
}

void TestHighResPreview::undecodableImageKeepsView()
{
    // A whole-slide reply that does not decode reaches the view as a null picture: the view
    // keeps what it shows and asks for no point lists for it.
    Site site;
    site.image("S1", white);
    site.list("sl:S1", "S1 100000 100000\n");
    site.list("sbl:S1", "");
    auto v = previewOn(site);
    v->slideListMode = true;
    load(*v, "S1");
    QVERIFY(QTest::qWaitFor([&] { return !v->list1.isEmpty(); }, 10000));
    QVERIFY(waitIdle(*v));
    const qint64 shown = v->pixmap.cacheKey();
    QPixmap none;
    emit v->jpeg.newPixmapAvailable(none);
    QCOMPARE(v->pixmap.cacheKey(), shown);
    QVERIFY(!v->backup.isNull());
    QVERIFY(!v->counts1.isBusy());
    QCOMPARE(site.host->count("icount:sl"), 1);
}

void TestHighResPreview::namesInUrls()
{
    // Names go into the URLs as they are, escaped only where they would change its structure.
    Site site;
    site.image("A B#1", white);
    site.fiducials("A B#1", Offset);
    site.list("sl:A B#1", "");
    site.list("sbl:A B#1", "");
    auto v = previewOn(site);
    v->fiducialTag = QStringLiteral("scope-2");
    v->slideListMode = true;
    load(*v, "A B#1");
    QVERIFY(QTest::qWaitFor([&] { return site.host->count("icount:sbl") == 1; }, 10000));
    QVERIFY(waitIdle(*v));
    QCOMPARE(site.paths("/whole_slides/"), QStringList{"/whole_slides/A B#1"});
    QCOMPARE(site.paths("/fiducials/"),
             (QStringList{"/fiducials/A B#1.scope-2.new", "/fiducials/A B#1"}));
    QCOMPARE(site.queries("icount:sl"), QStringList{"f=sl&s=A%20B%231"});
    QCOMPARE(site.queries("icount:sbl"), QStringList{"f=sbl&s=A%20B%231&c=2"});
    QCOMPARE(v->originX, 100.0);
}

void TestHighResPreview::slideChangeWhileLoading()
{
    // The first slide's image and corrected fiducials are still running when the second slide
    // is chosen: they are discarded, and the second slide's are fetched when they are done.
    Site site;
    site.image("S1", slideJpeg(Qt::blue), 400);
    site.image("S2", slideJpeg(Qt::yellow));
    site.fiducials("S1.scopeA.new", "50 40 2950 40 50 1990 2950 1990 72 48", 400);
    site.fiducials("S2.scopeA.new", Offset);
    site.list("sl:S1", "S1 100000 100000\n");
    site.list("sbl:S1", "");
    site.list("sl:S2", "S2 200000 100000\n");
    site.list("sbl:S2", "S2 200000 150000\n");
    auto v = previewOn(site);
    v->slideListMode = true;
    load(*v, "S1");
    load(*v, "S2");
    QCOMPARE(v->slideName, QStringLiteral("S2"));
    QVERIFY(QTest::qWaitFor([&] { return site.host->count("icount:sbl") == 1; }, 10000));
    QVERIFY(waitIdle(*v));

    QCOMPARE(site.paths("/whole_slides/"), (QStringList{"/whole_slides/S1", "/whole_slides/S2"}));
    QCOMPARE(site.paths("/fiducials/"),
             (QStringList{"/fiducials/S1.scopeA.new", "/fiducials/S2.scopeA.new"}));
    QCOMPARE(v->originX, 100.0);
    QCOMPARE(v->pixelWidth, 2860.0);
    const QColor c = at(v->pixmap, QPoint(10, 10));
    QVERIFY(c.red() > 200 && c.green() > 200 && c.blue() < 60);      // yellow: the second slide
    QCOMPARE(site.queries("icount:sl"), QStringList{"f=sl&s=S2"});
    QCOMPARE(v->list1, QVector<QPoint>{v->physicalToImagePixel(stage(200000, 100000))});
    QVERIFY(isRed(at(v->pixmap, v->list1.first())));
}

void TestHighResPreview::slideChangeWhileListsRun()
{
    // The first slide's lists are still running when the second slide's image arrives: they
    // are discarded and the second slide's lists requested once both are back.
    Site site;
    site.image("S1", white);
    site.image("S2", white);
    site.list("sl:S1", "S1 100000 100000\n", 600);
    site.list("sbl:S1", "S1 100000 150000\n", 600);
    site.list("sl:S2", "S2 200000 100000\n");
    site.list("sbl:S2", "S2 200000 150000\n");
    auto v = previewOn(site);
    v->slideListMode = true;
    load(*v, "S1");
    QVERIFY(QTest::qWaitFor([&] { return site.host->count("icount:sbl") == 1; }, 10000));
    QVERIFY(v->counts1.isBusy() && v->counts2.isBusy());
    load(*v, "S2");
    QVERIFY(QTest::qWaitFor([&] { return site.host->count("/whole_slides/") == 2; }, 10000));
    QVERIFY(QTest::qWaitFor([&] { return site.host->count("icount:sbl") == 2; }, 10000));
    QVERIFY(waitIdle(*v));

    QCOMPARE(site.queries("icount:sl"), (QStringList{"f=sl&s=S1", "f=sl&s=S2"}));
    QCOMPARE(site.queries("icount:sbl"), (QStringList{"f=sbl&s=S1&c=2", "f=sbl&s=S2&c=2"}));
    const QPoint s1red = v->physicalToImagePixel(stage(100000, 100000));
    const QPoint s1green = v->physicalToImagePixel(stage(100000, 150000));
    const QPoint s2red = v->physicalToImagePixel(stage(200000, 100000));
    const QPoint s2green = v->physicalToImagePixel(stage(200000, 150000));
    QCOMPARE(v->list1, QVector<QPoint>{s2red});
    QCOMPARE(v->list2, QVector<QPoint>{s2green});
    QVERIFY(isRed(at(v->pixmap, s2red)));
    QVERIFY(isGreen(at(v->pixmap, s2green)));
    QVERIFY(!isRed(at(v->pixmap, s1red)));
    QVERIFY(!isGreen(at(v->pixmap, s1green)));
}

void TestHighResPreview::readPointList_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QList<QPointF>>("points");
    using P = QList<QPointF>;
    QTest::newRow("two lines") << QByteArray("S1 1 2\nS1 3.5 -4\n") << P{{1, 2}, {3.5, -4}};
    QTest::newRow("no final newline") << QByteArray("S1 7 8") << P{{7, 8}};
    QTest::newRow("crlf and tabs") << QByteArray("S1\t1 2\r\nS1 3\t4\r\n") << P{{1, 2}, {3, 4}};
    QTest::newRow("empty line") << QByteArray("\nS1 5 6\n\n") << P{{5, 6}};
    QTest::newRow("no numbers") << QByteArray("S1 1 2\nS1 x y\nS1 5\n") << P{{1, 2}};
    QTest::newRow("error text") << QByteArray("-NO_AUTHORIZATION") << P{};
    QTest::newRow("empty") << QByteArray() << P{};
    QTest::newRow("not finite") << QByteArray("S1 nan 2\nS1 inf 3\nS1 1e40 4\nS1 9 10\n") << P{{9, 10}};
    QTest::newRow("long name") << QByteArray(300, 'n') + " 11 12\n" << P{{11, 12}};
    QTest::newRow("cut last line") << QByteArray("S1 1 2\nS1 3") << P{{1, 2}};
    QTest::newRow("nul inside") << QByteArray("S1 1 2\n\0S1 3 4\n", 15) << P{{1, 2}};
}

void TestHighResPreview::readPointList()
{
    QFETCH(QByteArray, reply);
    QFETCH(QList<QPointF>, points);
    QList<QPointF> got;
    for (const CoordinateTriple& t : HighResPreview::readPointList(reply)) {
        QCOMPARE(t.z, 0.0f);
        got << QPointF(t.x, t.y);
    }
    QCOMPARE(got, points);
}

void TestHighResPreview::markPoint()
{
    HighResPreview v;
    v.resize(383, 270);
    v.markPoint(20000, 30000);          // no image yet: nothing to draw on
    QVERIFY(v.pixmap.isNull());

    QPixmap clean(HighResPreview::ImageWidth, HighResPreview::ImageHeight);
    clean.fill(Qt::white);
    v.pixmap = clean;
    v.backup = clean;
    v.markPoint(20000, 30000);
    v.markPoint(100000, 100000);
    QVERIFY(isRed(at(v.pixmap, QPoint(80, 121))));         // its own pixel, not the clamp line
    QVERIFY(isRed(at(v.pixmap, QPoint(404, 404))));
    QVERIFY(!isRed(at(v.pixmap, QPoint(191, 135))));
    QCOMPARE(at(v.backup, QPoint(80, 121)), QColor(Qt::white));
    // A mark covers 2 x 2 pixels.
    QVERIFY(!isRed(at(v.pixmap, QPoint(82, 121))));
    QVERIFY(!isRed(at(v.pixmap, QPoint(80, 123))));
}

void TestHighResPreview::painting()
{
    HighResPreview v;
    v.resize(383, 270);
    QImage img(HighResPreview::ImageWidth, HighResPreview::ImageHeight, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter(&img).fillRect(QRect(1600, 0, 1460, 2036), Qt::darkCyan);
    v.pixmap = QPixmap::fromImage(img);
    v.backup = v.pixmap;

    // The view shows the image around the location's pixel (1530, 1018).
    QImage shot = v.grab().toImage();
    QCOMPARE(shot.pixelColor(191 + 60, 200), QColor(Qt::white));
    QCOMPARE(shot.pixelColor(191 + 70, 200), QColor(Qt::darkCyan));
    // The location marker: a 10 x 10 green ring at the centre.
    int greenInside = 0, greenOutside = 0;
    for (int y = 120; y < 150; ++y)
        for (int x = 176; x < 206; ++x) {
            const bool inside = x >= 186 && x < 196 && y >= 130 && y < 140;
            if (isGreen(shot.pixelColor(x, y)))
                ++(inside ? greenInside : greenOutside);
        }
    QVERIFY(greenInside > 0);
    QCOMPARE(greenOutside, 0);
    QVERIFY(!isGreen(shot.pixelColor(191, 135)));

    // The selection: its size, centred on the view, exactly 100 x 50 pixels.
    v.selA = QPoint(1000, 1000);
    v.selB = QPoint(1100, 1050);
    QCOMPARE(v.grab().toImage().pixelColor(141, 120), QColor(Qt::white));
    v.showSelection = true;
    shot = v.grab().toImage();
    const QColor blue(Qt::blue);
    QCOMPARE(shot.pixelColor(141, 120), blue);
    QCOMPARE(shot.pixelColor(240, 120), blue);
    QCOMPARE(shot.pixelColor(180, 110), blue);
    QCOMPARE(shot.pixelColor(180, 159), blue);
    QVERIFY(shot.pixelColor(241, 120) != blue);
    QVERIFY(shot.pixelColor(180, 160) != blue);

    // The view follows the location, and stops at the image's edge.
    CoordinateTriple corner(0, 0, 0);
    v.setLocation(corner);
    shot = v.grab().toImage();
    QCOMPARE(shot.pixelColor(0, 0), QColor(Qt::white));
    QCOMPARE(shot.pixelColor(382, 269), QColor(Qt::white));
    CoordinateTriple right(756700, 0, 0);
    v.setLocation(right);
    QCOMPARE(v.grab().toImage().pixelColor(0, 0), QColor(Qt::darkCyan));
}

QTEST_MAIN(TestHighResPreview)
#include "tst_highrespreview.moc"
