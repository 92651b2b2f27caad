// High-resolution slide view over loopback: calibration sources and degenerate fiducial files,
// the two mappings, drag navigation, point-list dots and their arrival order, slide changes
// while replies are still running, and what the view paints.
#include "HighResPreview.h"
#include "TestHost.h"
#include "TestImages.h"

#include <QLoggingCategory>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>

#include <cmath>
#include <memory>

namespace {

QByteArray slideJpeg(QRgb colour)
{
    return TestImages::jpeg(TestImages::solid(HighResPreview::ImageWidth, HighResPreview::ImageHeight, colour));
}

// A host serving slide files and point lists from a table that a test fills.
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
    void add(const QString& key, HostReply r, int delayMs) { r.delayMs = delayMs; replies.insert(key, r); }
    void image(const QString& slide, const QByteArray& jpeg, int delayMs = 0)
    {
        add("/whole_slides/" + slide, HostReply::jpeg(jpeg), delayMs);
    }
    void fiducials(const QString& path, const QByteArray& text, int delayMs = 0)
    {
        add("/fiducials/" + path, HostReply::text(text), delayMs);
    }
    void list(const QString& key, const QByteArray& text, int delayMs = 0) { add(key, HostReply::text(text), delayMs); }
    // The paths (files) or raw queries (lists) asked for on a route, in order.
    QStringList asked(const QString& route) const
    {
        QStringList out;
        for (const auto& e : host.host->requests(route))
            out << (route.startsWith('/') ? e.path : QString::fromLatin1(e.rawQuery));
        return out;
    }
    int count(const QString& route) const { return host.host->count(route); }
};

