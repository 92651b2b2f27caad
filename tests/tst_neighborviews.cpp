// Neighbour tiles (contrast expansion, labels), the focus-stack view, and the neighbour window
// with its 35 tiles, including frames fetched over loopback.
#include "MyWebJPEG.h"
#include "NeighborVideo.h"
#include "NeighborView.h"
#include "TestHost.h"
#include "VideoStack.h"

#include <QBuffer>
#include <QLoggingCategory>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>

namespace {

QImage filled(int w, int h, QColor c, QImage::Format f = QImage::Format_RGB32)
{
    QImage img(w, h, f);
    img.fill(c);
    return img;
}

bool isRed(QColor c) { return c.red() > 150 && c.green() < 100 && c.blue() < 100; }

int redPixels(const QImage& img, const QRect& area)
{
    int n = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            n += isRed(img.pixelColor(x, y));
    return n;
}

QByteArray jpegOf(const QImage& img)
{
    QByteArray bytes;
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    img.save(&buf, "JPEG", 100);
    return bytes;
}

const QStringList CreationOrder = [] {
    QStringList names;
    for (int k = 35; k >= 21; --k)
        names << QStringLiteral("neighborView%1").arg(k);
    for (int k : {19, 18, 17, 16, 20})
        names << QStringLiteral("neighborView%1").arg(k);
    for (int k = 15; k >= 1; --k)
        names << QStringLiteral("neighborView%1").arg(k);
    return names;
}();

} // namespace

class TestNeighborViews : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void tileBands();
    void tileRegion();
    void greyFrame();
    void tileLabels();
    void stackBrowsing();
    void windowLayout();
    void framesByIndex();
    void framesOverLoopback();
};

void TestNeighborViews::initTestCase()
{
    QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
    qRegisterMetaType<QImage>("QImage&");
    qRegisterMetaType<QPixmap>("QPixmap&");
}

void TestNeighborViews::tileBands()
{
    // Red 40 | 120 | 200 in three bands, green all 90, blue 10 | 250.
    QImage frame = filled(640, 480, QColor(40, 90, 10));
    QPainter p(&frame);
    p.fillRect(QRect(200, 0, 200, 480), QColor(120, 90, 10));
    p.fillRect(QRect(400, 0, 240, 480), QColor(200, 90, 250));
    p.end();
    NeighborView v;
    v.setImage(frame);
    QCOMPARE(v.minR, 40);
    QCOMPARE(v.maxR, 200);
    QCOMPARE(v.rangeR, 160);
    QCOMPARE(v.minG, 90);
    QCOMPARE(v.maxG, 90);
    QCOMPARE(v.rangeG, 1);
    QCOMPARE(v.minB, 10);
    QCOMPARE(v.maxB, 250);
    QCOMPARE(v.rangeB, 240);
    QCOMPARE(v.display.pixel(0, 0), qRgb(0, 0, 0));
    QCOMPARE(v.display.pixel(300, 10), qRgb(127, 0, 0));        // 80 * 255 / 160
    QCOMPARE(v.display.pixel(639, 479), qRgb(255, 0, 255));
    // The received frame itself is kept as it came.
    QCOMPARE(v.sourceImage.pixel(300, 10), qRgb(120, 90, 10));
    QCOMPARE(frame.pixel(639, 479), qRgb(200, 90, 250));
    // Bin 0 never bounds a band: a black frame keeps lower = upper = 0.
    QImage black = filled(640, 480, Qt::black);
    v.setImage(black);
    QCOMPARE(v.minR, 0);
    QCOMPARE(v.maxR, 0);
    QCOMPARE(v.rangeR, 1);
}

void TestNeighborViews::tileRegion()
{
    NeighborView v;
    // 800 x 600: only the top-left 640 x 480 is expanded; the rest stays as received.
    QImage big = filled(800, 600, QColor(100, 150, 200));
    v.setImage(big);
    QCOMPARE(v.display.size(), QSize(800, 600));
    QCOMPARE(v.display.pixel(639, 479), qRgb(0, 0, 0));
    QCOMPARE(v.display.pixel(640, 0), qRgb(100, 150, 200));
    QCOMPARE(v.display.pixel(0, 480), qRgb(100, 150, 200));
    QCOMPARE(v.display.pixel(799, 599), qRgb(100, 150, 200));

    // Smaller than 640 x 480 but wide enough: its own pixels only.
    QImage small = filled(200, 100, QColor(100, 150, 200));
    v.setImage(small);
    QCOMPARE(v.display.size(), QSize(200, 100));
    QCOMPARE(v.display.pixel(199, 99), qRgb(0, 0, 0));

    // Narrower than 160 pixels: not processed at all.
    QImage narrow = filled(150, 600, QColor(100, 150, 200));
    v.setImage(narrow);
    QCOMPARE(v.display.pixel(10, 10), qRgb(100, 150, 200));
    QCOMPARE(v.display.pixel(149, 599), qRgb(100, 150, 200));

    // A frame that did not decode: an empty tile that still shows its number.
    QImage none;
    v.index = 7;
    v.resize(160, 120);
    v.setImage(none);
    QVERIFY(v.display.isNull());
    QVERIFY(redPixels(v.grab().toImage(), QRect(78, 45, 20, 18)) > 0);
}

