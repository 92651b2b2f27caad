// Focus stack: the levels sent and fetched, the slider afterwards, and the ends of the chain.
#include "ControlSession.h"
#include "TestImages.h"
#include "VideoWindow.h"

#include <QComboBox>

#include <QStatusBar>
#include <QTest>
#include <cmath>

namespace {

// Runs a stack from the given position and waits for its chain to stop.
bool runStack(ControlSession& c, const CoordinateTriple& at)
{
    c.s->physical = at;
    c.s->focusStackButton->click();
    return c.settle();
}

// Focus measure: the mean squared Laplacian of the grey levels.
double sharpness(const QImage& image)
{
    const QImage g = image.convertToFormat(QImage::Format_Grayscale8);
    double sum = 0;
    for (int y = 1; y + 1 < g.height(); ++y)
        for (int x = 1; x + 1 < g.width(); ++x) {
            const auto p = [&](int dx, int dy) { return double(g.constScanLine(y + dy)[x + dx]); };
            const double l = 4 * p(0, 0) - p(-1, 0) - p(1, 0) - p(0, -1) - p(0, 1);
            sum += l * l;
        }
    return sum / double(g.width() * g.height());
}

// A stage position over tissue on the microscope's slide, at its focus height.
CoordinateTriple overTissue(ControlSession& c, double* focus)
{
    World& w = c.host->world();
    const QString slide = w.mountedSlide(QStringLiteral("tall"));
    const auto specimen = w.slide(slide);
    for (double y = 200000; y < 300000; y += 2500)
        for (double x = 300000; x < 450000; x += 2500) {
            const QPointF p = w.slidePoint(QStringLiteral("tall"), slide, {x, y});
            if (specimen->tissueAt(p.x(), p.y()) > 0.8) {
                *focus = w.focusUnderStage(QStringLiteral("tall"), x, y);
                return CoordinateTriple(float(x), float(y), float(*focus));
            }
        }
    return CoordinateTriple();
}

} // namespace

class TestSessionStack : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void levelsAgainstHost_data();
    void levelsAgainstHost();
    void sharpestLevelIsNearestFocus();
    void chainEnds_data();
    void chainEnds();
    void spinBoxesChangedDuringStack();
    void videoSizeStopsStack();
    void videoSizeDuringStalledReturn();
};

void TestSessionStack::initTestCase()
{
    qRegisterMetaType<QImage>("QImage&");
}

void TestSessionStack::levelsAgainstHost_data()
{
    QTest::addColumn<float>("centre");
    QTest::addColumn<int>("range");
    QTest::addColumn<int>("count");
    QTest::addColumn<QList<double>>("heights");
    QList<double> around2000, flat, high;
    for (int k = 0; k < 15; ++k) {
        around2000 << 960.0 + 130.0 * k;
        flat << 15000.0;
    }
    for (int k = 0; k < 12; ++k)       // 28460 ... 29890; the next one would be 30020
        high << 28460.0 + 130.0 * k;
    QCOMPARE(around2000.last(), 2780.0);
    QTest::newRow("200 um over 15 around 2000") << 2000.0f << 200 << 15 << around2000;
    QTest::newRow("around 1000: the first level is below 0") << 1000.0f << 200 << 15 << QList<double>{};
    QTest::newRow("range below the count: step 0") << 15000.0f << 10 << 15 << flat;
    QTest::newRow("near 30000: ends early") << 29500.0f << 200 << 15 << high;
}

