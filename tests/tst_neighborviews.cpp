// Neighbour tiles (contrast expansion, labels), the focus-stack view, and the neighbour window
// with its 35 tiles, including frames fetched over loopback.
#include "DrawnImage.h"
#include "MyWebJPEG.h"
#include "NeighborVideo.h"
#include "NeighborView.h"
#include "TestHost.h"
#include "TestImages.h"
#include "VideoStack.h"

#include <QGuiApplication>
#include <QLoggingCategory>
#include <QPainter>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>

#include <algorithm>

namespace {

QImage filled(int w, int h, QColor c)
{
    return TestImages::solid(w, h, c.rgb());
}

int redPixels(const QImage& img, const QRect& area)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor c = img.pixelColor(x, y);
            n += c.red() > 150 && c.green() < 100 && c.blue() < 100;
        }
    return n;
}

// Stripes in three colours, red 40 | 120 | 200, green all 90, blue 10 | 10 | 250, with a
// diagonal of 30 pixels of red 20 and 30 of red 250: too few to bound the red band.
QImage striped(const QSize& size)
{
    const QRgb colours[3] = {qRgb(40, 90, 10), qRgb(120, 90, 10), qRgb(200, 90, 250)};
    QImage img(size, QImage::Format_RGB32);
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
            img.setPixel(x, y, colours[(x / 7 + y / 5) % 3]);
    for (int k = 0; k < 60; ++k)
        img.setPixel(k * (img.width() - 1) / 59, k * (img.height() - 1) / 59, qRgb(k % 2 ? 250 : 20, 90, 10));
    return img;
}

// A striped frame expanded pixel by pixel: red (r - 40) * 255 / 160, green 0, blue
// (b - 10) * 255 / 240, each held to 0..255.
QImage expandedStripes(const QImage& frame)
{
    QImage img = frame.copy();
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QRgb c = img.pixel(x, y);
            img.setPixel(x, y, qRgb(std::clamp((qRed(c) - 40) * 255 / 160, 0, 255), 0, (qBlue(c) - 10) * 255 / 240));
        }
    return img;
}

const QRect Number(78, 45, 30, 18);
const QRect Caption(38, 85, 122, 20);

} // namespace

class TestNeighborViews : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void tileExpansionAndLabels();
    void stackBrowsing();
    void framesByIndex();
    void keptPicturesOnAnotherScreen();
};

void TestNeighborViews::initTestCase()
{
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    qRegisterMetaType<QImage>("QImage&");
    qRegisterMetaType<QPixmap>("QPixmap&");
}

