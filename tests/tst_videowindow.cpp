// Video window: the form, the controls forwarding to the view, the size list, the coordinate
// fields, and frames fetched from the host reaching the view.
#include "MyWebJPEG.h"
#include "TestHost.h"
#include "TestImages.h"
#include "VideoReference.h"
#include "VideoWindow.h"

#include <QApplication>
#include <QFileDialog>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

class TestVideoWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void form();
    void coordinateFields();
    void sizeList();
    void controlsForward();
    void framesFromHost();
    void saveButtonOpensDialog();
};

namespace {

QRgb shown(const VideoWindow& w, int x, int y)
{
    return w.imageView->display.pixel(x, y) & 0xffffffu;
}

void click(QWidget* w, QPoint at)
{
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(at), w->mapToGlobal(QPointF(at)), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &press);
}

} // namespace

void TestVideoWindow::initTestCase()
{
    qRegisterMetaType<QImage>("QImage&");
    qRegisterMetaType<CoordinateTriple>("CoordinateTriple&");
}

void TestVideoWindow::form()
{
    VideoWindow w;
    QCOMPARE(w.objectName(), QStringLiteral("VideoWindow"));
    QCOMPARE(w.windowTitle(), QStringLiteral("Brolt 2.4: Video"));
    QVERIFY(w.width() >= 660 && w.height() >= 633);
    QCOMPARE(VideoWindow(nullptr, "named").objectName(), QStringLiteral("named"));

    QCOMPARE(w.imageView->geometry(), QRect(10, 140, 640, 480));
    QCOMPARE(w.imageView->cursor().shape(), Qt::ArrowCursor);
    QVERIFY(!w.imageView->hasMouseTracking());
    QCOMPARE(w.PushButton14->text(), QStringLiteral("Save Image"));

    auto items = [](QComboBox* c) {
        QStringList out;
        for (int i = 0; i < c->count(); ++i)
            out << c->itemText(i);
        return out;
    };
    QCOMPARE(items(w.ComboBox2), (QStringList{"Normal", "Red", "Green", "Blue"}));
    QCOMPARE(items(w.filterChoices), (QStringList{"None", "Red Filter", "Green Filter", "Blue Filter"}));
    QCOMPARE(items(w.videoResComboBox), (QStringList{"640x480", "800x600", "1024x768", "1280x960"}));
    QCOMPARE(w.videoResComboBox->currentIndex(), 0);
    QVERIFY(!w.videoResComboBox->isEditable());

    QCOMPARE(w.CheckBox4->text(), QStringLiteral("Invert Video"));
    QCOMPARE(w.contrastCheck->text(), QStringLiteral("Contrast Expansion"));
    QCOMPARE(w.showFAR->text(), QStringLiteral("Focus Overlay"));
    QCOMPARE(w.brightnessSlider_2->minimum(), 20);
    QCOMPARE(w.brightnessSlider_2->maximum(), 200);
    QCOMPARE(w.brightnessSlider_2->value(), 100);

    // The view's own defaults match the controls' starting states.
    QCOMPARE(w.imageView->contrastExpansion, int(w.contrastCheck->checkState()));
    QCOMPARE(w.imageView->focusOverlay, w.showFAR->isChecked());
    QCOMPARE(w.imageView->gainEnabled, w.CheckBox3_2->isChecked());
    QCOMPARE(w.imageView->invert, w.CheckBox4->isChecked());
    QCOMPARE(w.imageView->gain, float(w.brightnessSlider_2->value()));
}

void TestVideoWindow::coordinateFields()
{
    VideoWindow w;
    QVERIFY(w.xCoord->text().isEmpty());
    QVERIFY(w.yCoord->text().isEmpty());

    CoordinateTriple at(250000, 120000, 333);       // 25 mm, 12 mm
    w.setPhysical(at);
    QCOMPARE(w.xCoord->text(), QStringLiteral("25.0000"));
    QCOMPARE(w.yCoord->text(), QStringLiteral("12.0000"));
    QCOMPARE(w.physical.z, 333.0f);

    // A click 25 pixels right of the centre at 0.5 µm per pixel: 12.5 µm.
    w.setMPP(0.5f, 2.0f);
    click(w.imageView, QPoint(345, 230));
    QCOMPARE(w.offsetX, 12.5f);
    QCOMPARE(w.offsetY, -20.0f);
    QCOMPARE(w.xCoord->text(), QStringLiteral("25.0125"));
    QCOMPARE(w.yCoord->text(), QStringLiteral("11.9800"));

    // Without the overlay, clicks still move the point.
    w.showFAR->setChecked(false);
    QVERIFY(!w.imageView->focusOverlay);
    click(w.imageView, QPoint(320, 250));
    QCOMPARE(w.xCoord->text(), QStringLiteral("25.0000"));
    QCOMPARE(w.yCoord->text(), QStringLiteral("12.0200"));

    // Typed text has no effect and is overwritten by the next report.
    w.xCoord->setText("99");
    CoordinateTriple neg(-12345, 5, 0);
    w.setPhysical(neg);
    QCOMPARE(w.xCoord->text(), QStringLiteral("-1.2345"));

    // Only an offset, no position yet.
    VideoWindow fresh;
    fresh.updateOffset(-1000.0f, 0.05f);
    QCOMPARE(fresh.xCoord->text(), QStringLiteral("-1.0000"));
    QCOMPARE(fresh.yCoord->text(), QStringLiteral("0.0001"));
}