void TestSessionStack::levelsAgainstHost()
{
    QFETCH(float, centre);
    QFETCH(int, range);
    QFETCH(int, count);
    QFETCH(QList<double>, heights);

    ControlSession c;
    QVERIFY(c.start());
    Session& s = *c.s;
    QVERIFY(c.controlsEnabled(true));
    s.frameRangeSelector->setValue(range);
    s.frameCountSelector->setValue(count);
    // Where the stage is when each video frame (not an inset) is asked for.
    QList<SimStage::Position> frameAt;
    QObject::connect(&*c.host, &SimHost::requestServed, [&](const QString& route) {
        const bool inset = c.host->log().last().value(QStringLiteral("inset")) == QLatin1String("1");
        if (route == QLatin1String("iserv:p") && !inset)
            frameAt << c.host->world().stagePosition(QStringLiteral("tall"));
    });
    c.host->clearLog();
    frameAt.clear();
    const CoordinateTriple at(378350.0f, 251625.0f, centre);
    QVERIFY(runStack(c, at));

    QVERIFY(!s.stackBusy);
    QVERIFY(c.controlsEnabled(true));
    QVERIFY(s.statusBar()->currentMessage().isEmpty());
    QCOMPARE(s.zSlider->maximum(), count - 1);

    // The levels, then one move back to the centre, where the next frame is taken; a stack that
    // sent no level leaves the stage alone.
    const auto moves = c.host->requests(QStringLiteral("iserv:m"));
    QList<double> sent = heights;
    if (!heights.isEmpty())
        sent << double(centre);
    QCOMPARE(moves.size(), sent.size());
    for (int k = 0; k < moves.size(); ++k) {
        const QByteArray expected = "l=guest&s=tall&f=m&b=y&x=378350.000000&y=251625.000000&z="
                                    + QByteArray::number(sent[k], 'f', 6) + "&auth=";
        QVERIFY2(moves[k].rawQuery.startsWith(expected), moves[k].rawQuery.constData());
        QVERIFY(moves[k].rawQuery.size() > expected.size());
    }
    QCOMPARE(frameAt.size(), heights.isEmpty() ? 0 : 1);
    if (!heights.isEmpty()) {
        QCOMPARE(frameAt[0].x, 378350.0);
        QCOMPARE(frameAt[0].y, 251625.0);
        QCOMPARE(frameAt[0].z, double(centre));
        QCOMPARE(s.physical.z, centre);
        QCOMPARE(s.xCoord->text(), QStringLiteral("37.8350"));
        QCOMPARE(s.yCoord->text(), QStringLiteral("25.1625"));
        QCOMPARE(s.zCoord->text(), QString::asprintf("%.0f", double(centre) * 0.1));
    }
    // The insets, then that frame.
    const auto pictures = c.host.queries(QStringLiteral("iserv:p"));
    QCOMPARE(pictures.size(), sent.size());
    for (int k = 0; k < heights.size(); ++k)
        QCOMPARE(pictures[k], QByteArray("l=guest&s=tall&f=p&ps=1&x=16&y=30&inset=1"));
    if (!heights.isEmpty())
        QCOMPARE(pictures.last(), QByteArray("l=guest&s=tall&f=p&ps=1"));
    QCOMPARE(QList<double>(s.stackZ.begin(), s.stackZ.end()), heights);
    QCOMPARE(s.insetStack->images.size(), heights.size());
    for (const QImage& img : s.insetStack->images)
        QCOMPARE(img.size(), QSize(168, 140));

    // Browsing: each level's height goes into the z field, nothing is sent.
    c.host->clearLog();
    for (int k = 0; k < heights.size(); ++k) {
        if (s.zSlider->value() == k)
            s.zSlider->setValue(k == 0 ? 1 : 0);
        s.zCoord->clear();
        s.zSlider->setValue(k);
        QCOMPARE(s.zCoord->text(), QString::asprintf("%.0f", heights[k] * 0.1));
        QCOMPARE(s.insetStack->current, k);
    }
    if (heights.size() < count) {
        s.zCoord->setText(QStringLiteral("typed"));
        s.zSlider->setValue(count - 1);
        QCOMPARE(s.zCoord->text(), QStringLiteral("typed"));
    }
    QCOMPARE(c.host->log().size(), 0);
}

