// A whole control session as a user goes through it: log in, reserve, take control, move,
// focus, take a focus stack and the neighbour mosaic, create a job, look at it, and leave.
// The client is started as the program starts it; from then on the test only types, clicks
// and drags on visible widgets, and reads what the windows show and what the host was asked.
#include "BoxCloser.h"
#include "HighResPreview.h"
#include "LowResPreview.h"
#include "NeighborVideo.h"
#include "PeakMemory.h"
#include "ScopeBrowser.h"
#include "Session.h"
#include "TestHost.h"
#include "UserActions.h"
#include "VideoStack.h"
#include "VideoWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTest>

#include <cmath>
#include <memory>
#include <optional>

namespace {

constexpr int Wait = 30000;     // ms; generous for the sanitizer builds, never reached when sound

const QString jobName = QStringLiteral("walkthrough job");

// Focus measure of a picture region: the mean squared difference of neighbouring grey levels.
double sharpness(const QImage& picture, QRect r)
{
    const QImage img = picture.convertToFormat(QImage::Format_RGB32);
    r &= img.rect().adjusted(0, 0, -1, -1);
    auto grey = [&](int x, int y) {
        const QRgb c = img.pixel(x, y);
        return (qRed(c) + qGreen(c) + qBlue(c)) / 3.0;
    };
    double grad = 0;
    qint64 n = 0;
    for (int y = r.top(); y < r.bottom(); ++y)
        for (int x = r.left(); x < r.right(); ++x) {
            const double g = grey(x, y);
            const double dx = grey(x + 1, y) - g;
            const double dy = grey(x, y + 1) - g;
            grad += dx * dx + dy * dy;
            ++n;
        }
    return n ? grad / double(n) : 0;
}

// How many distinct colours a picture shows: a painted slide or frame has many, an empty view
// a handful.
int colourCount(const QImage& picture)
{
    const QImage img = picture.convertToFormat(QImage::Format_RGB32);
    QSet<QRgb> seen;
    for (int y = 0; y < img.height(); y += 2)
        for (int x = 0; x < img.width(); x += 2)
            seen.insert(img.pixel(x, y));
    return int(seen.size());
}

bool isTissue(QRgb c)
{
    return qRed(c) + qGreen(c) + qBlue(c) <= 675;
}

bool isPure(QRgb c, int channel)
{
    const int v[3] = {qRed(c), qGreen(c), qBlue(c)};
    for (int i = 0; i < 3; ++i)
        if (i == channel ? v[i] < 250 : v[i] > 5)
            return false;
    return true;
}

int countPure(const QImage& picture, QRect r, int channel)
{
    const QImage img = picture.convertToFormat(QImage::Format_RGB32);
    r &= img.rect();
    int n = 0;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            n += isPure(img.pixel(x, y), channel);
    return n;
}

QString fmt4(double units)
{
    return QString::asprintf("%.4f", units * 0.0001);
}

QString fmtZ(double units)
{
    return QString::asprintf("%.0f", units * 0.1);
}

} // namespace

class TestControlSessionWalkthrough : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void step01_logIn();
    void step02_reserveNow();
    void step03_controlScope();
    void step04_moveToTissue();
    void step05_quickFocus();
    void step06_focusStack();
    void step07_neighbours();
    void step08_createJob();
    void step09_showJob();
    void step10_exit();

private:
    // The stage as the host has it.
    SimStage::Position stage() { return (*host)->world().stagePosition(QStringLiteral("tall")); }
    // Index in the host's log of the first request on `route` at or after `from`; -1 if none.
    int find(const QString& route, int from = 0) const;
    int logSize() const { return int((*host)->log().size()); }
    bool controlsOn() const { return session->AFButton->isEnabled() && session->frameGrabButton->isEnabled(); }
    bool pickTab(const QString& title) { return ::pickTab(session->Stack_Acquisition, title, Wait); }
    bool click(QWidget* w) { return clickWhenEnabled(w, Wait); }
    QImage videoPicture() const { return session->videoWindow->imageView->grab().toImage(); }

    QElapsedTimer clock;
    std::unique_ptr<TestHost> host;
    std::unique_ptr<BoxCloser> boxes;
    QPointer<ScopeBrowser> browser;
    QPointer<Session> session;
    QPointer<VideoWindow> video;
    bool broken = false;
    double unfocusedSharpness = 0;
    QRect jobRect;              // the job's rectangle in the high-resolution view, at its end corner
};

