// Video frame view: colour bands, the four passes, the processing region, the focus box and
// saving; the fast passes against the pixel-at-a-time reference.
#include "TestImages.h"
#include "VideoReference.h"
#include "VideoView.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QFileIconProvider>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QMouseEvent>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>

class TestVideoView : public QObject
{
    Q_OBJECT
private slots:
    void bandsExpansionAndChannel();
    void gainFiltersInvert();
    void processingRegion();
    void focusBox();
    void fastPassesEqualReference();
    void saveImage();
};

namespace {

QImage frameOf(int w, int h, const std::function<QRgb(int, int)>& colour)
{
    QImage img(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img.setPixel(x, y, colour(x, y));
    return img;
}

using TestImages::solid;

QRgb shown(const VideoView& v, int x, int y) { return v.display.pixel(x, y) & 0xffffffu; }
QRgb rgb(int r, int g, int b) { return qRgb(r, g, b) & 0xffffffu; }

// Shows `frame`, with contrast expansion off in showPlain: then every pass is off.
void feed(VideoView& v, QImage frame) { v.setImage(frame); }
void showPlain(VideoView& v, QImage frame) { v.setContrastExpansion(0); v.setImage(frame); }

// One channel's band (0 red, 1 green, 2 blue): lower bound, upper bound, width.
using Band = std::array<int, 3>;
Band band(const VideoView& v, int c)
{
    const ColourBands b = v.passSettings().bands;
    return {b.lower[c], b.upper[c], b.width[c]};
}

void sendMouse(QWidget* w, QEvent::Type type, QPoint at, Qt::MouseButtons held = Qt::LeftButton)
{
    // Sent directly: QTest reads the point (0, 0) as "the widget's centre".
    QMouseEvent e(type, QPointF(at), w->mapToGlobal(QPointF(at)),
                  type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, held, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

// Answers the modal windows that saving opens: the file dialog gets `path` and is accepted
// (or cancelled when `path` is empty); the question before replacing a file gets `replace`;
// other boxes are recorded and closed with OK.
struct SaveDriver
{
    QString path;
    bool replace = false;
    QStringList boxes;          // texts of every message box seen
    std::function<void(QFileDialog*)> inspect;  // runs on each file dialog before it is answered
    QTimer timer;

    SaveDriver()
    {
        QObject::connect(&timer, &QTimer::timeout, [this] { poll(); });
        timer.start(5);
    }
    static void close(QWidget* dlg, const char* how) { QMetaObject::invokeMethod(dlg, how, Qt::QueuedConnection); }
    void poll()
    {
        QWidget* w = QApplication::activeModalWidget();
        if (!w || w->property("brolt_seen").toBool())
            return;
        w->setProperty("brolt_seen", true);
        if (auto* dlg = qobject_cast<QFileDialog*>(w)) {
            if (inspect)
                inspect(dlg);
            dlg->selectFile(path);
            close(dlg, path.isEmpty() ? "reject" : "accept");
        } else if (auto* box = qobject_cast<QMessageBox*>(w)) {
            boxes << box->text();
            if (QAbstractButton* ok = box->button(QMessageBox::Ok))
                return ok->click();
            box->button(replace ? QMessageBox::Yes : QMessageBox::No)->click();
            // A refused replacement leaves the file dialog open: cancel it.
            if (!replace)
                QTimer::singleShot(20, [] {
                    if (auto* dlg = qobject_cast<QFileDialog*>(QApplication::activeModalWidget()))
                        close(dlg, "reject");
                });
        }
    }
};

} // namespace

void TestVideoView::bandsExpansionAndChannel()
{
    VideoView v;
    // 1000 pixels of red 0 and 1000 of red 200: bin 0 is never a bound; range 1 for equal bounds.
    feed(v, frameOf(1000, 2, [](int, int y) { return qRgb(y ? 200 : 0, 90, 90); }));
    QCOMPARE(band(v, 0), (Band{200, 200, 1}));
    QCOMPARE(qRed(v.display.pixel(5, 1)), 0);       // (200 - 200) * 255 / 1
    QCOMPARE(qRed(v.display.pixel(5, 0)), 0);       // negative, clamped

    // No bin above 50 pixels: both bounds 0, range 1; every non-zero value becomes 255.
    feed(v, frameOf(1280, 1, [](int x, int) { return qRgb(7, 7, x % 256); }));
    QCOMPARE(band(v, 2), (Band{0, 0, 1}));
    QCOMPARE(qBlue(v.display.pixel(0, 0)), 0);
    QCOMPARE(qBlue(v.display.pixel(300, 0)), 255);

    // Exactly 50 pixels do not make a bound, 51 do.
    feed(v, frameOf(640, 1, [](int x, int) {
        return qRgb(x < 50 ? 10 : (x < 101 ? 20 : 0), x < 51 ? 30 : 0, x < 51 ? 240 : 250);
    }));
    QCOMPARE(v.minR, 20);
    QCOMPARE(v.minG, 30);
    QCOMPARE(band(v, 2), (Band{240, 250, 10}));

    // Red spans 50..150, green 100..200, blue 0..255, each value on many pixels.
    QImage f = frameOf(640, 480, [](int x, int y) {
        return qRgb(50 + (x + y) % 101, 100 + (x * 3 + y) % 101, (x * 7 + y) % 256);
    });
    f.setPixel(0, 0, qRgb(75, 180, 12));
    f.setPixel(1, 0, qRgb(20, 250, 3));
    v.setImage(f);
    QCOMPARE(band(v, 0), (Band{50, 150, 100}));
    // (75 - 50) * 255 / 100 = 63; (180 - 100) * 255 / 100 = 204; (12 - 1) * 255 / 254 = 11.
    QCOMPARE(v.minB, 1);
    QCOMPARE(shown(v, 0, 0), rgb(63, 204, 11));
    // Below the band clamps to 0, above it to 255.
    QCOMPARE(shown(v, 1, 0), rgb(0, 255, 2));
    QCOMPARE(qAlpha(v.display.pixel(1, 0)), 255);

    // Channel 2 with expansion: every component the expanded green; 1 and 3 without: plain copies
    // of red and blue; any other channel leaves the components alone. An expansion state of 1 is on.
    const QList<std::tuple<int, int, QRgb>> rows = {
        {2, 2, rgb(204, 204, 204)}, {1, 0, rgb(75, 75, 75)}, {3, 0, rgb(12, 12, 12)}, {9, 0, rgb(75, 180, 12)},
        {0, 1, rgb(63, 204, 11)}};
    for (const auto& [channel, expansion, expected] : rows) {
        v.setContrastExpansion(expansion);
        v.setChannel(channel);
        QCOMPARE(shown(v, 0, 0), expected);
    }
}

void TestVideoView::gainFiltersInvert()
{
    VideoView v;
    showPlain(v, frameOf(640, 480, [](int x, int) {
        static const int values[] = {255, 1, 127, 128, 200, 100, 0};
        return qRgb(values[x % 7], values[x % 7], values[x % 7]);
    }));
    // Only a checked box (state 2) enables gain; a gain of 100 is a factor just below 1; extreme
    // values clamp instead of overflowing.
    struct Step { int enabled, gain, x, expected; };
    for (const Step& t : {Step{0, 100, 0, 255}, {2, 100, 0, 254}, {2, 100, 1, 0}, {2, 100, 5, 99}, {2, 200, 2, 253},
                          {2, 200, 4, 255}, {2, 50, 5, 49}, {1, 50, 5, 100}, {2, 2000000000, 1, 255},
                          {2, 2000000000, 6, 0}, {2, -300, 0, 0}}) {
        v.setGain(t.gain);
        v.setGainEnabled(t.enabled);
        QCOMPARE(shown(v, t.x, 0), rgb(t.expected, t.expected, t.expected));
    }
    v.setGainEnabled(0);

    // Filters scale the other two components by 0.8; an unknown filter is no pass.
    feed(v, frameOf(640, 480, [](int x, int) {
        return x == 0 ? qRgb(255, 255, 255) : (x == 1 ? qRgb(5, 4, 9) : qRgb(0, 128, 255));
    }));
    for (const auto& [filter, x, expected] :
         {std::tuple(2, 0, rgb(204, 255, 204)), std::tuple(3, 1, rgb(4, 3, 9)), std::tuple(4, 1, rgb(5, 4, 9))}) {
        v.changeFilter(filter);
        QCOMPARE(shown(v, x, 0), expected);
    }
    v.changeFilter(0);
    v.setInvert(2);
    QCOMPARE(shown(v, 2, 0), rgb(255, 127, 0));
    // Filtering on screen works in place, on the shown result; the source stays as received.
    v.filterOnScreen();
    QCOMPARE(shown(v, 2, 0), rgb(0, 128, 255));
    QCOMPARE(v.sourceImage.pixel(2, 0) & 0xffffffu, rgb(0, 128, 255));

    // Inversion comes after gain and filter: 100 at gain 50 is 49, red-filtered green 39.
    feed(v, solid(640, 480, qRgb(100, 100, 100)));
    v.setGain(50);
    v.setGainEnabled(2);
    v.changeFilter(1);
    QCOMPARE(shown(v, 0, 0), rgb(255 - 49, 255 - 39, 255 - 39));
    // A null frame changes nothing that is shown.
    feed(v, QImage());
    QCOMPARE(shown(v, 0, 0), rgb(255 - 49, 255 - 39, 255 - 39));
}

void TestVideoView::processingRegion()
{
    VideoView v;
    v.setInvert(2);
    // A frame larger than the region: only the top-left 640 x 480 is processed.
    QImage big = solid(800, 600, qRgb(10, 20, 30));
    showPlain(v, big);
    QCOMPARE(shown(v, 639, 479), rgb(245, 235, 225));
    QCOMPARE(shown(v, 640, 0), rgb(10, 20, 30));
    QCOMPARE(shown(v, 0, 480), rgb(10, 20, 30));
    // A frame smaller than the region: all of it is processed; the frame handed in is unchanged.
    v.setVideoSize(4);
    v.setImage(big);
    QCOMPARE(shown(v, 799, 599), rgb(245, 235, 225));
    QCOMPARE(big.pixel(0, 0) & 0xffffffu, rgb(10, 20, 30));

    // Narrower than 640 pixels: shown as received.
    QTest::ignoreMessage(QtDebugMsg, QRegularExpression(".*"));
    feed(v, solid(639, 480, qRgb(1, 2, 3)));
    QCOMPARE(shown(v, 0, 0), rgb(1, 2, 3));

    // A grey-scale frame is processed as RGB with equal components.
    QImage grey(640, 480, QImage::Format_Grayscale8);
    grey.fill(77);
    v.setImage(grey);
    QCOMPARE(v.sourceImage.format(), QImage::Format_RGB32);
    QCOMPARE(v.minB, 77);
    QCOMPARE(shown(v, 100, 100), rgb(178, 178, 178));
    v.setChannel(1);
    v.changeFilter(3);
    QCOMPARE(shown(v, 100, 100), rgb(255 - 61, 255 - 61, 178));

    // Another size stops processing: the last processed frame stays until a control change shows
    // the frame unprocessed; the next frame is processed again.
    v.setChannel(0);
    v.changeFilter(0);
    showPlain(v, solid(640, 480, qRgb(0, 128, 255)));
    v.setVideoSize(3);
    QCOMPARE(v.size(), QSize(1024, 768));
    QCOMPARE(v.minimumSize(), QSize(1024, 768));
    QVERIFY(!v.haveImage);
    QCOMPARE(shown(v, 0, 0), rgb(255, 127, 0));
    v.changeFilter(1);
    QCOMPARE(shown(v, 0, 0), rgb(0, 128, 255));
    feed(v, solid(1024, 768, qRgb(0, 128, 255)));
    QCOMPARE(shown(v, 1023, 767), rgb(255, 255 - 102, 255 - 204));

    // An unknown code keeps the size, re-applies it and still clears haveImage.
    v.setMinimumSize(10, 10);
    v.setVideoSize(5);
    QCOMPARE(v.minimumSize(), QSize(1024, 768));
    QVERIFY(!v.haveImage);
}


void TestVideoView::focusBox()
{
    VideoView v;
    v.setVideoSize(1);
    v.setMPP(0.5f, 0.25f);
    QSignalSpy spy(&v, &VideoView::offsetChanged);

    // The centre is clamped so that the 168 x 140 box stays in the view.
    sendMouse(&v, QEvent::MouseButtonPress, QPoint(0, 0));
    QCOMPARE(v.focusCentre, QPoint(84, 70));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.at(0), (QVariantList{(84 - 320) * 0.5f, (70 - 240) * 0.25f}));
    sendMouse(&v, QEvent::MouseMove, QPoint(639, 479));
    QCOMPARE(v.focusBoxOrigin(), QPoint(472, 340));
    QCOMPARE(spy.at(1), (QVariantList{118.0f, 42.5f}));

    // The micrometres per pixel are those of the 640 x 480 frame; every size shows the same
    // field, so the same spot on the specimen (three quarters across and down) is as far off
    // the centre at every size.
    for (int code = 1; code <= 4; ++code) {
        v.setVideoSize(code);
        sendMouse(&v, QEvent::MouseButtonPress, QPoint(v.videoWidth * 3 / 4, v.videoHeight * 3 / 4));
        QCOMPARE(spy.last().at(0).toFloat(), 80.0f);
        QCOMPARE(spy.last().at(1).toFloat(), 30.0f);
    }
    v.setVideoSize(1);
    spy.clear();

    // In a view narrower than the box, the upper clamp wins; before any scale, offsets are 0.
    VideoView tiny;
    tiny.setFixedSize(100, 100);
    QSignalSpy tinySpy(&tiny, &VideoView::offsetChanged);
    sendMouse(&tiny, QEvent::MouseButtonPress, QPoint(0, 0));
    QCOMPARE(tiny.focusCentre, QPoint(16, 30));
    QCOMPARE(tinySpy.at(0).at(0).toFloat(), 0.0f);

    // The box is drawn as a 168 x 140 outline.
    showPlain(v, solid(640, 480, qRgb(0, 0, 0)));
    sendMouse(&v, QEvent::MouseButtonPress, QPoint(300, 200));
    QImage shot = v.grab().toImage();
    for (const QPoint& p : {QPoint(216, 130), QPoint(383, 269)})
        QCOMPARE(shot.pixel(p) & 0xffffffu, 0xff0000u);
    for (const QPoint& p : {QPoint(384, 200), QPoint(300, 270), QPoint(300, 200)})
        QCOMPARE(shot.pixel(p) & 0xffffffu, 0u);

    // Without the overlay, clicks still move the box's centre and report it, but it is not drawn.
    v.setFocusOverlay(false);
    sendMouse(&v, QEvent::MouseMove, QPoint(300, 300));
    QCOMPARE(v.focusCentre, QPoint(300, 300));
    QCOMPARE(spy.count(), 2);
    shot = v.grab().toImage();
    QCOMPARE(shot.pixel(216, 230) & 0xffffffu, 0u);
}

void TestVideoView::fastPassesEqualReference()
{
    QRandomGenerator rng(20240611);
    const QSize sizes[] = {{640, 480}, {800, 600}, {1024, 768}, {1280, 960}, {700, 300},
                           {1300, 1000}, {639, 480}, {660, 500}};
    for (int round = 0; round < 16; ++round) {
        const QSize size = sizes[rng.bounded(int(std::size(sizes)))];
        // Components within a random band, with some pixels outside it, so that the bounds vary.
        int lo[3], hi[3];
        for (int c = 0; c < 3; ++c) {
            lo[c] = rng.bounded(200);
            hi[c] = lo[c] + rng.bounded(256 - lo[c]);
        }
        QImage frame(size, QImage::Format_RGB32);
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x) {
                int comp[3];
                for (int c = 0; c < 3; ++c)
                    comp[c] = rng.bounded(50) == 0 ? rng.bounded(256) : lo[c] + rng.bounded(hi[c] - lo[c] + 1);
                frame.setPixel(x, y, qRgb(comp[0], comp[1], comp[2]));
            }

        VideoView v;
        ReferenceVideo ref;
        v.setVideoSize(rng.bounded(1, 6));
        ref.videoWidth = v.videoWidth;
        ref.videoHeight = v.videoHeight;
        auto settle = [&] {
            v.changeFilter(ref.filter = rng.bounded(5));
            v.setContrastExpansion(ref.contrastExpansion = int(rng.bounded(3)));
            v.setChannel(ref.channel = rng.bounded(5));
            v.setGain(int(ref.gain = float(rng.bounded(0, 400))));
            v.setGainEnabled((ref.gainEnabled = rng.bounded(2) == 1) ? 2 : 0);
            v.setInvert((ref.invert = rng.bounded(2) == 1) ? 2 : 0);
        };
        settle();
        v.setImage(frame);
        ref.setImage(frame);
        QCOMPARE(band(v, 0), (Band{ref.minR, ref.maxR, ref.rangeR}));
        QCOMPARE(band(v, 1), (Band{ref.minG, ref.maxG, ref.rangeG}));
        QCOMPARE(band(v, 2), (Band{ref.minB, ref.maxB, ref.rangeB}));
        QVERIFY2(v.display == ref.display, qPrintable(QStringLiteral("new frame, round %1").arg(round)));
        settle();
        ref.reprocess();
        QVERIFY2(v.display == ref.display, qPrintable(QStringLiteral("control change, round %1").arg(round)));
        v.filterOnScreen();
        ref.filterOnScreen();
        QVERIFY2(v.display == ref.display, qPrintable(QStringLiteral("in place, round %1").arg(round)));
        // Of a frame larger than the region, the view keeps only the region as received.
        QCOMPARE(v.sourceImage, ref.sourceImage.copy(QRect(0, 0, v.videoWidth, v.videoHeight) & ref.sourceImage.rect()));
        // Another size: a control change shows the whole frame as received.
        v.setVideoSize(rng.bounded(1, 6));
        ref.videoWidth = v.videoWidth;
        ref.videoHeight = v.videoHeight;
        ref.haveImage = false;
        settle();
        ref.reprocess();
        QVERIFY2(v.display == ref.display, qPrintable(QStringLiteral("after a size change, round %1").arg(round)));
    }
}

void TestVideoView::saveImage()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    SaveDriver driver;
    VideoView v;
    // Saves under `name` in the folder (cancels for none); the number of boxes seen so far.
    auto save = [&](const QString& name) {
        driver.path = name.isEmpty() ? QString() : dir.filePath(name);
        v.saveImage();
        return driver.boxes.size();
    };
    // No frame yet: reported, nothing written.
    QCOMPARE(save("empty.jpg"), 1);
    QVERIFY(driver.boxes[0].contains("could not be saved"));