void TestSessionStack::sharpestLevelIsNearestFocus()
{
    ControlSession c;
    QVERIFY(c.start());
    double focus = 0;
    CoordinateTriple at = overTissue(c, &focus);
    QVERIFY(at.z > 0);
    at.z = float(focus + 3 * 130.0);      // focus lies inside the stack, off its centre
    QVERIFY(runStack(c, at));
    Session& s = *c.s;
    QCOMPARE(s.stackZ.size(), 15);
    QCOMPARE(s.insetStack->images.size(), 15);
    int sharpest = 0, nearest = 0;
    for (int k = 1; k < 15; ++k) {
        if (sharpness(s.insetStack->images[k]) > sharpness(s.insetStack->images[sharpest]))
            sharpest = k;
        if (std::abs(s.stackZ[k] - focus) < std::abs(s.stackZ[nearest] - focus))
            nearest = k;
    }
    QCOMPARE(nearest, 8 - 3);
    QCOMPARE(sharpest, nearest);
}

void TestSessionStack::chainEnds_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("moves");         // blocking moves sent: the levels and the return
    QTest::addColumn<int>("levels");        // entries of stackZ and images kept
    QTest::addColumn<bool>("finished");      // the controls came back
    QTest::addColumn<QString>("line");      // to System Info
    const QString level = QStringLiteral("Focus stack stopped: the microscope did not move to the next level.");
    QTest::newRow("refused level move") << "-N" << 5 << 3 << true << level;
    QTest::newRow("failed level move") << "500" << 5 << 3 << true << level;
    QTest::newRow("failed inset") << "inset" << 5 << 3 << true
                                  << "Focus stack stopped: the image of a level could not be fetched.";
    // A stage whose return failed is where nobody knows: no frame, the fields stay.
    QTest::newRow("refused return") << "return" << 16 << 15 << true
                                    << "Focus stack: the microscope did not move back to where the stack began.";
    // Expiry stops the chain where it is: the level under way is still fetched, nothing follows.
    QTest::newRow("expiry") << "expiry" << 4 << 4 << false << QString();
    QTest::newRow("expiry on the way back") << "expiry back" << 16 << 15 << false << QString();
}