int TestControlSessionWalkthrough::find(const QString& route, int from) const
{
    const auto& log = (*host)->log();
    for (int i = std::max(0, from); i < log.size(); ++i)
        if (log[i].route == route)
            return i;
    return -1;
}

void TestControlSessionWalkthrough::initTestCase()
{
    clock.start();
    host = std::make_unique<TestHost>();
    World& w = (*host)->world();
    // No booked window of the demonstration world may start while the session runs.
    const qint64 now = w.now();
    for (SimScope& s : w.scopes)
        for (Reservation& r : s.schedule)
            if (r.start >= now - 1 && r.start < now + 3600)
                r.start = now + 24 * 3600;
    boxes = std::make_unique<BoxCloser>();

    // As the program starts.
    ScopeBrowser::setSessionOpener([](SessionInfo& info) { Session::openSession(info); });
    browser = new ScopeBrowser;
    browser->show();
    QVERIFY(QTest::qWaitForWindowExposed(browser));
}

void TestControlSessionWalkthrough::init()
{
    if (broken)
        QSKIP("an earlier step failed");
}

void TestControlSessionWalkthrough::cleanup()
{
    if (!QTest::currentTestFailed())
        return;
    broken = true;
    const auto& log = (*host)->log();
    QString tail = QStringLiteral("step %1 failed; the host's last requests:\n").arg(QTest::currentTestFunction());
    for (qsizetype i = std::max<qsizetype>(0, log.size() - 30); i < log.size(); ++i)
        tail += QStringLiteral("  %1 %2 %3?%4\n")
                    .arg(log[i].status)
                    .arg(log[i].route, log[i].path, QString::fromLatin1(log[i].rawQuery.left(160)));
    for (const BoxCloser::Box& b : boxes->seen)
        tail += QStringLiteral("  box: %1: %2\n").arg(b.title, b.text.left(120));
    qWarning().noquote() << tail;
}

void TestControlSessionWalkthrough::cleanupTestCase()
{
    qInfo("walkthrough: %lld ms, peak resident memory (VmHWM) %lld kB", qint64(clock.elapsed()), peakResidentKb());
    ScopeBrowser::setSessionOpener({});
    // The program never deletes its windows; the test takes down what is left of them.
    QList<QPointer<QWidget>> windows;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (!w->parentWidget())
            windows << w;
    for (const QPointer<QWidget>& w : windows)
        delete w.data();
    boxes.reset();
    host.reset();
}