std::unique_ptr<HighResPreview> previewOn(Site& site, bool slideLists = false)
{
    auto v = std::make_unique<HighResPreview>();
    v->resize(383, 270);
    v->setServer(site.host.field());
    v->fiducialTag = QStringLiteral("scopeA");
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

void load(HighResPreview& v, QString slide)
{
    v.slideChange(slide);
}

QColor at(const QPixmap& pm, const QPoint& p) { return pm.toImage().pixelColor(p); }
bool isRed(QColor c) { return c.red() > 200 && c.green() < 60 && c.blue() < 60; }
bool isGreen(QColor c) { return c.green() > 200 && c.red() < 60 && c.blue() < 60; }
CoordinateTriple stage(float x, float y) { return CoordinateTriple(x, y, 0); }

const QByteArray Offset = "100 80 2960 80 100 1980 2960 1980 75.67 50.325";

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
    void listsNotDrawn();
    void slideChanges();
    void readPointList_data();
    void readPointList();
    void markPointAndPainting();

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

void TestHighResPreview::fallbackMapping()
{
    HighResPreview v;
    v.resize(383, 270);
    // The location starts at the slide centre, which maps to (1530, 1018) and back exactly.
    QCOMPARE(v.physicalToPixel(v.location), QPoint(1530, 1018));
    QCOMPARE(v.location.x, 378350.0f);
    QCOMPARE(v.location.y, 251625.0f);

    // Clamped to keep a 383 x 270 view on the image; unclamped for what is drawn on it.
    QCOMPARE(v.physicalToPixel(stage(0, 0)), QPoint(191, 135));
    QCOMPARE(v.physicalToPixel(stage(756700, 503250)), QPoint(2869, 1901));
    QCOMPARE(v.physicalToImagePixel(stage(0, 0)), QPoint(0, 0));
    QCOMPARE(v.physicalToImagePixel(stage(20000, 30000)), QPoint(80, 121));

    // Coordinates far off the slide stay bounded and finite.
    const QPoint far = v.physicalToImagePixel(stage(3e38f, -3e38f));
    QVERIFY(far.x() > 0 && far.x() <= 1000000 && far.y() < 0 && far.y() >= -1000000);
    QCOMPARE(v.physicalToPixel(stage(3e38f, -3e38f)), QPoint(2869, 135));

    // A view larger than the image: the upper bound wins.
    v.resize(4000, 3000);
    QCOMPARE(v.physicalToPixel(stage(0, 0)), QPoint(1060, 536));
}

void TestHighResPreview::calibrationSources()
{
    Site site;
    for (const char* s : {"S1", "S2", "S3"})
        site.image(s, white);
    site.fiducials("S1.scopeA.new", Offset);
    site.fiducials("S1", "0 0 1000 0 0 1000 1000 1000 10 10");   // not read: the corrected file wins
    site.fiducials("S2", "0 0 2000 100 -100 2000 1900 2100\n");
    auto v = previewOn(site);

    // The corrected file.
    load(*v, "S1");
    QVERIFY(waitIdle(*v));
    QCOMPARE(site.asked("/fiducials/"), QStringList{"/fiducials/S1.scopeA.new"});
    QCOMPARE(site.asked("/whole_slides/"), QStringList{"/whole_slides/S1"});
    QVERIFY(v->haveNewFiducials);
    QCOMPARE(v->pixelWidth, 2860.0);
    QCOMPARE(v->pixelHeight, 1900.0);
    QCOMPARE(v->originY, 80.0);
    QCOMPARE(v->physicalToPixel(stage(378350, 251625)), QPoint(1530, 1030));
    const CoordinateTriple c = v->pixelToPhysical(QPoint(1530, 1030));
    QCOMPARE(c.x, 378350.0f);
    QCOMPARE(c.y, 251625.0f);

    // No corrected file: the slide's own base file, rotated, eight values, so the nominal sizes.
    site.host->clearLog();
    load(*v, "S2");
    QVERIFY(waitIdle(*v));
    QCOMPARE(site.asked("/fiducials/"), (QStringList{"/fiducials/S2.scopeA.new", "/fiducials/S2"}));
    QVERIFY(!v->haveNewFiducials);
    QCOMPARE(v->pixelWidth, 2002.4984394500786);
    QCOMPARE(v->angle, 0.049958395721942765);
    QCOMPARE(v->slideWidthMm, 75.67f);
    QCOMPARE(v->originX, 0.0);
    QCOMPARE(v->physicalToPixel(stage(100000, 100000)), QPoint(244, 410));

    // Neither file: the built-in calibration, nothing left of the previous one.
    load(*v, "S3");
    QVERIFY(waitIdle(*v));
    QCOMPARE(v->pixelWidth, 3060.0);
    QCOMPARE(v->angle, 0.0);
    QCOMPARE(v->physicalToPixel(stage(378350, 251625)), QPoint(1530, 1018));
}

void TestHighResPreview::degenerateFiducials_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<double>("pixelWidth");     // 3060: the built-in calibration
    QTest::addColumn<float>("widthMm");

    const QByteArray marks = "100 80 2960 80 100 1980 2960 1980 ";
    QTest::newRow("empty") << QByteArray() << 3060.0 << 75.67f;
    QTest::newRow("seven values") << QByteArray("100 80 2960 80 100 1980 2960") << 3060.0 << 75.67f;
    QTest::newRow("all marks equal") << QByteArray("5 5 5 5 5 5 5 5 75.67 50.325") << 3060.0 << 75.67f;
    QTest::newRow("no height") << QByteArray("0 0 3000 0 0 0 3000 0") << 3060.0 << 75.67f;
    QTest::newRow("zero mm") << marks + "0 50.325" << 3060.0 << 75.67f;
    QTest::newRow("negative mm") << marks + "75.67 -50.325" << 3060.0 << 75.67f;
    QTest::newRow("mark out of range") << QByteArray("3000000000 80 2960 80 100 1980 2960 1980") << 3060.0 << 75.67f;
    // Eight good marks with unreadable sizes: the nominal sizes, as with any eight-value file.
    QTest::newRow("nan mm") << marks + "nan 50.325" << 2860.0 << 75.67f;
    QTest::newRow("one mm value") << marks + "60.5" << 2860.0 << 75.67f;
    QTest::newRow("sizes read") << marks + "60.5 40.25 trailing text" << 2860.0 << 60.5f;
    // Decimal, whatever the leading zeros.
    QTest::newRow("leading zeros") << QByteArray("0100 080 02960 080 0100 01980 02960 01980 75.67 50.325")
                                   << 2860.0 << 75.67f;
}