void TestSessionStack::chainEnds()
{
    QFETCH(QString, fault);
    QFETCH(int, moves);
    QFETCH(int, levels);
    QFETCH(bool, finished);
    QFETCH(QString, line);

    ControlSession c;
    Session* s = nullptr;
    int moveNo = 0, insetNo = 0;
    c.host->script(QStringLiteral("iserv:m"), [&](const HostRequest& r) {
        if (r.value(QStringLiteral("b")) != QLatin1String("y"))
            return HostReply::text("+OK 378350 251625 15000");
        if (++moveNo == 16 && fault == QLatin1String("return"))
            return HostReply::text("-N");
        if (moveNo == 16 && fault == QLatin1String("expiry back")) {
            s->secondsLeft = 1;
            QTimer::singleShot(0, s, &Session::tickme);
            HostReply back = HostReply::text("+OK");
            back.ready = [&](HostReply&) { return s->expired; };
            return back;
        }
        if (moveNo == 4) {
            if (fault == QLatin1String("-N"))
                return HostReply::text("-N");
            if (fault == QLatin1String("500")) {
                HostReply failed = HostReply::text("+OK");
                failed.status = 500;
                return failed;
            }
            if (fault == QLatin1String("expiry")) {
                s->secondsLeft = 1;
                QTimer::singleShot(0, s, &Session::tickme);
            }
        }
        return HostReply::text("+OK " + r.value(QStringLiteral("x")).toLatin1() + ' '
                               + r.value(QStringLiteral("y")).toLatin1() + ' ' + r.value(QStringLiteral("z")).toLatin1());
    });
    c.host->script(QStringLiteral("iserv:p"), [&](const HostRequest& r) {
        if (r.value(QStringLiteral("inset")) != QLatin1String("1"))
            return HostReply::jpeg(TestImages::jpeg(TestImages::solid(640, 480, qRgb(90, 90, 90))));
        if (++insetNo == 4 && fault == QLatin1String("inset"))
            return HostReply::notFound();
        return HostReply::jpeg(TestImages::jpeg(TestImages::solid(168, 140, qRgb(20 * insetNo, 0, 0))));
    });
    QVERIFY(c.start());
    s = c.s;
    const QStringList fieldsBefore{s->xCoord->text(), s->yCoord->text(), s->zCoord->text()};
    QVERIFY(runStack(c, CoordinateTriple(378350.0f, 251625.0f, 17000.0f)));
    if (fault.startsWith(QLatin1String("expiry")))
        QVERIFY(c.boxes.waitFor(1));
    QVERIFY(c.settle());

    QCOMPARE(moveNo, moves);
    QCOMPARE(s->stackZ.size(), levels);
    QCOMPARE(s->insetStack->images.size(), levels);
    for (int k = 0; k < levels; ++k)
        QCOMPARE(s->stackZ[k], 17000.0 + (k - 8) * 130.0);
    QCOMPARE(s->stackBusy, fault == QLatin1String("expiry"));
    QVERIFY(!s->stackReturning);
    QVERIFY(c.controlsEnabled(finished));

    // The last move, and whether a video frame was asked for after it.
    const auto& log = c.host->log();
    qsizetype lastMove = log.size() - 1;
    while (lastMove >= 0 && log[lastMove].route != QLatin1String("iserv:m"))
        --lastMove;
    QVERIFY(lastMove >= 0);
    bool frameAfter = false;
    for (qsizetype i = lastMove + 1; i < log.size(); ++i)
        if (log[i].route == QLatin1String("iserv:p") && log[i].value(QStringLiteral("inset")) != QLatin1String("1"))
            frameAfter = true;
    const bool returned = finished && fault != QLatin1String("return");
    QCOMPARE(frameAfter, finished);
    if (returned) {
        QCOMPARE(log[lastMove].value(QStringLiteral("z")), QStringLiteral("17000.000000"));
        QCOMPARE(s->zCoord->text(), QStringLiteral("1700"));
    } else if (finished) {
        QCOMPARE(QStringList({s->xCoord->text(), s->yCoord->text(), s->zCoord->text()}), fieldsBefore);
    }

    if (finished) {
        QVERIFY(s->statusBar()->currentMessage().isEmpty());
        QVERIFY(s->sysInfoBox->toPlainText().contains(line));
        QVERIFY(c.boxes.seen.isEmpty());
        // The levels so far stay browsable.
        s->zSlider->setValue(0);
        s->zSlider->setValue(levels - 1);
        QCOMPARE(s->zCoord->text(), QString::asprintf("%.0f", (17000.0 + (levels - 1 - 8) * 130.0) * 0.1));
        QCOMPARE(s->insetStack->current, levels - 1);
    } else {
        QVERIFY(s->expired);
        QCOMPARE(c.boxes.titles(), QStringList{QStringLiteral("Time Expired")});
    }
}