void TestNeighborViews::tileExpansionAndLabels()
{
    // A frame of any size is expanded whole, then drawn at the tile's size for each screen:
    // the tile keeps what the frame expanded by hand draws there. The frame is left as it came.
    NeighborView v;
    v.resize(160, 120);
    for (const QSize size : {QSize(640, 480), QSize(800, 600), QSize(1280, 960)}) {
        QImage frame = striped(size);
        const QImage received = frame.copy();
        v.setImage(frame);
        QVERIFY(v.minR == 40 && v.maxR == 200 && v.rangeR == 160);
        QVERIFY(v.minG == 90 && v.maxG == 90 && v.rangeG == 1);
        QVERIFY(v.minB == 10 && v.maxB == 250 && v.rangeB == 240);
        const QImage expanded = expandedStripes(received);
        QCOMPARE(v.display, DrawnImage::atSize(expanded, v.size(), v.devicePixelRatioF()));
        for (const QImage& other : v.displayElsewhere)
            QCOMPARE(other, DrawnImage::atSize(expanded, v.size(), other.devicePixelRatio()));
        QCOMPARE(frame, received);
    }
    // Drawn unscaled, the kept picture is the expanded frame itself.
    v.resize(800, 600);
    QImage frame = striped(QSize(800, 600));
    v.setImage(frame);
    QCOMPARE(v.display, expandedStripes(frame));
    QCOMPARE(v.display.pixel(3, 0), qRgb(0, 0, 0));
    QCOMPARE(v.display.pixel(10, 0), qRgb(127, 0, 0));          // 80 * 255 / 160
    QCOMPARE(v.display.pixel(798, 599), qRgb(255, 0, 255));
    QCOMPARE(v.display.pixel(799, 599), qRgb(255, 0, 0));      // red 250, above the band
    QCOMPARE(frame.pixel(799, 599), qRgb(250, 90, 10));

    // Bin 0 never bounds a band: a black frame keeps lower = upper = 0.
    QImage black = filled(640, 480, Qt::black);
    v.setImage(black);
    QVERIFY(v.maxR == 0 && v.rangeR == 1);

    // Smaller than 640 x 480 but wide enough: its own pixels only. Narrower than 160: as received.
    QImage small = filled(200, 100, QColor(100, 150, 200));
    v.setImage(small);
    QCOMPARE(v.display.pixel(199, 99), qRgb(0, 0, 0));
    QImage narrow = filled(150, 600, QColor(100, 150, 200));
    v.setImage(narrow);
    QCOMPARE(v.display.pixel(149, 599), qRgb(100, 150, 200));

    // A grey-scale JPEG decodes to 8-bit grey; it is expanded as RGB with equal components.
    QImage grey(640, 480, QImage::Format_Grayscale8);
    grey.fill(60);
    QPainter(&grey).fillRect(QRect(320, 0, 320, 480), QColor(180, 180, 180));
    v.setImage(grey);
    QCOMPARE(v.display.format(), QImage::Format_RGB32);
    QCOMPARE(v.maxB, 180);
    QCOMPARE(v.display.pixel(10, 10), qRgb(0, 0, 0));
    QCOMPARE(v.display.pixel(600, 400), qRgb(255, 255, 255));

    // A frame that did not decode: an empty tile that still shows its number (0 before any).
    v.resize(160, 120);
    QImage none;
    v.setImage(none);
    QVERIFY(v.display.isNull());
    QImage shot = v.grab().toImage();
    QVERIFY(redPixels(shot, Number) > 0);
    QCOMPARE(redPixels(shot, Caption), 0);

    // The frame is scaled to the whole tile.
    QImage blue = filled(640, 480, QColor(0, 0, 255));
    QPainter(&blue).fillRect(QRect(0, 0, 320, 480), QColor(0, 0, 100));
    v.index = 3;
    v.setImage(blue);
    shot = v.grab().toImage();
    QCOMPARE(shot.pixel(5, 115), qRgb(0, 0, 0));
    QCOMPARE(shot.pixel(155, 115), qRgb(0, 0, 255));
    // A frame of any size is kept only at the tile's size.
    QImage large = filled(1280, 960, QColor(0, 0, 255));
    QPainter(&large).fillRect(QRect(0, 0, 640, 960), QColor(0, 0, 100));
    v.setImage(large);
    QCOMPARE(v.display.size(), QSize(160, 120));
    shot = v.grab().toImage();
    QCOMPARE(shot.pixel(5, 5), qRgb(0, 0, 0));
    QCOMPARE(shot.pixel(5, 115), qRgb(0, 0, 0));        // beyond 640 x 480 as well
    QCOMPARE(shot.pixel(155, 115), qRgb(0, 0, 255));

    // On a screen of two device pixels per pixel the kept picture is drawn as the frame was.
    QImage fine(1280, 960, QImage::Format_RGB32);
    for (int y = 0; y < 960; ++y)
        for (int x = 0; x < 1280; ++x)
            fine.setPixel(x, y, qRgb(x * 7, y * 5, (x ^ y) * 3));
    const auto onScreen = [](auto paint) {
        QImage screen(320, 240, QImage::Format_RGB32);
        screen.setDevicePixelRatio(2);
        QPainter p(&screen);
        paint(p);
        return screen;
    };
    QCOMPARE(onScreen([&](QPainter& p) {
                 DrawnImage::draw(p, QRect(0, 0, 160, 120), DrawnImage::atSize(fine, QSize(160, 120), 2));
             }),
             onScreen([&](QPainter& p) { p.drawImage(QRect(0, 0, 160, 120), fine); }));
}

void TestNeighborViews::stackBrowsing()
{
    VideoStack s;
    s.resize(168, 140);
    const QList<QColor> colours{Qt::red, Qt::green, Qt::blue};
    for (int i = 0; i < 3; ++i) {
        QImage frame = filled(168, 140, colours[i]);
        s.addImage(frame);
        QCOMPARE(s.current, i);
        QCOMPARE(s.grab().toImage().pixelColor(80, 70), colours[i]);
    }
    for (int i : {0, 3, -1})
        s.displayImage(i);
    QCOMPARE(s.current, 0);
    QCOMPARE(s.grab().toImage().pixelColor(80, 70), colours[0]);

    s.clearImages();
    QCOMPARE(s.current, -1);
    s.displayImage(1);
    QCOMPARE(s.current, -1);
    QImage next = filled(84, 70, Qt::cyan);
    s.addImage(next);
    QCOMPARE(s.grab().toImage().pixelColor(160, 130), QColor(Qt::cyan));
    // A frame that did not decode still takes its place in the stack.
    QImage none;
    s.addImage(none);
    QCOMPARE(s.images.size(), 2);
    QCOMPARE(s.current, 1);
    s.grab();
    // A frame larger than the view is kept at the view's size.
    QImage large = filled(1680, 1400, Qt::magenta);
    s.addImage(large);
    QCOMPARE(s.images.last().size(), QSize(168, 140));
    QCOMPARE(s.grab().toImage().pixelColor(160, 130), QColor(Qt::magenta));
}

