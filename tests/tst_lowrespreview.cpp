// Slide overview: the stage/pixel mapping, the markers, the mouse and the overview request.
#include "JpegSynth.h"
#include "LowResPreview.h"
#include "TestHost.h"
#include "TestImages.h"

#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <cmath>
#include <limits>

class TestLowResPreview : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void mapping();
    void mouseSetsDestination();
    void markersDrawn();
    void overviewRequest();
};

namespace {

CoordinateTriple at(float x, float y, float z = 0)
{
    return CoordinateTriple(x, y, z);
}

void load(LowResPreview& v, QString slide) { v.slideChange(slide); }

QRgb pixelOf(QWidget& w, int x, int y)
{
    return w.grab().toImage().pixel(x, y) & 0xffffffu;
}

void compareXY(const CoordinateTriple& t, float x, float y)
{
    QCOMPARE(t.x, x);
    QCOMPARE(t.y, y);
    QCOMPARE(t.z, 0.0f);
}

} // namespace

void TestLowResPreview::initTestCase()
{
    qRegisterMetaType<CoordinateTriple>("CoordinateTriple&");
    qRegisterMetaType<QImage>("QImage&");
}

void TestLowResPreview::mapping()
{
    LowResPreview v;
    v.resize(383, 255);
    QCOMPARE(v.physicalToPixel(at(100000, 100000)), QPoint(50, 50));
    QCOMPARE(v.physicalToPixel(at(378350, 251625)), QPoint(191, 127));
    const CoordinateTriple t = v.pixelToPhysical(QPoint(100, 50));
    compareXY(t, 197571.8f, 98676.47f);
    // The round trip truncates: one pixel up and left of the press.
    QCOMPARE(v.physicalToPixel(t), QPoint(99, 49));
    compareXY(v.pixelToPhysical(QPoint(383, 255)), 756700.0f, 503250.0f);

    // Truncation toward zero on both sides of the origin; no clamping to the widget.
    QCOMPARE(v.physicalToPixel(at(-100000, -100000)), QPoint(-50, -50));
    QCOMPARE(v.physicalToPixel(at(1513400, 1006500)), QPoint(766, 510));

    // The mapping follows the widget's size.
    v.resize(766, 510);
    QCOMPARE(v.physicalToPixel(at(378350, 251625)), QPoint(383, 255));
    QCOMPARE(v.pixelToPhysical(QPoint(766, 510)).x, 756700.0f);

    // Degenerate sizes and positions stay finite or off the widget.
    v.resize(0, 0);
    const CoordinateTriple z = v.pixelToPhysical(QPoint(10, 10));
    QVERIFY(std::isfinite(z.x) && std::isfinite(z.y));
    v.resize(383, 255);
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const QPoint far = v.physicalToPixel(at(3e38f, -3e38f));
    QVERIFY(far.x() > 383 && far.y() < 0);
    const QPoint infinite = v.physicalToPixel(at(inf, -inf));
    QVERIFY(infinite.x() > 383 && infinite.y() < 0);
    const QPoint undefined = v.physicalToPixel(at(nan, nan));
    QVERIFY(undefined.x() < 0 && undefined.y() < 0);
    // Such positions draw off the widget without trouble.
    CoordinateTriple p = at(nan, inf);
    v.setPhysical(p);
    QVERIFY(!v.grab().isNull());
}

void TestLowResPreview::mouseSetsDestination()
{
    // A new child widget is 100 x 30: both markers start at the slide's centre.
    QWidget parent;
    LowResPreview v(&parent, "lowRes");
    QCOMPARE(v.physical.x, 378350.0f);
    QCOMPARE(v.destination.y, 251625.0f);
    v.resize(383, 255);
    QSignalSpy spy(&v, &LowResPreview::destinationChanged);

    // The setters do not emit.
    CoordinateTriple d = at(100000, 100000, 5);
    v.setDestination(d);
    CoordinateTriple p = at(200000, 150000, 7);
    v.setPhysical(p);
    QCOMPARE(spy.count(), 0);
    QCOMPARE(v.physical.z, 7.0f);

    // Any button presses; a drag emits at every step; the destination's z is reset by each one.
    QTest::mousePress(&v, Qt::RightButton, {}, QPoint(100, 50));
    QCOMPARE(spy.count(), 1);
    compareXY(spy.at(0).at(0).value<CoordinateTriple>(), 197571.8f, 98676.47f);
    v.destination.z = 1234;
    QTest::mouseMove(&v, QPoint(0, 127));          // (0, 0) would mean "the centre" to QTest
    QTest::mouseMove(&v, QPoint(383, 255));
    QCOMPARE(spy.count(), 3);
    QCOMPARE(spy.at(1).at(0).value<CoordinateTriple>().x, 0.0f);
    compareXY(spy.at(2).at(0).value<CoordinateTriple>(), 756700.0f, 503250.0f);
    QTest::mouseRelease(&v, Qt::RightButton, {}, QPoint(383, 255));
    // Without a button held, moves do nothing; a double click sets the destination too.
    QTest::mouseMove(&v, QPoint(10, 10));
    QCOMPARE(spy.count(), 3);
    QTest::mouseDClick(&v, Qt::LeftButton, {}, QPoint(0, 255));
    QCOMPARE(spy.count(), 4);
    compareXY(v.destination, 0.0f, 503250.0f);
}