void TestSessionStack::spinBoxesChangedDuringStack()
{
    // A change of the spin boxes moves the remaining levels only; stackZ, the stack view and
    // the slider keep one index per level. A video frame arriving during the stack or its
    // return leaves the controls off, and a press while the chain runs starts nothing.
    ControlSession c;
    Session* s = nullptr;
    QList<int> sliderAtMove;
    bool zLeftAlone = false;
    int framesInStack = 0;
    bool controlsOnInStack = false;
    c.host->script(QStringLiteral("iserv:m"), [&](const HostRequest& r) {
        if (r.value(QStringLiteral("b")) != QLatin1String("y"))
            return HostReply::text("+OK 378350 251625 15000");
        if (!s->stackBusy) {
            // On the way back, too, a frame leaves the controls off.
            s->videoJPEG.get();
            HostReply back = HostReply::text("+OK");
            back.ready = [&](HostReply&) { return framesInStack > 1; };
            return back;
        }
        sliderAtMove << s->zSlider->value();
        if (sliderAtMove.size() == 5) {
            // Browsing an acquired level during the stack leaves the z field alone.
            const QString z = s->zCoord->text();
            s->zSlider->setValue(1);
            zLeftAlone = s->zCoord->text() == z && s->insetStack->current == 1;
            s->frameCountSelector->setValue(3);
            s->frameRangeSelector->setValue(100);
            s->videoJPEG.get();             // a frame asked for before the stack, say
            s->beginZAcquire();             // a press that gets through
        }
        HostReply reply = HostReply::text("+OK");
        if (sliderAtMove.size() == 6)       // held until that frame has arrived
            reply.ready = [&](HostReply&) { return framesInStack > 0; };
        return reply;
    });
    QVERIFY(c.start());
    s = c.s;
    QObject::connect(&s->videoJPEG, &MyWebJPEG::newImageAvailable, s, [&] {
        if (s->stackBusy || s->stackReturning) {
            ++framesInStack;
            controlsOnInStack = controlsOnInStack || !c.controlsEnabled(false);
        }
    });
    QVERIFY(runStack(c, CoordinateTriple(378350.0f, 251625.0f, 15000.0f)));
    QCOMPARE(framesInStack, 2);
    QVERIFY(!controlsOnInStack);

    QList<double> expected;
    for (int k = 0; k < 15; ++k) {
        const int zRemaining = 15 - k;
        expected << (k < 5 ? 15000.0 + (k - 8) * 130.0 : 1 * 330.0 + 15000.0 - zRemaining * 330.0);
    }
    QCOMPARE(QList<double>(s->stackZ.begin(), s->stackZ.end()), expected);
    QCOMPARE(s->insetStack->images.size(), 15);
    QList<int> indexes;
    for (int k = 0; k < 15; ++k)
        indexes << k;
    QCOMPARE(sliderAtMove, indexes);
    QVERIFY(zLeftAlone);
    QVERIFY(!s->stackBusy);
    QVERIFY(c.controlsEnabled(true));
    s->zSlider->setValue(3);
    QCOMPARE(s->zCoord->text(), QString::asprintf("%.0f", expected[3] * 0.1));
    QCOMPARE(s->insetStack->current, 3);
}

void TestSessionStack::videoSizeStopsStack()
{
    // A new video size stops the stack, whose focus box is in the old size's pixels: no level
    // is sent after it, the stage goes back to the centre, and only there is a frame of the new
    // size taken, whose arrival brings the controls back.
    ControlSession c;
    c.host->setDelay(QStringLiteral("iserv:m"), 300);
    Session* s = nullptr;
    bool release = false;
    int newSizeFrames = 0;
    bool takenMidReturn = false;
    c.host->script(QStringLiteral("iserv:p"), [&](const HostRequest& r) {
        if (r.value(QStringLiteral("inset")) == QLatin1String("1"))
            return HostReply::jpeg(TestImages::jpeg(TestImages::solid(168, 140, qRgb(90, 0, 0))));
        HostReply frame = HostReply::jpeg(TestImages::jpeg(TestImages::solid(640, 480, qRgb(90, 90, 90))));
        if (r.value(QStringLiteral("ps")) == QLatin1String("3")) {
            ++newSizeFrames;
            takenMidReturn = takenMidReturn || s->stackReturning || s->zMoveConn.isBusy();
            frame.ready = [&](HostReply&) { return release; };
        }
        return frame;
    });
    QVERIFY(c.start());
    s = c.s;
    s->physical = CoordinateTriple(378350.0f, 251625.0f, 15000.0f);
    s->focusStackButton->click();
    QVERIFY(QTest::qWaitFor([&] { return s->insetStack->images.size() >= 3 && s->zMoveConn.isBusy(); }, 20000));

    QComboBox* sizes = s->videoWindow->videoResComboBox;
    sizes->setCurrentIndex(2);
    emit sizes->activated(2);
    QVERIFY(s->sysInfoBox->toPlainText().contains(QStringLiteral("Focus stack stopped: the video size was changed.")));
    QVERIFY(!s->stackBusy);
    QVERIFY(QTest::qWaitFor([&] { return newSizeFrames == 1; }, 10000));
    QVERIFY(!takenMidReturn);
    const auto moves = c.host->requests(QStringLiteral("iserv:m"));
    QCOMPARE(moves.last().value(QStringLiteral("z")), QStringLiteral("15000.000000"));
    QCOMPARE(s->zCoord->text(), QStringLiteral("1500"));
    QVERIFY(c.controlsEnabled(false));
    release = true;
    QVERIFY(QTest::qWaitFor([&] { return c.controlsEnabled(true); }, 10000));
    QTest::qWait(1200);
    QCOMPARE(c.host->count(QStringLiteral("iserv:m")), int(moves.size()));
    QCOMPARE(newSizeFrames, 1);
    const int levels = int(s->insetStack->images.size());
    QCOMPARE(s->stackZ.size(), levels);
    s->zSlider->setValue(0);
    s->zSlider->setValue(levels - 1);
    QCOMPARE(s->zCoord->text(), QString::asprintf("%.0f", s->stackZ.at(levels - 1) * 0.1));
}