void TestHighResPreview::degenerateFiducials()
{
    QFETCH(QByteArray, file);
    QFETCH(double, pixelWidth);
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
    QCOMPARE(v->originX, pixelWidth == 3060.0 ? 0.0 : 100.0);
    QCOMPARE(v->slideWidthMm, widthMm);
    for (double d : {v->angle, v->pixelHeight, v->originY, double(v->slideHeightMm)})
        QVERIFY(std::isfinite(d));
    QVERIFY(v->pixelHeight > 0 && v->slideHeightMm > 0);

    // A drag over it reports finite stage coordinates, where the drag put them.
    QSignalSpy moved(v.get(), &HighResPreview::locationChanged);
    QTest::mousePress(v.get(), Qt::LeftButton, {}, QPoint(100, 100));
    QTest::mouseMove(v.get(), QPoint(140, 60));
    QCOMPARE(moved.count(), 1);
    const auto t = moved.at(0).at(0).value<CoordinateTriple>();
    QVERIFY(std::isfinite(t.x) && std::isfinite(t.y));
    const QPoint p = v->physicalToImagePixel(t) - v->pressPixel;
    QVERIFY(qAbs(p.x() - 80) <= 1 && qAbs(p.y() + 80) <= 1);
}

void TestHighResPreview::drag()
{
    HighResPreview v;
    v.resize(383, 270);
    QSignalSpy moved(&v, &HighResPreview::locationChanged);

    // Every move reports the pixel twice the mouse's way from the press, with any button.
    QTest::mousePress(&v, Qt::RightButton, {}, QPoint(200, 100));
    QCOMPARE(v.pressPixel, QPoint(1530, 1018));
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
    site.image("A B#1", white);
    site.image("S2", white);
    site.list(red + id("J 7", "A B#1"), "S1 100000 100000\nS1 20000 30000\n");
    site.list("sbl:" + id("J 7", "A B#1"), "S1 300000 200000\n");
    auto v = previewOn(site, !jobMode);
    v->jobListMode = jobMode;
    v->jobId = QStringLiteral("J 7");
    v->fiducialTag = QStringLiteral("scope-2");
    load(*v, "A B#1");
    QVERIFY(QTest::qWaitFor([&] { return site.count("icount:sbl") == 1; }, 10000));
    QVERIFY(waitIdle(*v));
    QCOMPARE(site.asked("/whole_slides/"), QStringList{"/whole_slides/A B#1"});
    QCOMPARE(site.asked("/fiducials/"), (QStringList{"/fiducials/A B#1.scope-2.new", "/fiducials/A B#1"}));
    if (jobMode) {
        QCOMPARE(site.asked("icount:jl"), QStringList{"f=jl&j=J%207&c=1"});
        QCOMPARE(site.asked("icount:sbl"), QStringList{"f=sbl&s=J%207&c=1"});
        QCOMPARE(site.count("icount:sl"), 0);
    } else {
        QCOMPARE(site.asked("icount:sl"), QStringList{"f=sl&s=A%20B%231"});
        QCOMPARE(site.asked("icount:sbl"), QStringList{"f=sbl&s=A%20B%231&c=2"});
        QCOMPARE(site.count("icount:jl"), 0);
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

    // The next slide: while only one of its lists is in (the other request's last finished
    // transfer is still the first slide's), the slide shows no dots at all.
    site.list(red + id("J8", "S2"), "S2 50000 60000\n", redDelay);
    site.list("sbl:" + id("J8", "S2"), "S2 60000 60000\n", greenDelay);
    v->jobId = QStringLiteral("J8");
    load(*v, "S2");
    QVERIFY(QTest::qWaitFor([&] { return site.count("icount:sbl") == 2; }, 10000));
    QVERIFY(QTest::qWaitFor([&] { return v->counts1.isBusy() != v->counts2.isBusy(); }, 10000));
    const QPoint red2 = v->physicalToImagePixel(stage(50000, 60000));
    const QPoint green2 = v->physicalToImagePixel(stage(60000, 60000));
    for (const QPoint& p : {red1, green1, red2, green2})
        QVERIFY(!isRed(at(v->pixmap, p)) && !isGreen(at(v->pixmap, p)));
    QVERIFY(waitIdle(*v));
    QCOMPARE(v->list1, QVector<QPoint>{red2});
    QCOMPARE(v->list2, QVector<QPoint>{green2});
    QVERIFY(isRed(at(v->pixmap, red2)));
    QVERIFY(isGreen(at(v->pixmap, green2)));
    QVERIFY(!isRed(at(v->pixmap, red1)) && !isGreen(at(v->pixmap, green1)));
}

void TestHighResPreview::listsNotDrawn()
{
    Site site;
    site.image("S1", white);
    site.image("S2", white);
    site.image("S3", white);
    site.list("sl:S1", "S1 100000 100000\n");       // the green list of S1 is missing (404)
    site.list("sl:S2", "S2 100000 100000\n");
    site.list("sbl:S2", "");
    auto v = previewOn(site, true);
    const QPoint dot = v->physicalToImagePixel(stage(100000, 100000));

    // One list failed: nothing drawn.
    load(*v, "S1");
    QVERIFY(QTest::qWaitFor([&] { return site.count("icount:sbl") == 1; }, 10000));
    QVERIFY(waitIdle(*v));
    QVERIFY(v->list1.isEmpty());
    QVERIFY(!isRed(at(v->pixmap, dot)));

    load(*v, "S2");
    QVERIFY(QTest::qWaitFor([&] { return !v->list1.isEmpty(); }, 10000));
    QVERIFY(waitIdle(*v));
    QVERIFY(isRed(at(v->pixmap, dot)));

    // A whole-slide reply that does not decode reaches the view as a null picture: the view
    // keeps what it shows and asks for no point lists for it.
    const qint64 shown = v->pixmap.cacheKey();
    QPixmap none;
    emit v->jpeg.newPixmapAvailable(none);
    QCOMPARE(v->pixmap.cacheKey(), shown);
    QVERIFY(!v->backup.isNull());
    QVERIFY(!v->counts1.isBusy());

    // Neither list mode: no lists asked for, and the previous slide's dots are gone.
    v->slideListMode = false;
    load(*v, "S3");
    QVERIFY(QTest::qWaitFor([&] { return site.count("/whole_slides/") == 3; }, 10000));
    QVERIFY(waitIdle(*v));
    QCOMPARE(site.count("icount:sl"), 2);
    QVERIFY(!isRed(at(v->pixmap, dot)));
    QVERIFY(!isRed(at(v->backup, dot)));
}

void TestHighResPreview::slideChanges()
{
    Site site;
    site.image("S1", slideJpeg(qRgb(0, 0, 255)), 400);
    site.image("S2", slideJpeg(qRgb(255, 255, 0)));
    site.image("S3", white);
    site.image("S4", white);
    site.fiducials("S1.scopeA.new", "50 40 2950 40 50 1990 2950 1990 72 48", 400);
    site.fiducials("S2.scopeA.new", Offset);
    site.list("sl:S1", "S1 100000 100000\n");
    site.list("sbl:S1", "");
    site.list("sl:S2", "S2 200000 100000\n");
    site.list("sbl:S2", "S2 200000 150000\n");
    site.list("sl:S3", "S3 100000 100000\n", 600);
    site.list("sbl:S3", "S3 100000 150000\n", 600);
    site.list("sl:S4", "S4 300000 100000\n");
    site.list("sbl:S4", "S4 300000 150000\n");
    auto v = previewOn(site, true);

    // The first slide's image and corrected fiducials are still running when the second slide
    // is chosen: they are discarded, and the second slide's are fetched when they are done.
    load(*v, "S1");
    load(*v, "S2");
    QVERIFY(QTest::qWaitFor([&] { return site.count("icount:sbl") == 1; }, 10000));
    QVERIFY(waitIdle(*v));
    QCOMPARE(site.asked("/whole_slides/"), (QStringList{"/whole_slides/S1", "/whole_slides/S2"}));
    QCOMPARE(site.asked("/fiducials/"), (QStringList{"/fiducials/S1.scopeA.new", "/fiducials/S2.scopeA.new"}));
    QCOMPARE(v->originX, 100.0);
    const QColor c = at(v->pixmap, QPoint(10, 10));
    QVERIFY(c.red() > 200 && c.green() > 200 && c.blue() < 60);      // yellow: the second slide
    QCOMPARE(site.asked("icount:sl"), QStringList{"f=sl&s=S2"});
    QCOMPARE(v->list1, QVector<QPoint>{v->physicalToImagePixel(stage(200000, 100000))});
    QVERIFY(isRed(at(v->pixmap, v->list1.first())));

    // The third slide's lists are still running when the fourth slide's image arrives: they
    // are discarded and the fourth slide's lists requested once both are back.
    load(*v, "S3");
    QVERIFY(QTest::qWaitFor([&] { return site.count("icount:sbl") == 2; }, 10000));
    QVERIFY(v->counts1.isBusy() && v->counts2.isBusy());
    load(*v, "S4");
    QVERIFY(QTest::qWaitFor([&] { return site.count("icount:sbl") == 3; }, 10000));
    QVERIFY(waitIdle(*v));
    QCOMPARE(site.asked("icount:sl"), (QStringList{"f=sl&s=S2", "f=sl&s=S3", "f=sl&s=S4"}));
    const QPoint red = v->physicalToImagePixel(stage(300000, 100000));
    const QPoint green = v->physicalToImagePixel(stage(300000, 150000));
    QCOMPARE(v->list1, QVector<QPoint>{red});
    QCOMPARE(v->list2, QVector<QPoint>{green});
    QVERIFY(isRed(at(v->pixmap, red)) && isGreen(at(v->pixmap, green)));
    QVERIFY(!isRed(at(v->pixmap, v->physicalToImagePixel(stage(100000, 100000)))));
    QVERIFY(!isGreen(at(v->pixmap, v->physicalToImagePixel(stage(100000, 150000)))));
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

void TestHighResPreview::markPointAndPainting()
{
    HighResPreview v;
    v.resize(383, 270);
    v.markPoint(20000, 30000);          // no image yet: nothing to draw on
    QVERIFY(v.pixmap.isNull());

    // A mark covers 2 x 2 pixels at its own pixel, not on the clamp line, and not in the backup.
    QImage img(HighResPreview::ImageWidth, HighResPreview::ImageHeight, QImage::Format_RGB32);
    img.fill(Qt::white);
    v.backup = QPixmap::fromImage(img);
    v.pixmap = v.backup;
    v.markPoint(20000, 30000);
    QVERIFY(isRed(at(v.pixmap, QPoint(80, 121))) && isRed(at(v.pixmap, QPoint(81, 122))));
    QVERIFY(!isRed(at(v.pixmap, QPoint(82, 121))) && !isRed(at(v.pixmap, QPoint(80, 123))));
    QVERIFY(!isRed(at(v.pixmap, QPoint(191, 135))));
    QCOMPARE(at(v.backup, QPoint(80, 121)), QColor(Qt::white));

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

    // The selection: its size, centred on the view, exactly 100 x 50 pixels.
    v.selA = QPoint(1000, 1000);
    v.selB = QPoint(1100, 1050);
    QCOMPARE(v.grab().toImage().pixelColor(141, 120), QColor(Qt::white));
    v.showSelection = true;
    shot = v.grab().toImage();
    const QColor blue(Qt::blue);
    QCOMPARE(shot.pixelColor(141, 120), blue);
    QCOMPARE(shot.pixelColor(240, 159), blue);
    QVERIFY(shot.pixelColor(241, 120) != blue);
    QVERIFY(shot.pixelColor(180, 160) != blue);

    // The view follows the location, and stops at the image's edge.
    CoordinateTriple corner(0, 0, 0);
    v.setLocation(corner);
    QCOMPARE(v.grab().toImage().pixelColor(382, 269), QColor(Qt::white));
    CoordinateTriple right(756700, 0, 0);
    v.setLocation(right);
    QCOMPARE(v.grab().toImage().pixelColor(0, 0), QColor(Qt::darkCyan));
}

QTEST_MAIN(TestHighResPreview)
#include "tst_highrespreview.moc"