void TestLowResPreview::markersDrawn()
{
    LowResPreview v;
    v.resize(383, 255);
    CoordinateTriple p = at(100000, 100000);      // pixel (50, 50)
    v.setPhysical(p);
    CoordinateTriple d = at(378350, 251625);      // pixel (191, 127)
    v.setDestination(d);
    const QImage shot = v.grab().toImage();
    // The rectangle is an outline of exactly 15 x 10 pixels, x 43..57 and y 45..54; the circle
    // of diameter 32 lies in the box 175..206 x 111..142.
    auto is = [&shot](QPoint p, QRgb c) { return (shot.pixel(p) & 0xffffffu) == c; };
    for (const QPoint& p : {QPoint(43, 45), QPoint(57, 54)})
        QVERIFY(is(p, 0xff0000));
    for (const QPoint& p : {QPoint(58, 50), QPoint(50, 55), QPoint(50, 50)})
        QVERIFY(!is(p, 0xff0000));
    for (const QPoint& p : {QPoint(175, 127), QPoint(191, 111)})
        QVERIFY(is(p, 0x00ff00));
    for (const QPoint& p : {QPoint(207, 127), QPoint(191, 143), QPoint(191, 127)})
        QVERIFY(!is(p, 0x00ff00));

    // On screen, where the widget paints only what a move changes: the stage marker leaves
    // nothing behind.
    v.show();
    QVERIFY(QTest::qWaitForWindowExposed(&v));
    CoordinateTriple q = at(200000, 300000);
    v.setPhysical(q);
    const QImage screen = v.screen()->grabWindow(v.winId()).toImage();
    const QPoint corner = v.physicalToPixel(q) - QPoint(7, 5);
    QCOMPARE(screen.pixel(corner) & 0xffffffu, 0xff0000u);
    for (const QPoint& p : {QPoint(43, 45), QPoint(57, 54), QPoint(43, 54)})
        QVERIFY((screen.pixel(p) & 0xffffffu) != 0xff0000u);
}

void TestLowResPreview::overviewRequest()
{
    TestHost host;
    const QByteArray blue = TestImages::jpeg(TestImages::solid(120, 80, qRgb(0, 0, 250)));
    TestImages::scriptFile(*host, "/small_slides/", "S 2#x", HostReply::jpeg(blue));
    TestImages::scriptFile(*host, "/small_slides/", "S0", HostReply::jpeg("not a jpeg"));
    LowResPreview v;
    v.resize(383, 255);
    v.setServer(host.field());
    QCOMPARE(host->log().size(), 0);                // setting the server sends nothing
    QSignalSpy arrived(&v.jpeg, &MyWebJPEG::newImageAvailable);

    // Garbage as the very first reply: nothing to show, and no null picture stored.
    load(v, "S0");
    QVERIFY(arrived.wait());
    QVERIFY(v.image.isNull());

    // A name that would change the URL's structure reaches the host as the file's name. The
    // picture is drawn over the whole widget, under the markers.
    load(v, "S 2#x");
    QVERIFY(arrived.wait());
    const QImage shown = v.image;
    QCOMPARE(shown.size(), QSize(120, 80));
    const QRgb expected = QImage::fromData(blue, "JPEG").pixel(60, 40) & 0xffffffu;
    QCOMPARE(pixelOf(v, 5, 5), expected);
    QCOMPARE(pixelOf(v, 380, 250), expected);

    // A failed transfer, or a reply that is not a JPEG, keeps the picture.
    QSignalSpy failed(&v.jpeg, &MyWebJPEG::failed);
    load(v, "S9");
    QVERIFY(failed.wait());
    QCOMPARE(v.image, shown);
    load(v, "S0");
    QVERIFY(arrived.wait());
    QCOMPARE(v.image, shown);

    // A large overview is let go of before the next one is decoded; when that one is then
    // refused by the decoder (a whole JPEG naming a table it never defines), the large one
    // stays shown.
    QImage large(2100, 2100, QImage::Format_RGB32);
    for (int y = 0; y < large.height(); ++y)
        for (int x = 0; x < large.width(); ++x)
            large.setPixel(x, y, qRgb(x / 9, y / 9, 90));
    TestImages::scriptFile(*host, "/small_slides/", "L1", HostReply::jpeg(TestImages::jpeg(large)));
    JpegSynth::Spec spec;
    QByteArray broken = JpegSynth::write(spec);
    const qsizetype scan = broken.indexOf("\xFF\xDA");
    for (int c = 0; c < 3; ++c)
        broken[scan + 6 + 2 * c] = char(0x33);
    QVERIFY(QImage::fromData(broken, "JPEG").isNull());
    TestImages::scriptFile(*host, "/small_slides/", "L2", HostReply::jpeg(broken));
    load(v, "L1");
    QVERIFY(arrived.wait());
    const QImage before = v.grab().toImage();
    QCOMPARE(before.pixel(380, 250), v.image.scaled(v.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation).pixel(380, 250));
    load(v, "L2");
    QVERIFY(arrived.wait());
    QVERIFY(arrived.last().at(0).value<QImage>().isNull());
    QCOMPARE(v.grab().toImage(), before);
}

QTEST_MAIN(TestLowResPreview)
#include "tst_lowrespreview.moc"
