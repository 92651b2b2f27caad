// Video window: the controls forwarding to the view, the size list, the coordinate fields and
// the save button.
#include "TestImages.h"
#include "VideoWindow.h"

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

class TestVideoWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void formAndSaveButton();
    void coordinateFields();
    void controlsForward();
};

namespace {

QRgb shown(const VideoWindow& w, int x, int y) { return w.imageView->display.pixel(x, y) & 0xffffffu; }
QRgb rgb(int r, int g, int b) { return qRgb(r, g, b) & 0xffffffu; }

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

void TestVideoWindow::formAndSaveButton()
{
    // The view's own defaults match the controls' starting states.
    VideoWindow w;
    QCOMPARE(w.imageView->contrastExpansion, int(w.contrastCheck->checkState()));
    QCOMPARE(w.imageView->focusOverlay, w.showFAR->isChecked());
    QCOMPARE(w.imageView->gainEnabled, w.CheckBox3_2->isChecked());
    QCOMPARE(w.imageView->invert, w.CheckBox4->isChecked());
    QCOMPARE(w.imageView->gain, float(w.brightnessSlider_2->value()));
    QCOMPARE(w.imageView->videoWidth, 640);
    QCOMPARE(w.videoResComboBox->currentText(), QStringLiteral("640x480"));
    QVERIFY(w.xCoord->text().isEmpty() && w.yCoord->text().isEmpty());

    // The save button opens the file dialog over the view.
    QString seen;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (auto* d = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
            seen = d->objectName() + "|" + d->parentWidget()->objectName();
            QMetaObject::invokeMethod(d, "reject", Qt::QueuedConnection);
        }
    });
    closer.start(5);
    w.PushButton14->click();
    QCOMPARE(seen, QStringLiteral("file dialog|imageView"));
}

void TestVideoWindow::coordinateFields()
{
    VideoWindow w;
    CoordinateTriple at(250000, 120000, 333);       // 25 mm, 12 mm
    w.setPhysical(at);
    QCOMPARE(w.xCoord->text(), QStringLiteral("25.0000"));
    QCOMPARE(w.yCoord->text(), QStringLiteral("12.0000"));

    // A click 25 pixels right of the centre at 0.5 µm per pixel: 12.5 µm.
    w.setMPP(0.5f, 2.0f);
    click(w.imageView, QPoint(345, 230));
    QCOMPARE(w.xCoord->text(), QStringLiteral("25.0125"));
    QCOMPARE(w.yCoord->text(), QStringLiteral("11.9800"));
    // Without the overlay, clicks still move the point.
    w.showFAR->setChecked(false);
    QVERIFY(!w.imageView->focusOverlay);
    click(w.imageView, QPoint(320, 250));
    QCOMPARE(w.yCoord->text(), QStringLiteral("12.0200"));

    // Typed text is overwritten by the next report.
    w.xCoord->setText("99");
    CoordinateTriple neg(-12345, 5, 0);
    w.setPhysical(neg);
    QCOMPARE(w.xCoord->text(), QStringLiteral("-1.2345"));

    // Only an offset, no position yet.
    VideoWindow fresh;
    fresh.updateOffset(-1000.0f, 0.05f);
    QCOMPARE(fresh.xCoord->text(), QStringLiteral("-1.0000"));
    QCOMPARE(fresh.yCoord->text(), QStringLiteral("0.0001"));

    // The coordinate fields' panels, drawn once and copied, look as the style draws them, in
    // every state.
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QLineEdit plain(w.xCoord->parentWidget());
    plain.setGeometry(w.xCoord->geometry());
    plain.setFont(w.xCoord->font());
    plain.setPalette(w.xCoord->palette());
    plain.setText(w.xCoord->text());
    for (const bool enabled : {true, false, true}) {
        w.xCoord->setEnabled(enabled);
        plain.setEnabled(enabled);
        QCOMPARE(w.xCoord->grab().toImage(), plain.grab().toImage());
    }
}

void TestVideoWindow::controlsForward()
{
    VideoWindow w;
    QImage f = TestImages::solid(640, 480, qRgb(100, 100, 100));
    w.contrastCheck->setChecked(false);
    w.updateImage(f);
    QCOMPARE(shown(w, 5, 5), rgb(100, 100, 100));

    // The slider acts only once "Gain" is checked, then with its current value.
    w.brightnessSlider_2->setValue(50);
    QCOMPARE(shown(w, 5, 5), rgb(100, 100, 100));
    w.CheckBox3_2->setChecked(true);
    QCOMPARE(shown(w, 5, 5), rgb(49, 49, 49));
    w.brightnessSlider_2->setValue(200);
    QCOMPARE(shown(w, 5, 5), rgb(199, 199, 199));
    w.CheckBox3_2->setChecked(false);

    emit w.filterChoices->activated(1);
    QCOMPARE(shown(w, 5, 5), rgb(100, 80, 80));
    emit w.filterChoices->activated(0);
    emit w.ComboBox2->activated(3);
    QCOMPARE(w.imageView->channel, 3);
    w.CheckBox4->setChecked(true);
    QCOMPARE(shown(w, 5, 5), rgb(155, 155, 155));
    w.contrastCheck->setChecked(true);
    QCOMPARE(w.imageView->contrastExpansion, 2);

    // The size list: the view takes the size, the window keeps its own.
    QSignalSpy spy(&w, &VideoWindow::videoFormatChanged);
    w.videoResComboBox->setFocus();
    QTest::keyClick(w.videoResComboBox, Qt::Key_Down);
    QTest::keyClick(w.videoResComboBox, Qt::Key_Down);
    QCOMPARE(spy.count(), 2);
    QCOMPARE(spy.last().at(0).toInt(), 3);
    QCOMPARE(w.imageView->size(), QSize(1024, 768));
    QVERIFY(w.width() < 1024);
    QTest::keyClick(w.videoResComboBox, Qt::Key_Home);
    QCOMPARE(spy.last().at(0).toInt(), 1);
    QCOMPARE(w.imageView->size(), QSize(640, 480));
    // Disabled: the user can no longer change it.
    w.disableResSwitching();
    QTest::keyClick(w.videoResComboBox, Qt::Key_End);
    QCOMPARE(spy.count(), 3);
    QCOMPARE(w.videoResComboBox->currentIndex(), 0);
}

QTEST_MAIN(TestVideoWindow)
#include "tst_videowindow.moc"
