// Control window form: the state after construction, the window's keys and menu, and leaving.
#include "HostText.h"
#include "NeighborVideo.h"
#include "ScopeBrowser.h"
#include "ServiceConfig.h"
#include "Session.h"
#include "VideoWindow.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTabBar>
#include <QTest>
#include <QTextCursor>
#include <QTextDocument>
#include <memory>
#include <vector>

namespace {

QList<ScopeBrowser*> browsers()
{
    QList<ScopeBrowser*> out;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* b = qobject_cast<ScopeBrowser*>(w))
            out << b;
    return out;
}

// A control window as the session start makes it, shown and active.
std::unique_ptr<Session> activeSession()
{
    auto s = std::make_unique<Session>(nullptr, nullptr, Qt::Window);
    s->show();
    s->activateWindow();
    if (!QTest::qWaitForWindowActive(s.get()))
        return nullptr;
    return s;
}

void ctrl(QWidget* w, Qt::Key key) { QTest::keyClick(w, key, Qt::ControlModifier); }

} // namespace

class TestSessionForm : public QObject
{
    Q_OBJECT
private slots:
    void constructionState();
    void keysAndMenu();
    void exitAndCloseHideOnly();
};

void TestSessionForm::constructionState()
{
    Session s(nullptr, nullptr, Qt::Window);
    QCOMPARE(s.objectName(), QStringLiteral("Session"));
    QCOMPARE(s.windowTitle(), QStringLiteral("Brolt 2.4"));
    QCOMPARE(s.centralWidget()->objectName(), QStringLiteral("qt_central_widget"));
    QVERIFY(!s.isVisible());

    // Size limits hold against any resize.
    QCOMPARE(s.size(), QSize(800, 600));
    s.resize(5, 5);
    QCOMPARE(s.size(), QSize(21, 90));
    s.resize(2000, 2000);
    QCOMPARE(s.size(), QSize(800, 600));

    for (QLineEdit* e : {s.xCoord, s.yCoord, s.zCoord, s.jobNameEdit, s.strainEdit, s.totalBox})
        QVERIFY2(e->text().isEmpty(), qPrintable(e->objectName()));
    QVERIFY(s.totalBox->isReadOnly() && !s.jobNameEdit->isReadOnly());
    QVERIFY(!s.strainLabel->isHidden() && !s.strainEdit->isHidden());
    for (QWidget* w : s.findChildren<QWidget*>())
        if (!qobject_cast<QTabBar*>(w->parentWidget()))     // the bar's own scroll buttons
            QVERIFY2(w->isEnabled(), qPrintable(w->objectName()));
    QCOMPARE(s.zSlider->value(), 0);
    QCOMPARE(s.zSlider->maximum(), 29);
    QVERIFY(s.filterCheck->isChecked());
    QCOMPARE(s.joblistBox->count(), 1);
    QCOMPARE(s.joblistBox->item(0)->text(), QString());
    QCOMPARE(s.TextLabel1_3_3_2_2->text(), QString::fromUtf8("\xc2\xb5m"));

    // Spin boxes: the starting value, and no value outside the range, typed or set.
    const struct { QSpinBox* box; int lo, hi, start; } spins[] = {
        {s.frameRangeSelector, 1, 1000, 200}, {s.frameCountSelector, 3, 120, 15}, {s.densityBox, 1, 10, 1}};
    for (const auto& sp : spins) {
        QCOMPARE(sp.box->value(), sp.start);
        sp.box->setValue(sp.lo - 1);
        QCOMPARE(sp.box->value(), sp.lo);
        sp.box->setValue(sp.hi + 1);
        QCOMPARE(sp.box->value(), sp.hi);
        sp.box->selectAll();
        QTest::keyClicks(sp.box, QString::number(sp.hi * 10 + 9));
        QVERIFY2(sp.box->value() >= sp.lo && sp.box->value() <= sp.hi, qPrintable(sp.box->objectName()));
        QTest::keyClick(sp.box, Qt::Key_Return);
        QVERIFY(sp.box->value() >= sp.lo && sp.box->value() <= sp.hi);
    }

    // The countdown label: bold red "Retrieving time...".
    QTextDocument doc;
    doc.setHtml(s.timeLabel->text());
    QCOMPARE(doc.toPlainText(), QStringLiteral("Retrieving time..."));
    QTextCursor c(&doc);
    c.setPosition(1);
    QVERIFY(c.charFormat().font().bold());
    QCOMPARE(s.timeLabel->palette().color(QPalette::WindowText), QColor(255, 0, 0));

    // Host text goes into a view that loads nothing it names; the build's heading and address.
    QVERIFY(qobject_cast<HostTextEdit*>(s.sysInfoBox));
    QVERIFY(s.sysInfoBox->isReadOnly());
    QCOMPARE(s.sysInfoBox->font().pointSize(), 10);
    QVERIFY(s.sysInfoBox->toPlainText().startsWith(
        QStringLiteral(BROLT_INTRO_TITLE "\n" BROLT_INTRO_VERSION "\n\nTo begin, choose a destination")));
    QVERIFY(s.textLabel1->text().contains(QStringLiteral("Zelm 3D (download at " BROLT_HOMEPAGE ").\n\nYou can")));

    // Members start idle and empty.
    for (MyHTTP* h : {&s.jobListConn, &s.jobConn, &s.cancelConn, &s.createJobConn, &s.timeConn, &s.moveConn,
                      &s.zMoveConn, &s.neighMoveConn, &s.sysInfoConn, &s.calibConn})
        QVERIFY(!h->isBusy());
    QVERIFY(!s.controlTimer.isActive());
    QVERIFY(!s.videoWindow && !s.neighborVideo);
    QVERIFY(!s.neighborsDone && !s.stackBusy && !s.expired && !s.corner1Set && !s.corner2Set);
    QVERIFY(s.stackZ.isEmpty() && s.jobList.isEmpty() && s.curSlide.isEmpty());
    QCOMPARE(s.movieCount, 0);
    QCOMPARE(s.filterState, 0);
    QVERIFY(s.corner1.x == 0 && s.corner1.y == 0 && s.corner2.x == 0 && s.corner2.y == 0);
}

