// Slide overview: the stage/pixel mapping, the markers, the mouse and the overview request.
#include "LowResPreview.h"
#include "TestHost.h"
#include "TestImages.h"

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
    void pressAndDragSetDestination();
    void anyButtonAndDoubleClick();
    void settersDoNotEmit();
    void markersDrawn();
    void overviewRequest();
    void failedOrBadOverviewKeepsImage();
    void degenerateSizesAndPositions();
};

namespace {

CoordinateTriple at(float x, float y, float z = 0)
{
    return CoordinateTriple(x, y, z);
}

QRgb pixelOf(QWidget& w, int x, int y)
{
    return w.grab().toImage().pixel(x, y) & 0xffffffu;
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
    QCOMPARE(t.x, 197571.8f);
    QCOMPARE(t.y, 98676.47f);
    QCOMPARE(t.z, 0.0f);
    // The round trip truncates: one pixel up and left of the press.
    QCOMPARE(v.physicalToPixel(t), QPoint(99, 49));

    const CoordinateTriple origin = v.pixelToPhysical(QPoint(0, 0));
    QCOMPARE(origin.x, 0.0f);
    QCOMPARE(origin.y, 0.0f);
    const CoordinateTriple corner = v.pixelToPhysical(QPoint(383, 255));
    QCOMPARE(corner.x, 756700.0f);
    QCOMPARE(corner.y, 503250.0f);

    // Truncation toward zero on both sides of the origin; no clamping to the widget.
    QCOMPARE(v.physicalToPixel(at(-100000, -100000)), QPoint(-50, -50));
    QCOMPARE(v.physicalToPixel(at(1513400, 1006500)), QPoint(766, 510));

    // The mapping follows the widget's size.
    v.resize(766, 510);
    QCOMPARE(v.physicalToPixel(at(378350, 251625)), QPoint(383, 255));
    QCOMPARE(v.pixelToPhysical(QPoint(766, 510)).x, 756700.0f);
}

void TestLowResPreview::pressAndDragSetDestination()
{
    LowResPreview v;
    v.resize(383, 255);
    QSignalSpy spy(&v, &LowResPreview::destinationChanged);
    QTest::mousePress(&v, Qt::LeftButton, {}, QPoint(100, 50));
    QCOMPARE(spy.count(), 1);
    CoordinateTriple t = spy.at(0).at(0).value<CoordinateTriple>();
    QCOMPARE(t.x, 197571.8f);
    QCOMPARE(t.y, 98676.47f);
    QCOMPARE(t.z, 0.0f);

    // A drag emits at every step; the destination's z is reset by each one.
    v.destination.z = 1234;
    QTest::mouseMove(&v, QPoint(0, 127));          // (0, 0) would mean "the centre" to QTest
    QTest::mouseMove(&v, QPoint(383, 255));
    QCOMPARE(spy.count(), 3);
    QCOMPARE(spy.at(1).at(0).value<CoordinateTriple>().x, 0.0f);
    t = spy.at(2).at(0).value<CoordinateTriple>();
    QCOMPARE(t.x, 756700.0f);
    QCOMPARE(t.y, 503250.0f);
    QCOMPARE(t.z, 0.0f);
    QTest::mouseRelease(&v, Qt::LeftButton, {}, QPoint(383, 255));
    QCOMPARE(spy.count(), 3);
    QCOMPARE(v.destination.x, 756700.0f);

    // Without a button held, moves do nothing.
    QTest::mouseMove(&v, QPoint(10, 10));
    QCOMPARE(spy.count(), 3);
}

void TestLowResPreview::anyButtonAndDoubleClick()
{
    LowResPreview v;
    v.resize(383, 255);
    QSignalSpy spy(&v, &LowResPreview::destinationChanged);
    QTest::mousePress(&v, Qt::RightButton, {}, QPoint(100, 50));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(v.destination.x, 197571.8f);
    QTest::mouseRelease(&v, Qt::RightButton, {}, QPoint(100, 50));
    QTest::mouseDClick(&v, Qt::LeftButton, {}, QPoint(0, 255));
    QCOMPARE(spy.count(), 2);
    QCOMPARE(v.destination.x, 0.0f);
    QCOMPARE(v.destination.y, 503250.0f);
}

void TestLowResPreview::settersDoNotEmit()
{
    // A new child widget is 100 x 30: both markers start at the slide's centre.
    QWidget parent;
    LowResPreview v(&parent, "lowRes");
    QCOMPARE(v.physical.x, 378350.0f);
    QCOMPARE(v.physical.y, 251625.0f);
    QCOMPARE(v.destination.x, 378350.0f);
    QCOMPARE(v.destination.y, 251625.0f);
    v.resize(383, 255);
    QSignalSpy spy(&v, &LowResPreview::destinationChanged);
    CoordinateTriple d = at(100000, 100000, 5);
    v.setDestination(d);
    CoordinateTriple p = at(200000, 150000, 7);
    v.setPhysical(p);
    QCOMPARE(spy.count(), 0);
    QCOMPARE(v.destination.z, 5.0f);
    QCOMPARE(v.physical.x, 200000.0f);
    QCOMPARE(v.physical.z, 7.0f);
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
    const QRgb red = 0xff0000, green = 0x00ff00;
    auto rgb = [&shot](int x, int y) { return shot.pixel(x, y) & 0xffffffu; };
    // The rectangle covers exactly 15 x 10 pixels: x 43..57, y 45..54.
    QCOMPARE(rgb(43, 45), red);
    QCOMPARE(rgb(57, 45), red);
    QCOMPARE(rgb(43, 54), red);
    QCOMPARE(rgb(57, 54), red);
    QCOMPARE(rgb(50, 45), red);
    QVERIFY(rgb(58, 50) != red);
    QVERIFY(rgb(50, 55) != red);
    QVERIFY(rgb(50, 50) != red);                  // an outline, not filled
    // The circle of diameter 32 in the box 175..206 x 111..142.
    QCOMPARE(rgb(175, 127), green);
    QCOMPARE(rgb(191, 111), green);
    QVERIFY(rgb(207, 127) != green);
    QVERIFY(rgb(191, 143) != green);
    QVERIFY(rgb(191, 127) != green);
}

void TestLowResPreview::overviewRequest()
{
    TestHost host;
    const QByteArray blue = TestImages::jpeg(TestImages::solid(120, 80, qRgb(0, 0, 250)));
    TestImages::scriptFile(*host, "/small_slides/", "S1", HostReply::jpeg(blue));
    LowResPreview v;
    v.resize(383, 255);
    v.setServer(host.field());
    QCOMPARE(v.server, QStringLiteral("http://") + host.field());
    QCOMPARE(host->log().size(), 0);                // setting the server sends nothing

    QString slide = QStringLiteral("S1");
    v.slideChange(slide);
    QCOMPARE(v.jpeg.url(), host.url("/small_slides/S1"));
    QTRY_VERIFY(!v.image.isNull());
    QCOMPARE(v.image.size(), QSize(120, 80));
    // Drawn over the whole widget, under the markers.
    const QRgb expected = QImage::fromData(blue, "JPEG").pixel(60, 40) & 0xffffffu;
    QCOMPARE(pixelOf(v, 5, 5), expected);
    QCOMPARE(pixelOf(v, 380, 250), expected);

    // A name that would change the URL's structure reaches the host as the file's name.
    QString odd = QStringLiteral("S 2#x");
    TestImages::scriptFile(*host, "/small_slides/", odd, HostReply::jpeg(blue));
    v.slideChange(odd);
    QTRY_COMPARE(host->log().size(), 2);
    QCOMPARE(host->log().last().path, QStringLiteral("/small_slides/S 2#x"));
}

void TestLowResPreview::failedOrBadOverviewKeepsImage()
{
    TestHost host;
    const QByteArray green = TestImages::jpeg(TestImages::solid(60, 40, qRgb(0, 200, 0)));
    TestImages::scriptFile(*host, "/small_slides/", "S1", HostReply::jpeg(green));
    LowResPreview v;
    v.resize(383, 255);
    v.setServer(host.field());

    // Garbage as the very first reply: nothing to show, and no null picture stored.
    TestImages::scriptFile(*host, "/small_slides/", "S0", HostReply::jpeg("not a jpeg"));
    QSignalSpy arrived(&v.jpeg, &MyWebJPEG::newImageAvailable);
    QString s0 = QStringLiteral("S0");
    v.slideChange(s0);
    QVERIFY(arrived.wait());
    QVERIFY(v.image.isNull());

    QString s1 = QStringLiteral("S1");
    v.slideChange(s1);
    QVERIFY(arrived.wait());
    const QImage shown = v.image;
    QCOMPARE(shown.size(), QSize(60, 40));

    QSignalSpy failed(&v.jpeg, &MyWebJPEG::failed);
    QString missing = QStringLiteral("S9");
    v.slideChange(missing);                          // 404
    QVERIFY(failed.wait());
    QCOMPARE(v.image, shown);

    v.slideChange(s0);                               // not a JPEG
    QVERIFY(arrived.wait());
    QCOMPARE(v.image, shown);
}

void TestLowResPreview::degenerateSizesAndPositions()
{
    LowResPreview v;
    v.resize(0, 0);
    const CoordinateTriple t = v.pixelToPhysical(QPoint(10, 10));
    QVERIFY(std::isfinite(t.x));
    QVERIFY(std::isfinite(t.y));

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

QTEST_MAIN(TestLowResPreview)
#include "tst_lowrespreview.moc"