    // The shown (processed) frame, under the name given: no extension is added.
    showPlain(v, solid(640, 480, qRgb(30, 60, 90)));
    v.setInvert(2);
    QCOMPARE(save("frame"), 1);
    QImage saved(driver.path, "JPEG");
    QCOMPARE(saved.size(), QSize(640, 480));
    const QRgb p = saved.pixel(320, 240);
    QVERIFY(qAbs(qRed(p) - 225) <= 3 && qAbs(qGreen(p) - 195) <= 3 && qAbs(qBlue(p) - 165) <= 3);

    // An existing file: the user is asked first; "No" keeps the file as it was, "Yes" replaces it.
    v.setInvert(0);
    auto contents = [&driver] {
        QFile file(driver.path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    const QByteArray before = contents();
    // The dialog is Qt's own, and its types go by name: "frame", typed in, is not read to find
    // that it holds a JPEG image.
    const QString sniffed = QFileIconProvider().type(QFileInfo(driver.path));
    QCOMPARE(sniffed, QMimeDatabase().mimeTypeForName("image/jpeg").comment());
    QString typeShown;
    bool ownDialog = false;
    driver.inspect = [&](QFileDialog* dlg) {
        ownDialog = dlg->testOption(QFileDialog::DontUseNativeDialog);
        dlg->setDirectory(dir.path());
        QTest::keyClicks(dlg->findChild<QLineEdit*>("fileNameEdit"), "frame");
        const auto* model = dlg->findChild<QFileSystemModel*>();
        const QModelIndex typed = model->index(dir.filePath("frame"));
        QVERIFY(QTest::qWaitFor([&] { return !(typeShown = model->type(typed)).isEmpty(); }, 5000));
    };
    QCOMPARE(save("frame"), 2);
    driver.inspect = nullptr;
    QVERIFY(ownDialog);
    QVERIFY2(!typeShown.isEmpty() && typeShown != sniffed, qPrintable(typeShown));
    QVERIFY(driver.boxes[1].contains("already exists"));
    QCOMPARE(contents(), before);
    driver.replace = true;
    QCOMPARE(save("frame"), 3);
    QCOMPARE(qRed(QImage(driver.path, "JPEG").pixel(320, 240)) / 10, 3);

    // Cancelled: nothing written, nothing said. A folder that does not exist: reported.
    QCOMPARE(save(QString()), 3);
    QCOMPARE(save("missing/frame.jpg"), 4);
    QVERIFY(driver.boxes[3].contains(driver.path));
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"frame"});
}

QTEST_MAIN(TestVideoView)
#include "tst_videoview.moc"