void TestSessionForm::keysAndMenu()
{
    auto s = activeSession();
    QVERIFY(s);
    QStatusBar* bar = s->statusBar();
    const QString saving = QStringLiteral("Saving is disabled in Brolt");

    // Ctrl+S from a button: the message for two seconds.
    s->frameGrabButton->setFocus();
    QElapsedTimer shown;
    ctrl(s->frameGrabButton, Qt::Key_S);
    shown.start();
    QCOMPARE(bar->currentMessage(), saving);
    QTRY_VERIFY_WITH_TIMEOUT(bar->currentMessage().isEmpty(), 5000);
    QVERIFY2(shown.elapsed() >= 1800, qPrintable(QString::number(shown.elapsed())));

    // Outside the fields the editing and file keys reach their actions, which change nothing.
    const QList<QPair<Qt::Key, QAction*>> keys = {
        {Qt::Key_O, s->fileOpenAction}, {Qt::Key_P, s->filePrintAction}, {Qt::Key_Z, s->editUndoAction},
        {Qt::Key_Y, s->editRedoAction}, {Qt::Key_X, s->editCutAction},   {Qt::Key_C, s->editCopyAction},
        {Qt::Key_V, s->editPasteAction}};
    QGuiApplication::clipboard()->setText(QStringLiteral("job-7"));
    s->xCoord->setText(QStringLiteral("12.5"));
    const int windows = QApplication::topLevelWidgets().size();
    for (const auto& [key, action] : keys) {
        QSignalSpy fired(action, &QAction::triggered);
        ctrl(s->frameGrabButton, key);
        QCOMPARE(fired.size(), 1);
    }
    QCOMPARE(s->xCoord->text(), QStringLiteral("12.5"));
    QVERIFY(s->jobNameEdit->text().isEmpty() && bar->currentMessage().isEmpty());
    QCOMPARE(QApplication::topLevelWidgets().size(), windows);
    QVERIFY(s->isVisible());

    // In a line edit the editing keys work on the field; Ctrl+S still saves.
    std::vector<std::unique_ptr<QSignalSpy>> editSpies;
    for (const auto& k : keys)
        if (k.second->objectName().startsWith(QLatin1String("edit")))
            editSpies.push_back(std::make_unique<QSignalSpy>(k.second, &QAction::triggered));
    s->jobNameEdit->setFocus();
    ctrl(s->jobNameEdit, Qt::Key_V);
    QCOMPARE(s->jobNameEdit->text(), QStringLiteral("job-7"));
    ctrl(s->jobNameEdit, Qt::Key_Z);
    QCOMPARE(s->jobNameEdit->text(), QString());
    ctrl(s->jobNameEdit, Qt::Key_Y);
    QCOMPARE(s->jobNameEdit->text(), QStringLiteral("job-7"));
    s->jobNameEdit->selectAll();
    ctrl(s->jobNameEdit, Qt::Key_X);
    QCOMPARE(s->jobNameEdit->text(), QString());
    ctrl(s->jobNameEdit, Qt::Key_S);
    QCOMPARE(bar->currentMessage(), saving);
    // ... and so do they in a spin box's editor.
    s->densityBox->setFocus();
    s->densityBox->selectAll();
    QTest::keyClicks(s->densityBox, QStringLiteral("7"));
    QCOMPARE(s->densityBox->value(), 7);
    ctrl(s->densityBox, Qt::Key_Z);
    QCOMPARE(s->densityBox->value(), 1);
    ctrl(s->densityBox, Qt::Key_Y);
    QCOMPARE(s->densityBox->value(), 7);
    for (const auto& spy : editSpies)
        QCOMPARE(spy->size(), 0);

    // Ctrl+N: a new log-in dialog, and the control window stays.
    const QList<ScopeBrowser*> before = browsers();
    s->frameGrabButton->setFocus();
    ctrl(s->frameGrabButton, Qt::Key_N);
    QList<ScopeBrowser*> opened = browsers();
    for (ScopeBrowser* b : before)
        opened.removeOne(b);
    QCOMPARE(opened.size(), 1);
    QVERIFY(opened.first()->isVisible() && !opened.first()->parent());
    QVERIFY(s->isVisible());
    qDeleteAll(opened);

    // The menu shows both separators between its two entries.
    const QList<QAction*> items = s->fileMenu->actions();
    QCOMPARE(items.size(), 4);
    QCOMPARE(items.first(), s->newSessionAction);
    QCOMPARE(items.last(), s->fileExitAction);
    for (QAction* sep : {items[1], items[2]})
        QVERIFY(sep->isSeparator() && s->fileMenu->actionGeometry(sep).height() > 0);
}

void TestSessionForm::exitAndCloseHideOnly()
{
    auto s = activeSession();
    QVERIFY(s);
    auto* video = new VideoWindow;
    auto* neighbors = new NeighborVideo;
    QPointer<Session> session(s.get());
    s->videoWindow = video;
    s->neighborVideo = neighbors;
    video->show();
    neighbors->show();

    // "E&xit" hides the control and video windows; the neighbour window stays.
    s->fileExitAction->trigger();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(session && s->videoWindow && s->neighborVideo);
    QVERIFY(!s->isVisible() && !video->isVisible() && neighbors->isVisible());

    // The frame's close button leaves the same way: a close event hides the video window too.
    s->show();
    video->show();
    QVERIFY(s->windowHandle());
    QCloseEvent close;
    QCoreApplication::sendEvent(s->windowHandle(), &close);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(session && s->videoWindow && s->neighborVideo);
    QVERIFY(!s->isVisible() && !video->isVisible() && neighbors->isVisible());

    delete video;
    delete neighbors;
}

QTEST_MAIN(TestSessionForm)
#include "tst_session_form.moc"