void TestVideoWindow::sizeList()
{
    VideoWindow w;
    QSignalSpy spy(&w, &VideoWindow::videoFormatChanged);
    w.videoResComboBox->setFocus();
    QTest::keyClick(w.videoResComboBox, Qt::Key_Down);
    QTest::keyClick(w.videoResComboBox, Qt::Key_Down);
    QCOMPARE(w.videoResComboBox->currentText(), QStringLiteral("1024x768"));
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.last().at(0).toInt(), 3);
    QCOMPARE(w.imageView->size(), QSize(1024, 768));
    QCOMPARE(w.imageView->videoWidth, 1024);
    QVERIFY(!w.imageView->haveImage);
    QVERIFY(w.width() < 1024);                          // the window keeps its size

    QTest::keyClick(w.videoResComboBox, Qt::Key_Home);
    QCOMPARE(spy.last().at(0).toInt(), 1);
    QCOMPARE(w.imageView->size(), QSize(640, 480));

    // Disabled: the user can no longer change it; the other controls still act.
    QImage f = TestImages::solid(640, 480, qRgb(0, 128, 255));
    w.contrastCheck->setChecked(false);
    w.updateImage(f);
    w.disableResSwitching();
    QVERIFY(!w.videoResComboBox->isEnabled());
    const int before = int(spy.count());
    QTest::keyClick(w.videoResComboBox, Qt::Key_End);
    QCOMPARE(spy.count(), before);
    QCOMPARE(w.videoResComboBox->currentIndex(), 0);
    w.CheckBox4->setChecked(true);
    QCOMPARE(shown(w, 0, 0), qRgb(255, 127, 0) & 0xffffffu);
}

void TestVideoWindow::controlsForward()
{
    VideoWindow w;
    QImage f = TestImages::solid(640, 480, qRgb(100, 100, 100));
    w.contrastCheck->setChecked(false);
    QCOMPARE(w.imageView->contrastExpansion, 0);
    w.updateImage(f);
    QCOMPARE(shown(w, 5, 5), qRgb(100, 100, 100) & 0xffffffu);

    // The slider acts only once "Gain" is checked, then with its current value.
    w.brightnessSlider_2->setValue(50);
    QCOMPARE(w.imageView->gain, 50.0f);
    QCOMPARE(shown(w, 5, 5), qRgb(100, 100, 100) & 0xffffffu);
    w.CheckBox3_2->setChecked(true);
    QCOMPARE(shown(w, 5, 5), qRgb(49, 49, 49) & 0xffffffu);
    w.brightnessSlider_2->setValue(200);
    QCOMPARE(shown(w, 5, 5), qRgb(199, 199, 199) & 0xffffffu);
    w.CheckBox3_2->setChecked(false);

    emit w.filterChoices->activated(1);
    QCOMPARE(w.imageView->filter, 1);
    QCOMPARE(shown(w, 5, 5), qRgb(100, 80, 80) & 0xffffffu);
    emit w.filterChoices->activated(0);

    emit w.ComboBox2->activated(3);
    QCOMPARE(w.imageView->channel, 3);
    w.CheckBox4->setChecked(true);
    QVERIFY(w.imageView->invert);
    QCOMPARE(shown(w, 5, 5), qRgb(155, 155, 155) & 0xffffffu);

    w.contrastCheck->setChecked(true);
    QCOMPARE(w.imageView->contrastExpansion, 2);
    w.showFAR->setChecked(false);
    QVERIFY(!w.imageView->focusOverlay);
    w.showFAR->setChecked(true);
    QVERIFY(w.imageView->focusOverlay);
}

void TestVideoWindow::framesFromHost()
{
    TestHost host;
    // Two flat halves with a soft edge: a frame with known bands after decoding.
    QImage picture(640, 480, QImage::Format_RGB32);
    for (int y = 0; y < 480; ++y)
        for (int x = 0; x < 640; ++x)
            picture.setPixel(x, y, x < 320 ? qRgb(40, 80, 120) : qRgb(200, 160, 130));
    const QByteArray bytes = TestImages::jpeg(picture);
    int frames = 0;
    host->script("iserv:p", [&](const HostRequest& r) {
        ++frames;
        return r.value("ps") == QLatin1String("1") ? HostReply::jpeg(bytes) : HostReply::notFound();
    });

    VideoWindow w;
    MyWebJPEG video;
    QObject::connect(&video, &MyWebJPEG::newImageAvailable, &w, &VideoWindow::updateImage);
    QSignalSpy arrived(&video, &MyWebJPEG::newImageAvailable);
    video.setURL(host.url("/cgi-bin/iserv?l=alice&s=tall&f=p&ps=1"));
    video.get();
    QVERIFY(arrived.wait());

    // What the view shows equals the reference processing of the decoded frame.
    ReferenceVideo ref;
    ref.setImage(QImage::fromData(bytes, "JPEG"));
    QCOMPARE(w.imageView->display, ref.display);
    QVERIFY(qRed(w.imageView->display.pixel(10, 10)) < 10);
    QVERIFY(qRed(w.imageView->display.pixel(630, 470)) > 245);

    // A control change, then the next frame of the same URL: processed with the new settings.
    emit w.filterChoices->activated(2);
    w.CheckBox4->setChecked(true);
    video.get();
    QVERIFY(arrived.wait());
    ref.filter = 2;
    ref.invert = true;
    ref.setImage(QImage::fromData(bytes, "JPEG"));
    QCOMPARE(w.imageView->display, ref.display);
    QCOMPARE(frames, 2);
}

void TestVideoWindow::saveButtonOpensDialog()
{
    VideoWindow w;
    QString seen;
    QTimer closer;
    closer.setInterval(5);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            seen = d->objectName() + "|" + d->parentWidget()->objectName();
            QMetaObject::invokeMethod(d, "reject", Qt::QueuedConnection);
        }
    });
    closer.start();
    w.PushButton14->click();
    QCOMPARE(seen, QStringLiteral("file dialog|imageView"));
}

QTEST_MAIN(TestVideoWindow)
#include "tst_videowindow.moc"