void TestSessionStack::videoSizeDuringStalledReturn()
{
    // A return the host stalls on is given up by the next video size, whose frame brings the
    // controls back: choosing a size stays the way out of a command the host stalls on.
    ControlSession c;
    bool stall = false;
    c.host->script(QStringLiteral("iserv:m"), [&](const HostRequest& r) {
        HostReply moved = HostReply::text("+OK " + r.value(QStringLiteral("x")).toLatin1() + ' '
                                          + r.value(QStringLiteral("y")).toLatin1() + ' '
                                          + r.value(QStringLiteral("z")).toLatin1());
        moved.delayMs = 300;
        if (stall)
            moved.ready = [](HostReply&) { return false; };
        return moved;
    });
    QVERIFY(c.start());
    Session* s = c.s;
    s->physical = CoordinateTriple(378350.0f, 251625.0f, 15000.0f);
    s->focusStackButton->click();
    QVERIFY(QTest::qWaitFor([&] { return s->insetStack->images.size() >= 2 && s->zMoveConn.isBusy(); }, 20000));
    stall = true;

    // The levels taken so far lie below the centre: a move to 15000 is the return.
    QComboBox* sizes = s->videoWindow->videoResComboBox;
    sizes->setCurrentIndex(2);
    emit sizes->activated(2);
    QVERIFY(QTest::qWaitFor(
        [&] {
            const auto moves = c.host->requests(QStringLiteral("iserv:m"));
            return !moves.isEmpty() && moves.last().value(QStringLiteral("z")) == QLatin1String("15000.000000");
        },
        10000));
    QTest::qWait(300);
    QVERIFY(s->stackReturning && c.controlsEnabled(false));

    sizes->setCurrentIndex(1);
    emit sizes->activated(1);
    QVERIFY(!s->stackReturning);
    QVERIFY(s->sysInfoBox->toPlainText().contains(QStringLiteral("move back to where the stack began was given up")));
    QVERIFY(QTest::qWaitFor([&] { return c.controlsEnabled(true); }, 10000));
    QStringList frameSizes;
    for (const auto& r : c.host->requests(QStringLiteral("iserv:p")))
        if (r.value(QStringLiteral("inset")) != QLatin1String("1"))
            frameSizes << r.value(QStringLiteral("ps"));
    QCOMPARE(frameSizes.last(), QStringLiteral("2"));
    QVERIFY(!frameSizes.contains(QStringLiteral("3")));
}

QTEST_MAIN(TestSessionStack)
#include "tst_session_stack.moc"