void TestNeighborViews::greyFrame()
{
    // A grey-scale JPEG decodes to 8-bit grey; it is expanded as RGB with equal components.
    QImage grey(640, 480, QImage::Format_Grayscale8);
    grey.fill(60);
    QPainter(&grey).fillRect(QRect(320, 0, 320, 480), QColor(180, 180, 180));
    NeighborView v;
    v.setImage(grey);
    QCOMPARE(v.display.format(), QImage::Format_RGB32);
    QCOMPARE(v.minG, 60);
    QCOMPARE(v.maxB, 180);
    QCOMPARE(v.display.pixel(10, 10), qRgb(0, 0, 0));
    QCOMPARE(v.display.pixel(600, 400), qRgb(255, 255, 255));
}

void TestNeighborViews::tileLabels()
{
    NeighborView v;
    v.resize(160, 120);
    QImage black = filled(640, 480, Qt::black);
    const QRect number(78, 45, 30, 18);
    const QRect caption(38, 85, 122, 20);

    // A tile that never got a number shows 0.
    v.setImage(black);
    QImage shot = v.grab().toImage();
    QVERIFY(redPixels(shot, number) > 0);
    QCOMPARE(redPixels(shot, caption), 0);
    QCOMPARE(redPixels(shot, QRect(0, 0, 70, 80)), 0);

    v.index = 17;
    shot = v.grab().toImage();
    QVERIFY(redPixels(shot, number) > 0);
    QCOMPARE(redPixels(shot, caption), 0);

    v.index = 18;
    shot = v.grab().toImage();
    QVERIFY(redPixels(shot, number) > 0);
    QVERIFY(redPixels(shot, caption) > 20);

    // The frame is scaled to the whole tile.
    QImage blue = filled(640, 480, QColor(0, 0, 255));
    QPainter(&blue).fillRect(QRect(0, 0, 320, 480), QColor(0, 0, 100));
    v.index = 3;
    v.setImage(blue);
    shot = v.grab().toImage();
    QCOMPARE(shot.size(), QSize(160, 120));
    QCOMPARE(shot.pixel(5, 115), qRgb(0, 0, 0));
    QCOMPARE(shot.pixel(155, 115), qRgb(0, 0, 255));
}

void TestNeighborViews::stackBrowsing()
{
    VideoStack s;
    s.resize(168, 140);
    QCOMPARE(s.current, -1);
    const QList<QColor> colours{Qt::red, Qt::green, Qt::blue, Qt::yellow};
    for (int i = 0; i < 3; ++i) {
        QImage frame = filled(168, 140, colours[i]);
        s.addImage(frame);
        QCOMPARE(s.current, i);
        QCOMPARE(s.grab().toImage().pixelColor(80, 70), colours[i]);
    }
    // Stored frames share the received pictures.
    QImage shared = filled(168, 140, Qt::yellow);
    s.addImage(shared);
    QCOMPARE(s.images.last().constBits(), shared.constBits());

    s.displayImage(0);
    QCOMPARE(s.current, 0);
    QCOMPARE(s.grab().toImage().pixelColor(80, 70), colours[0]);
    s.displayImage(4);
    s.displayImage(-1);
    QCOMPARE(s.current, 0);
    QCOMPARE(s.grab().toImage().pixelColor(80, 70), colours[0]);

    s.clearImages();
    QCOMPARE(s.current, -1);
    QVERIFY(s.images.isEmpty());
    s.displayImage(2);
    QCOMPARE(s.current, -1);
    QImage next = filled(84, 70, Qt::cyan);
    s.addImage(next);
    QCOMPARE(s.current, 0);
    QCOMPARE(s.grab().toImage().pixelColor(160, 130), QColor(Qt::cyan));

    // A frame that did not decode still takes its place in the stack.
    QImage none;
    s.addImage(none);
    QCOMPARE(s.images.size(), 2);
    QCOMPARE(s.current, 1);
    s.grab();
}