void TestControlSessionWalkthrough::step01_logIn()
{
    ScopeBrowser* b = browser;
    QVERIFY(b && b->isVisible());
    QTest::keyClick(b->hostName, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(b->hostName, host->field());
    QTest::keyClicks(b->loginBox, QStringLiteral("guest"));
    QTest::keyClicks(b->passwordBox, QStringLiteral("guest"));
    QCOMPARE(b->hostName->text(), host->field());
    QVERIFY(click(b->connectToServer));

    QTRY_COMPARE_WITH_TIMEOUT(b->scopeListBox->count(), 3, Wait);
    QTRY_COMPARE_WITH_TIMEOUT(b->connectionStatus->text(), QStringLiteral("Connection Successful"), Wait);
    QVERIFY(b->bannerBox->toPlainText().contains(QStringLiteral("Brolt demonstration host")));
    QCOMPARE(b->connectToServer->text(), QStringLiteral("Refresh"));
    QCOMPARE(boxes->seen.size(), 0);
    // The log-in check comes first, then the list.
    const int check = find(QStringLiteral("iserv:checkauth"));
    QVERIFY(check >= 0);
    QVERIFY(find(QStringLiteral("iserv:i"), check) > check);

    const QStringList names{QStringLiteral("tall"), QStringLiteral("handsome"), QStringLiteral("dark")};
    for (int row = 0; row < names.size(); ++row) {
        QListWidgetItem* item = b->scopeListBox->item(row);
        QCOMPARE(item->text(), names[row]);
        QTest::mouseClick(b->scopeListBox->viewport(), Qt::LeftButton, {},
                          b->scopeListBox->visualItemRect(item).center());
        const QStringList slides = (*host)->world().scope(names[row])->slides;
        QTRY_COMPARE_WITH_TIMEOUT(b->slideList->count(), slides.size(), Wait);
        for (int i = 0; i < slides.size(); ++i)
            QCOMPARE(b->slideList->item(i)->text(), slides[i]);
        QVERIFY(b->descriptionBox->toPlainText().contains(names[row]));
    }
    // The reservation sweep asks once per microscope.
    QTRY_COMPARE_WITH_TIMEOUT((*host)->count(QStringLiteral("iserv:cwt")), 3, Wait);
}

void TestControlSessionWalkthrough::step02_reserveNow()
{
    ScopeBrowser* b = browser;
    QVERIFY(b);
    QListWidgetItem* tall = b->scopeListBox->item(0);
    QTest::mouseClick(b->scopeListBox->viewport(), Qt::LeftButton, {}, b->scopeListBox->visualItemRect(tall).center());
    QTRY_COMPARE_WITH_TIMEOUT(b->scopeListBox->currentRow(), 0, Wait);
    // No control time yet.
    QVERIFY(!b->beginButton->isEnabled());
    QVERIFY(click(b->reserveButton));
    QVERIFY(boxes->waitFor(1, Wait));
    QCOMPARE(boxes->seen[0].title, QStringLiteral("Success!"));
    QVERIFY2(boxes->seen[0].text.startsWith(QStringLiteral("Your control time: ")), qPrintable(boxes->seen[0].text));
    // The list comes again with "tall" still selected and its "Control Scope" enabled.
    QTRY_VERIFY_WITH_TIMEOUT(b->scopeListBox->count() == 3 && b->scopeListBox->currentRow() == 0, Wait);
    QCOMPARE(b->scopeListBox->currentItem()->text(), QStringLiteral("tall"));
    QTRY_VERIFY_WITH_TIMEOUT(b->beginButton->isEnabled(), Wait);
    const int ticket = find(QStringLiteral("iserv:sticket"));
    QVERIFY(ticket >= 0);
    const int reserve = find(QStringLiteral("iserv:schdnow"), ticket);
    QVERIFY(reserve > ticket);
    QCOMPARE((*host)->log()[reserve].value(QStringLiteral("s")), QStringLiteral("tall"));
    QCOMPARE(boxes->seen.size(), 1);
}

void TestControlSessionWalkthrough::step03_controlScope()
{
    ScopeBrowser* b = browser;
    QVERIFY(b);
    const int before = logSize();
    QVERIFY(click(b->beginButton));

    const QString title = QStringLiteral("Brolt 2.4: Controlling tall at <%1>").arg(host->field());
    QTRY_VERIFY_WITH_TIMEOUT(shownWindow<Session>(), Wait);
    session = shownWindow<Session>();
    QCOMPARE(session->windowTitle(), title);
    QTRY_VERIFY_WITH_TIMEOUT(shownWindow<VideoWindow>(), Wait);
    video = shownWindow<VideoWindow>();
    QCOMPARE(video->windowTitle(), QStringLiteral("Brolt 2.4: Video"));
    // The log-in dialog has gone; the neighbour window waits unseen.
    QTRY_VERIFY_WITH_TIMEOUT(!browser, Wait);
    QVERIFY(!shownWindow<NeighborVideo>());

    // A 640 x 480 frame, the overview and the whole-slide image painted.
    QCOMPARE(video->imageView->size(), QSize(640, 480));
    QTRY_VERIFY_WITH_TIMEOUT(colourCount(videoPicture()) > 200, Wait);
    QTRY_VERIFY_WITH_TIMEOUT(colourCount(session->lowRes->grab().toImage()) > 200, Wait);
    QTRY_VERIFY_WITH_TIMEOUT(colourCount(session->highRes->grab().toImage()) > 200, Wait);
    QTRY_COMPARE_WITH_TIMEOUT(session->statusBar()->currentMessage(), QStringLiteral("Ready."), Wait);
    QTRY_VERIFY_WITH_TIMEOUT(QRegularExpression(QStringLiteral("^\\d\\d:\\d\\d$")).match(session->timeLabel->text()).hasMatch(),
                             Wait);
    // The countdown counts from the host's remaining time: an hour at most.
    const QStringList mmss = session->timeLabel->text().split(QLatin1Char(':'));
    QVERIFY(mmss[0].toInt() * 60 + mmss[1].toInt() <= 3600);
    QVERIFY(mmss[0].toInt() >= 55);

    const int ticket = find(QStringLiteral("iserv:ticket"), before);
    QVERIFY(ticket >= 0);
    for (const QString& route : {QStringLiteral("iserv:d"), QStringLiteral("iserv:p"), QStringLiteral("iserv:t"),
                                QStringLiteral("iserv:w")})
        QVERIFY2(find(route, ticket) > ticket, qPrintable(route));
    QCOMPARE((*host)->log()[find(QStringLiteral("iserv:p"), ticket)].value(QStringLiteral("ps")), QStringLiteral("1"));
    const SimStage::Position at = stage();
    QTRY_COMPARE_WITH_TIMEOUT(session->xCoord->text(), fmt4(at.x), Wait);
    QCOMPARE(session->yCoord->text(), fmt4(at.y));
    QCOMPARE(session->zCoord->text(), fmtZ(at.z));
    // The first position poll's frame is in: a later one would give the controls back in the
    // middle of the next step's move.
    QVERIFY(waitSettled([this] { return !session->moveConn.isBusy() && !session->videoJPEG.request()->isBusy(); },
                        20, Wait));
    QVERIFY(controlsOn());
    QCOMPARE(boxes->seen.size(), 1);
}

void TestControlSessionWalkthrough::step04_moveToTissue()
{
    QVERIFY(session);
    const QString x0 = session->xCoord->text();
    const QString y0 = session->yCoord->text();
    // Contrast expansion would make a blurred frame look as crisp as a sharp one: the frame
    // as it comes, to judge the focus by.
    QVERIFY(video->contrastCheck->isChecked());
    QVERIFY(click(video->contrastCheck));
    QVERIFY(!video->contrastCheck->isChecked());
    const QImage frameBefore = videoPicture();

    const auto spot = tissueSpot(session->lowRes->grab().toImage());
    QVERIFY2(spot, "no tissue on the overview");
    QTest::mouseClick(session->lowRes, Qt::LeftButton, {}, *spot);
    QVERIFY(session->xCoord->text() != x0 || session->yCoord->text() != y0);
    // The overview's destination carries no height: z stays.
    const double typedX = session->xCoord->text().toDouble();
    const double typedY = session->yCoord->text().toDouble();

    const int before = logSize();
    QVERIFY(click(session->frameGrabButton));
    QCOMPARE(session->statusBar()->currentMessage(), QStringLiteral("Moving scope..."));
    QVERIFY(!session->frameGrabButton->isEnabled() && !session->AFButton->isEnabled());

    QTRY_VERIFY_WITH_TIMEOUT(controlsOn(), Wait);
    QCOMPARE(session->statusBar()->currentMessage(), QStringLiteral("Ready."));
    // The move, at least one poll after a "*", then one frame after the last poll.
    const int move = find(QStringLiteral("iserv:m"), before);
    QVERIFY(move >= 0);
    QCOMPARE((*host)->log()[move].value(QStringLiteral("x")).toDouble(), std::round(typedX * 10000.0));
    QCOMPARE((*host)->log()[move].value(QStringLiteral("y")).toDouble(), std::round(typedY * 10000.0));
    const int poll = find(QStringLiteral("iserv:w"), move);
    QVERIFY2(poll > move, "no position poll after the move");
    int lastPoll = poll;
    for (int i = poll; (i = find(QStringLiteral("iserv:w"), i + 1)) >= 0;)
        lastPoll = i;
    const int frame = find(QStringLiteral("iserv:p"), move);
    QVERIFY2(frame > lastPoll, "a frame was asked for before the stage came to rest");

    const SimStage::Position at = stage();
    QCOMPARE(session->xCoord->text(), fmt4(at.x));
    QCOMPARE(session->yCoord->text(), fmt4(at.y));
    QCOMPARE(session->zCoord->text(), fmtZ(at.z));
    QVERIFY(std::abs(at.x - std::round(typedX * 10000.0)) < 1 && std::abs(at.y - std::round(typedY * 10000.0)) < 1);
    const QImage frameAfter = videoPicture();
    QVERIFY2(frameAfter != frameBefore, "the frame did not change after the move");
    unfocusedSharpness = sharpness(frameAfter, QRect(200, 0, 440, 480));
}

void TestControlSessionWalkthrough::step05_quickFocus()
{
    QVERIFY(session);
    const int before = logSize();
    QVERIFY(click(session->AFButton));
    QCOMPARE(session->statusBar()->currentMessage(), QStringLiteral("Performing Autofocus..."));
    QVERIFY(!session->AFButton->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(controlsOn(), Wait);
    QCOMPARE(session->statusBar()->currentMessage(), QStringLiteral("Ready."));
    const int focus = find(QStringLiteral("iserv:a"), before);
    QVERIFY(focus >= 0);
    QVERIFY(find(QStringLiteral("iserv:p"), focus) > focus);

    const SimStage::Position at = stage();
    QCOMPARE(session->zCoord->text(), fmtZ(at.z));
    const double focusZ = (*host)->world().focusUnderStage(QStringLiteral("tall"), at.x, at.y);
    QVERIFY2(std::abs(at.z - focusZ) <= 15.0, qPrintable(QStringLiteral("z %1, focus %2").arg(at.z).arg(focusZ)));
    const double focused = sharpness(videoPicture(), QRect(200, 0, 440, 480));
    QVERIFY2(focused > unfocusedSharpness * 1.5,
             qPrintable(QStringLiteral("sharpness %1 after focusing, %2 before").arg(focused).arg(unfocusedSharpness)));
}

void TestControlSessionWalkthrough::step06_focusStack()
{
    QVERIFY(session);
    QVERIFY(pickTab(QStringLiteral("Focus Assist")));
    // The focus box on the middle of the frame, where the tissue was chosen.
    QTest::mouseClick(video->imageView, Qt::LeftButton, {}, QPoint(320, 240));

    const QImage empty = session->insetStack->grab().toImage();
    const int before = logSize();
    QVERIFY(click(session->focusStackButton));
    QCOMPARE(session->statusBar()->currentMessage(), QStringLiteral("Acquiring focus stack..."));
    QTRY_VERIFY_WITH_TIMEOUT(controlsOn() && session->statusBar()->currentMessage().isEmpty(), Wait);

    int insets = 0;
    for (int i = before; i < logSize(); ++i)
        insets += (*host)->log()[i].route == QStringLiteral("iserv:p") && (*host)->log()[i].value(QStringLiteral("inset")) == "1";
    QCOMPARE(insets, 15);
    QCOMPARE(session->zSlider->maximum(), 14);

    // Browse the stack from the bottom; each inset comes with its height.
    QTest::keyClick(session->zSlider, Qt::Key_Home);
    QTRY_COMPARE_WITH_TIMEOUT(session->zSlider->value(), 0, Wait);
    QList<double> heights;
    QList<double> focus;
    for (int level = 0; level < 15; ++level) {
        if (level > 0)
            QTest::keyClick(session->zSlider, Qt::Key_Right);
        QTRY_COMPARE_WITH_TIMEOUT(session->zSlider->value(), level, Wait);
        const QImage inset = session->insetStack->grab().toImage();
        QCOMPARE(inset.size(), QSize(168, 140));
        QVERIFY2(inset != empty, qPrintable(QStringLiteral("no inset at level %1").arg(level)));
        focus << sharpness(inset, inset.rect());
        heights << session->zCoord->text().toDouble();
    }
    for (int level = 1; level < 15; ++level)
        QVERIFY2(heights[level] > heights[level - 1], "the levels do not rise with the slider");

    int sharpest = 0;
    for (int level = 1; level < 15; ++level)
        if (focus[level] > focus[sharpest])
            sharpest = level;
    QTest::keyClick(session->zSlider, Qt::Key_Home);
    for (int level = 0; level < sharpest; ++level)
        QTest::keyClick(session->zSlider, Qt::Key_Right);
    QTRY_COMPARE_WITH_TIMEOUT(session->zSlider->value(), sharpest, Wait);
    const double chosen = session->zCoord->text().toDouble();
    QCOMPARE(chosen, heights[sharpest]);
    // The sharpest inset is the level nearest the focus height (13 um apart).
    const SimStage::Position was = stage();
    const double focusZ = (*host)->world().focusUnderStage(QStringLiteral("tall"), was.x, was.y);
    QVERIFY2(std::abs(chosen * 10.0 - focusZ) <= 75.0,
             qPrintable(QStringLiteral("sharpest inset at %1 um, focus at %2").arg(chosen).arg(focusZ / 10.0)));

    const int move = logSize();
    QVERIFY(click(session->frameGrabButton));
    QTRY_VERIFY_WITH_TIMEOUT(controlsOn() && session->statusBar()->currentMessage() == QStringLiteral("Ready."), Wait);
    const int m = find(QStringLiteral("iserv:m"), move);
    QVERIFY(m >= 0);
    QCOMPARE((*host)->log()[m].value(QStringLiteral("z")).toDouble(), chosen * 10.0);
    QVERIFY(find(QStringLiteral("iserv:p"), m) > m);
    QCOMPARE(stage().z, chosen * 10.0);
    QCOMPARE(session->zCoord->text(), fmtZ(chosen * 10.0));
}

void TestControlSessionWalkthrough::step07_neighbours()
{
    QVERIFY(session);
    QVERIFY(pickTab(QStringLiteral("Calibration Assist")));
    const int before = logSize();
    QVERIFY(click(session->neighborButton));
    QTRY_VERIFY_WITH_TIMEOUT(shownWindow<NeighborVideo>(), Wait);
    NeighborVideo* n = shownWindow<NeighborVideo>();
    QVERIFY(!controlsOn());
    QTRY_VERIFY_WITH_TIMEOUT(controlsOn() && session->statusBar()->currentMessage().isEmpty(), Wait);

    int moves = 0;
    for (int i = before; i < logSize(); ++i)
        moves += (*host)->log()[i].route == QStringLiteral("iserv:m") && (*host)->log()[i].value(QStringLiteral("b")) == "y";
    QCOMPARE(moves, 36);
    for (int k = 1; k <= 35; ++k)
        QVERIFY2(colourCount(n->tile(k)->grab().toImage()) > 50, qPrintable(QStringLiteral("tile %1 is empty").arg(k)));
    // The mosaic's rectangle is drawn on the high-resolution view.
    QVERIFY(countPure(session->highRes->grab().toImage(), session->highRes->rect(), 2) > 20);
}

void TestControlSessionWalkthrough::step08_createJob()
{
    QVERIFY(session);
    QVERIFY(pickTab(QStringLiteral("Image Acquisition")));
    HighResPreview* view = session->highRes;
    const QImage shown = view->grab().toImage();
    const QPoint centre(view->width() / 2, view->height() / 2);

    // A rectangle of about 3 x 2 mm beside the centre that holds tissue and bare glass: a job
    // then has both stacks to take and stacks that will be null.
    const QSize size(120, 80);
    std::optional<QRect> pick;
    for (int dy = -120; dy <= 120 && !pick; dy += 10)
        for (int dx = -170; dx <= 170 && !pick; dx += 10) {
            const QRect r(centre + QPoint(dx, dy), size);
            if (!view->rect().adjusted(4, 4, -4, -4).contains(r) || r.adjusted(-30, -30, 30, 30).contains(centre))
                continue;
            int tissue = 0, all = 0;
            for (int y = r.top(); y <= r.bottom(); y += 8)
                for (int x = r.left(); x <= r.right(); x += 8) {
                    tissue += isTissue(shown.pixel(x, y));
                    ++all;
                }
            if (tissue * 4 > all && tissue * 4 < all * 3)
                pick = r;
        }
    QVERIFY2(pick, "no edge of tissue in the high-resolution view");

    // Drag the view so that its centre, the destination, is the top-left corner; the view
    // moves twice the mouse's distance.
    const QPoint toCorner1 = (pick->topLeft() - centre) / 2;
    QVERIFY(mouseDrag(view, centre, centre + toCorner1));
    const QString x1 = session->xCoord->text();
    QVERIFY(click(session->PushButton6));
    QVERIFY(mouseDrag(view, centre, centre + QPoint(size.width() / 2, size.height() / 2)));
    QVERIFY(session->xCoord->text() != x1);
    QVERIFY(click(session->PushButton7));
    jobRect = QRect(centre - QPoint(size.width(), size.height()), centre);

    QTest::keyClick(session->densityBox, Qt::Key_Up);
    QCOMPARE(session->densityBox->value(), 2);
    QVERIFY(session->totalBox->text().toInt() > 0);
    QTest::mouseClick(session->jobNameEdit, Qt::LeftButton);
    QTest::keyClicks(session->jobNameEdit, jobName);
    QVERIFY(session->filterCheck->isChecked());
    QCOMPARE(boxes->seen.size(), 1);

    const int before = logSize();
    QVERIFY(click(session->createJobButton));
    QVERIFY(boxes->waitFor(2, Wait));
    QCOMPARE(boxes->seen[1].title, QStringLiteral("Job waiting."));
    int filtered = 0, plain = 0;
    for (int i = before; i < logSize(); ++i) {
        filtered += (*host)->log()[i].route == QStringLiteral("iserv:cjf");
        plain += (*host)->log()[i].route == QStringLiteral("iserv:cj");
    }
    QCOMPARE(filtered, 1);
    QCOMPARE(plain, 0);
    const SimJob* job = (*host)->world().job(jobName);
    QVERIFY(job);
    QVERIFY2(!job->stacks.isEmpty() && !job->nullStacks.isEmpty(),
             qPrintable(QStringLiteral("%1 stacks, %2 null").arg(job->stacks.size()).arg(job->nullStacks.size())));
    QVERIFY(session->jobNameEdit->text().isEmpty());
}

void TestControlSessionWalkthrough::step09_showJob()
{
    QVERIFY(session);
    QVERIFY(pickTab(QStringLiteral("Stack Info")));
    QVERIFY(click(session->displayJobButton));
    QListWidget* list = session->joblistBox;
    QTRY_VERIFY_WITH_TIMEOUT(!list->findItems(jobName, Qt::MatchExactly).isEmpty(), Wait);
    QListWidgetItem* item = list->findItems(jobName, Qt::MatchExactly).first();
    const int before = logSize();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(item).center());
    QTRY_COMPARE_WITH_TIMEOUT(list->currentItem(), item, Wait);

    // The job's slide comes again with its stacks as red dots and its null stacks as green.
    QTRY_VERIFY_WITH_TIMEOUT(find(QStringLiteral("icount:sbl"), find(QStringLiteral("/whole_slides/"), before)) >= 0, Wait);
    const QRect inside = jobRect.adjusted(-4, -4, -8, -8);     // clear of the centre's marker
    QTRY_VERIFY_WITH_TIMEOUT(countPure(session->highRes->grab().toImage(), inside, 0) > 4
                                 && countPure(session->highRes->grab().toImage(), inside, 1) > 4,
                             Wait);
    QCOMPARE((*host)->log()[find(QStringLiteral("icount:jl"), before)].value(QStringLiteral("j")), jobName);
}

void TestControlSessionWalkthrough::step10_exit()
{
    QVERIFY(session);
    QMenuBar* bar = session->menuBar();
    QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(session->fileMenu->menuAction()).center());
    QTRY_VERIFY_WITH_TIMEOUT(session->fileMenu->isVisible(), Wait);
    QCOMPARE(session->fileExitAction->text(), QStringLiteral("E&xit"));
    QTest::mouseClick(session->fileMenu, Qt::LeftButton, {},
                      session->fileMenu->actionGeometry(session->fileExitAction).center());
    QTRY_VERIFY_WITH_TIMEOUT(!session->isVisible(), Wait);
    QVERIFY(video && !video->isVisible());
    QVERIFY(shownWindow<NeighborVideo>());
    QVERIFY(!shownWindow<Session>() && !shownWindow<VideoWindow>() && !shownWindow<ScopeBrowser>());
    QCOMPARE(boxes->seen.size(), 2);
}

QTEST_MAIN(TestControlSessionWalkthrough)
#include "tst_control_session_walkthrough.moc"