void TestNeighborViews::framesByIndex()
{
    // Frames fetched from the host reach the tile named before each fetch.
    TestHost host;
    host->addRoute("/frames/", [](const HostRequest&) { return HostReply::notFound(); });
    host->script("/frames/", [](const HostRequest& r) {
        const int k = r.rest.toInt();
        return HostReply::jpeg(TestImages::jpeg(filled(640, 480, QColor(7 * k, 128, 64)), 100));
    });
    NeighborVideo w;
    MyWebJPEG fetcher;
    QObject::connect(&fetcher, &MyWebJPEG::newImageAvailable, &w, &NeighborVideo::updateImage);
    QSignalSpy arrived(&fetcher, &MyWebJPEG::newImageAvailable);
    for (int k : {0, 36, 35, 18, 1}) {
        w.currentIndex = k;
        fetcher.setURL(host.url(QStringLiteral("/frames/%1").arg(k)));
        fetcher.get();
        QVERIFY(arrived.wait(10000));
    }
    QVERIFY(!w.tile(0) && !w.tile(36));

    // Each tile is its own widget; labels run 1 to 35 in reading order.
    for (int k = 1; k <= 35; ++k) {
        NeighborView* t = w.tile(k);
        QCOMPARE(t->objectName(), QStringLiteral("neighborView%1").arg(k));
        const bool got = k == 35 || k == 18 || k == 1;
        QCOMPARE(t->index, got ? 36 - k : 0);
        QCOMPARE(t->display.isNull(), !got);
        if (got)
            QVERIFY(qAbs(t->minR - 7 * k) <= 2);
    }
    QCOMPARE(w.neighborView35->geometry().topLeft(), QPoint(10, 10));

    // The centre tile carries "Original Image"; its neighbours do not.
    const QImage mosaic = w.grab().toImage();
    QVERIFY(redPixels(mosaic, Caption.translated(330, 370)) > 20);
    QCOMPARE(redPixels(mosaic, Caption.translated(170, 370)), 0);
}

void TestNeighborViews::keptPicturesOnAnotherScreen()
{
    // Run on two screens, one of one device pixel per pixel and one of two (see
    // tests/CMakeLists.txt). A tile and an inset get their pictures on the first and are then
    // moved to the second: each draws there what the picture itself draws there, and back on
    // the first what it drew before.
    QPoint plain, sharp;        // a point inside each screen
    for (const QScreen* s : QGuiApplication::screens()) {
        const QPoint inside = s->geometry().topLeft() + QPoint(50, 50);
        if (s->devicePixelRatio() == 1)
            plain = inside;
        else if (s->devicePixelRatio() == 2)
            sharp = inside;
    }
    QVERIFY2(QGuiApplication::screens().size() == 2 && !plain.isNull() && !sharp.isNull(),
             "needs the two-screen offscreen configuration");
    QImage detail(672, 560, QImage::Format_RGB32);
    for (int y = 0; y < detail.height(); ++y)
        for (int x = 0; x < detail.width(); ++x)
            detail.setPixel(x, y, qRgb(x * 7, y * 5, (x ^ y) * 3));
    const auto drawn = [](qreal ratio, const QSize& size, auto paint) {
        QImage screen(size * ratio, QImage::Format_RGB32);
        screen.setDevicePixelRatio(ratio);
        QPainter p(&screen);
        paint(p);
        return screen;
    };
    const auto show = [](QWidget& w, const QPoint& at) {
        w.move(at);
        w.show();
        return QTest::qWaitForWindowExposed(&w);
    };
    const auto moveTo = [](QWidget& w, const QPoint& at, qreal ratio) {
        w.move(at);
        return QTest::qWaitFor([&] { return w.devicePixelRatioF() == ratio; });
    };

    VideoStack inset;
    inset.resize(168, 140);
    QVERIFY(show(inset, plain));
    inset.addImage(detail);
    const QRect all(0, 0, 168, 140);
    const QImage onPlain = inset.grab().toImage();
    QCOMPARE(onPlain, drawn(1, all.size(), [&](QPainter& p) { p.drawImage(all, detail); }));
    QVERIFY(moveTo(inset, sharp, 2));
    const QImage onSharp = inset.grab().toImage();
    QCOMPARE(onSharp.size(), QSize(336, 280));
    QCOMPARE(onSharp, drawn(2, all.size(), [&](QPainter& p) { p.drawImage(all, detail); }));
    QVERIFY(moveTo(inset, plain, 1));
    QCOMPARE(inset.grab().toImage(), onPlain);

    // A tile moved to the second screen draws what a tile that got the same frame there draws.
    NeighborView tile, there;
    for (NeighborView* t : {&tile, &there}) {
        t->resize(160, 120);
        t->index = 18;
    }
    QVERIFY(show(tile, plain));
    QVERIFY(show(there, sharp));
    QCOMPARE(there.devicePixelRatioF(), 2.0);
    tile.setImage(detail);
    there.setImage(detail);
    const QImage tileOnPlain = tile.grab().toImage();
    QVERIFY(moveTo(tile, sharp, 2));
    QCOMPARE(tile.grab().toImage(), there.grab().toImage());
    QVERIFY(moveTo(tile, plain, 1));
    QCOMPARE(tile.grab().toImage(), tileOnPlain);
}

QTEST_MAIN(TestNeighborViews)
#include "tst_neighborviews.moc"