void TestNeighborViews::windowLayout()
{
    NeighborVideo w;
    QCOMPARE(w.objectName(), QStringLiteral("NeighborVideo"));
    QCOMPARE(w.windowTitle(), QStringLiteral("Neighbor Video"));
    QCOMPARE(w.size(), QSize(821, 861));
    QVERIFY(!w.isModal());
    QCOMPARE(w.currentIndex, 0);

    QStringList order;
    for (QObject* child : w.children())
        if (qobject_cast<NeighborView*>(child))
            order << child->objectName();
    QCOMPARE(order, CreationOrder);

    for (int k = 1; k <= 35; ++k) {
        NeighborView* t = w.tile(k);
        QVERIFY(t);
        QCOMPARE(t->objectName(), QStringLiteral("neighborView%1").arg(k));
        QCOMPARE(t->parentWidget(), &w);
        const int r = (35 - k) / 5, c = (35 - k) % 5;
        QCOMPARE(t->geometry(), QRect(10 + 160 * c, 10 + 120 * r, 160, 120));
        QCOMPARE(t->index, 0);
    }
    QCOMPARE(w.neighborView20->geometry().topLeft(), QPoint(10, 370));
    QCOMPARE(w.neighborView18->geometry().topLeft(), QPoint(330, 370));
    QVERIFY(!w.tile(0) && !w.tile(36));

    NeighborVideo named(nullptr, "neighbors", true);
    QCOMPARE(named.objectName(), QStringLiteral("neighbors"));
    QVERIFY(named.isModal());
}

void TestNeighborViews::framesByIndex()
{
    NeighborVideo w;
    QImage frame = filled(640, 480, QColor(20, 40, 60));

    // Indexes outside 1..35 place nothing.
    for (int k : {0, -1, 36}) {
        w.currentIndex = k;
        w.updateImage(frame);
    }
    for (int k = 1; k <= 35; ++k) {
        QVERIFY(w.tile(k)->sourceImage.isNull());
        QCOMPARE(w.tile(k)->index, 0);
    }

    // Each frame lands in the tile named by currentIndex; labels run 1 to 35 in reading order.
    for (int k = 1; k <= 35; ++k) {
        QImage f = filled(640, 480, QColor(k, 100, 200));
        w.currentIndex = k;
        w.updateImage(f);
    }
    for (int k = 1; k <= 35; ++k) {
        NeighborView* t = w.tile(k);
        QCOMPARE(qRed(t->sourceImage.pixel(0, 0)), k);
        const QPoint at = t->geometry().topLeft();
        QCOMPARE(t->index, (at.y() - 10) / 120 * 5 + (at.x() - 10) / 160 + 1);
    }
    QCOMPARE(w.neighborView35->index, 1);
    QCOMPARE(w.neighborView35->geometry().topLeft(), QPoint(10, 10));
    QCOMPARE(w.neighborView1->index, 35);
    QCOMPARE(w.neighborView1->geometry().topLeft(), QPoint(650, 730));
    QCOMPARE(w.neighborView18->index, 18);

    // The centre tile carries "Original Image"; its neighbours do not.
    const QImage mosaic = w.grab().toImage();
    const QRect centreCaption(330 + 38, 370 + 85, 122, 20);
    const QRect leftCaption(170 + 38, 370 + 85, 122, 20);
    QVERIFY(redPixels(mosaic, centreCaption) > 20);
    QCOMPARE(redPixels(mosaic, leftCaption), 0);

    // A tile keeps its frame until it is filled again.
    w.currentIndex = 0;
    w.updateImage(frame);
    QCOMPARE(qRed(w.tile(18)->sourceImage.pixel(0, 0)), 18);
}

void TestNeighborViews::framesOverLoopback()
{
    // Frames fetched from the host reach the tile named before each fetch.
    TestHost host;
    QHash<QString, QByteArray> frames;
    for (int k : {35, 18, 1})
        frames.insert(QString::number(k), jpegOf(filled(640, 480, QColor(10 * k % 256, 128, 64))));
    host->addRoute("/frames/", [](const HostRequest&) { return HostReply::notFound(); });
    host->script("/frames/", [&frames](const HostRequest& r) {
        return frames.contains(r.rest) ? HostReply::jpeg(frames.value(r.rest)) : HostReply::notFound();
    });

    NeighborVideo w;
    MyWebJPEG fetcher;
    QObject::connect(&fetcher, &MyWebJPEG::newImageAvailable, &w, &NeighborVideo::updateImage);
    QSignalSpy arrived(&fetcher, &MyWebJPEG::newImageAvailable);
    for (int k : {35, 18, 1}) {
        w.currentIndex = k;
        fetcher.setURL(host.url(QStringLiteral("/frames/%1").arg(k)));
        fetcher.get();
        QVERIFY(arrived.wait(10000));
        NeighborView* t = w.tile(k);
        QCOMPARE(t->index, 36 - k);
        QCOMPARE(t->sourceImage.size(), QSize(640, 480));
        QVERIFY(qAbs(qRed(t->sourceImage.pixel(320, 240)) - 10 * k % 256) <= 2);
    }
    QCOMPARE(w.neighborView35->index, 1);
    QCOMPARE(w.neighborView1->index, 35);
    QCOMPARE(w.neighborView18->index, 18);
}

QTEST_MAIN(TestNeighborViews)
#include "tst_neighborviews.moc"
