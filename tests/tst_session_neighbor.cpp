// The neighbour mosaic and the calibration correction against the simulated host.
#include "BoxCloser.h"
#include "ImageRoutes.h"
#include "SessionFixture.h"
#include "VideoWindow.h"

#include <QComboBox>

#include <QMouseEvent>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStatusBar>

class TestSessionNeighbor : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void mosaicAndCalibrationLoop();
    void scanEnds_data();
    void scanEnds();
    void frameNotDecoded_data();
    void frameNotDecoded();
    void correctionRefused_data();
    void correctionRefused();
    void correctionAfterStalledRequest_data();
    void correctionAfterStalledRequest();
    void correctionReplies_data();
    void correctionReplies();
    void correctionNearEdge();
    void videoSizeStopsScan_data();
    void videoSizeStopsScan();
};

namespace {

bool scanDone(Session* s)
{
    return s->neighborIndex < 0 && s->neighborButton->isEnabled() && !s->neighMoveConn.isBusy()
           && !s->neighborJPEG.request()->isBusy();
}

// The whole-slide pixel at which the camera shows stage point p of "heart21" on "dark".
QPointF truePixel(World& w, const CoordinateTriple& p)
{
    const QPointF stage(p.x, p.y);
    return w.slide(QStringLiteral("heart21"))->fiducials().stageToPixel(w.slidePoint("dark", "heart21", stage));
}

double pixelError(World& w, Session* s)
{
    const QPointF shown = s->highRes->physicalToImagePixel(s->physical);
    const QPointF d = shown - truePixel(w, s->physical);
    return std::max(std::abs(d.x()), std::abs(d.y()));
}

void drag(QWidget* w, QPoint from, QPoint to)
{
    QMouseEvent press(QEvent::MouseButtonPress, from, w->mapToGlobal(from), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QMouseEvent move(QEvent::MouseMove, to, w->mapToGlobal(to), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, to, w->mapToGlobal(to), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(w, &press);
    QApplication::sendEvent(w, &move);
    QApplication::sendEvent(w, &release);
}

} // namespace

void TestSessionNeighbor::initTestCase()
{
    qRegisterMetaType<CoordinateTriple>("CoordinateTriple&");
    qRegisterMetaType<QImage>("QImage&");
}

// "dark" holds "heart21" off its calibration: the mosaic shows where the stage really is, the
// user drags the view there, and the correction makes the view agree with the camera.
void TestSessionNeighbor::mosaicAndCalibrationLoop()
{
    SessionFixture f(QStringLiteral("dark"));
    QVERIFY(f.openAndSettle());
    Session* s = f.session;
    World& w = f.host->world();
    QVERIFY2(pixelError(w, s) > 8, "the slide should sit visibly off its calibration");

    f.host->clearLog();
    const float cx = s->physical.x, cy = s->physical.y;
    s->neighborButton->click();
    QVERIFY(!s->frameGrabButton->isEnabled());
    // A video frame arriving during the scan gives no control back.
    QVERIFY(QTest::qWaitFor([&] { return s->neighborIndex < 30; }, 30000));
    QSignalSpy videoFrames(&s->videoJPEG, &MyWebJPEG::newImageAvailable);
    s->videoJPEG.get();
    QVERIFY(videoFrames.wait(30000));
    QVERIFY(s->neighborBusy);
    QVERIFY(!s->frameGrabButton->isEnabled() && !s->neighborButton->isEnabled() && !s->correctButton->isEnabled());
    QCOMPARE(s->statusBar()->currentMessage(), QStringLiteral("Acquiring Neighbor Image..."));
    // A press while the scan runs, were the button enabled, changes nothing.
    s->neighborButton->setEnabled(true);
    s->neighborButton->click();
    QVERIFY(QTest::qWaitFor([&] { return scanDone(s); }, 120000));

    // 36 blocking moves in reading order over 5 x 7 fields of 5120 x 3840, then the centre.
    const auto moves = f.host->requests(QStringLiteral("iserv:m"));
    QCOMPARE(moves.size(), 36);
    for (int k = 0; k < 36; ++k) {
        const float x = k == 35 ? cx : cx + float(k % 5 - 2) * 5120.0f;
        const float y = k == 35 ? cy : cy + float(k / 5 - 3) * 3840.0f;
        QCOMPARE(moves[k].value("b"), QStringLiteral("y"));
        QCOMPARE(moves[k].value("x"), QString::asprintf("%f", double(x)));
        QCOMPARE(moves[k].value("y"), QString::asprintf("%f", double(y)));
    }
    QVERIFY(w.checkRequest(QStringLiteral("session"), "guest", "dark", moves[20].value("auth")));
    QCOMPARE(f.host->count(QStringLiteral("iserv:p")), 36 + 1);       // and the video frame
    for (int k = 1; k <= 35; ++k)
        QVERIFY2(!s->neighborVideo->tile(k)->display.isNull(), qPrintable(QString::number(k)));
    QVERIFY(s->neighborVideo->isVisible());
    QVERIFY(s->highRes->showSelection);
    QCOMPARE(s->highRes->selA, s->highRes->physicalToImagePixel(CoordinateTriple(cx - 10240, cy - 11520, 0)));
    QCOMPARE(s->highRes->selB, s->highRes->physicalToImagePixel(CoordinateTriple(cx + 10240, cy + 11520, 0)));
    QVERIFY(s->correctButton->isEnabled() && s->refPreviewButton->isEnabled());
    QCOMPARE(s->statusBar()->currentMessage(), QString());

    // The view moves by twice the mouse distance: drag it by about half the slide's offset.
    const QPoint offset = w.placements.value(QStringLiteral("heart21.dark"));
    QVERIFY(!offset.isNull());
    const QPoint from(150, 150);
    drag(s->highRes, from, from + QPoint(offset.x() / 2, (offset.y() + 1) / 2));
    BoxCloser boxes;
    s->correctButton->click();
    QVERIFY(boxes.waitFor(1));
    QCOMPARE(boxes.seen[0].title, QStringLiteral("Correction Successful."));
    QCOMPARE(f.host->count(QStringLiteral("icount:ca")), 1);

    s->refPreviewButton->click();
    QVERIFY(QTest::qWaitFor([&] { return !s->moveConn.isBusy() && f.idle(); }, 10000));
    QVERIFY(f.waitIdle());
    QVERIFY2(pixelError(w, s) <= 2, qPrintable(QString::number(pixelError(w, s))));
}

void TestSessionNeighbor::scanEnds_data()
{
    QTest::addColumn<QString>("route");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("line");
    QTest::newRow("frame fails") << "iserv:p" << 500 << QByteArray("<html>error</html>") << "video frame";
    QTest::newRow("move refused") << "iserv:m" << 200 << QByteArray("-N") << "did not make a move";
    QTest::newRow("move fails") << "iserv:m" << 503 << QByteArray() << "did not make a move";
}

void TestSessionNeighbor::scanEnds()
{
    QFETCH(QString, route);
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QString, line);
    SessionFixture f(QStringLiteral("tall"));
    QVERIFY(f.openAndSettle());
    Session* s = f.session;
    f.host->scriptReply(route, status, body);
    f.host->clearLog();
    s->highRes->setSelection(0, 0, 1000, 1000);       // an earlier mosaic's
    s->neighborButton->click();
    QVERIFY(QTest::qWaitFor([&] { return scanDone(s); }, 10000));
    QTest::qWait(50);
    QCOMPARE(f.host->count(QStringLiteral("iserv:m")), 1);
    QVERIFY(s->sysInfoBox->toPlainText().contains(line));
    QVERIFY(s->frameGrabButton->isEnabled());
    QCOMPARE(s->statusBar()->currentMessage(), QString());
    QVERIFY(!s->highRes->showSelection);
    BoxCloser boxes;
    s->correctButton->click();
    QVERIFY(boxes.waitFor(1));
    QCOMPARE(boxes.seen[0].text, QStringLiteral("The last neighbor scan did not finish.\n"
                                                "Click the \"Display Neighbor\" button again."));
}

void TestSessionNeighbor::frameNotDecoded_data()
{
    QTest::addColumn<int>("step");              // whose frame does not decode
    QTest::addColumn<bool>("complete");
    QTest::newRow("tile 20") << 20 << false;
    QTest::newRow("tile 1, the last") << 1 << false;
    QTest::newRow("the return to the centre") << 0 << true;
}

// A tile whose reply does not decode stays empty and the scan goes on, but no correction is
// measured against that mosaic. The frame of the return to the centre is no tile.
void TestSessionNeighbor::frameNotDecoded()
{
    QFETCH(int, step);
    QFETCH(bool, complete);
    SessionFixture f(QStringLiteral("dark"));
    QVERIFY(f.openAndSettle());
    Session* s = f.session;
    World& w = f.host->world();
    int tileFrames = 0;
    f.host->script(QStringLiteral("iserv:p"), [&](const HostRequest& r) {
        if (f.host->frameFollowsBlockingMove() && 35 - tileFrames++ == step)
            return HostReply::jpeg(QByteArrayLiteral("not a picture"));
        return HostReply::jpeg(ImageRoutes::jpeg(
            ImageRoutes::videoFrame(w, r.value(QStringLiteral("s")), r.value(QStringLiteral("ps")).toInt())));
    });
    f.host->clearLog();
    s->neighborButton->click();
    QVERIFY(QTest::qWaitFor([&] { return scanDone(s); }, 120000));
    QCOMPARE(tileFrames, 36);
    QCOMPARE(f.host->count(QStringLiteral("iserv:m")), 36);
    for (int k = 1; k <= 35; ++k)
        QCOMPARE(s->neighborVideo->tile(k)->display.isNull(), k == step);
    QVERIFY(s->highRes->showSelection);
    QVERIFY(s->correctButton->isEnabled());
    QCOMPARE(s->statusBar()->currentMessage(), QString());
    QCOMPARE(s->neighborsDone, complete);

    BoxCloser boxes;
    s->correctButton->click();
    QVERIFY(boxes.waitFor(1));
    QTest::qWait(50);
    QCOMPARE(f.host->count(QStringLiteral("icount:ca")), complete ? 1 : 0);
    QCOMPARE(boxes.seen[0].title, complete ? QStringLiteral("Correction Successful.") : QStringLiteral("Correction failed."));
    if (!complete) {
        QCOMPARE(boxes.seen[0].text, QStringLiteral("A tile of the last neighbor scan could not be read.\n"
                                                    "Click the \"Display Neighbor\" button again."));
        // A scan cut short after it says so instead.
        f.host->scriptReply(QStringLiteral("iserv:m"), 200, QByteArray("-N"));
        s->neighborButton->click();
        QVERIFY(QTest::qWaitFor([&] { return scanDone(s); }, 10000));
        s->correctButton->click();
        QVERIFY(boxes.waitFor(2));
        QVERIFY2(boxes.seen[1].text.startsWith(QStringLiteral("The last neighbor scan did not finish.")),
                 qPrintable(boxes.seen[1].text));
    }
}

void TestSessionNeighbor::correctionRefused_data()
{
    QTest::addColumn<bool>("mosaic");
    QTest::addColumn<QString>("x");
    QTest::addColumn<QString>("slide");
    QTest::addColumn<QString>("text");
    QTest::newRow("no mosaic yet") << false << "" << ""
                                   << "You haven't clicked the \"Display Neighbor\" button yet.";
    QTest::newRow("field not a number") << true << "3O.5" << "" << "The X and Y fields must hold numbers.";
    QTest::newRow("previews on a library slide") << true << "" << "L0001"
                                                 << "The previews do not show the slide under the microscope.";
    QTest::newRow("calibration on its way") << true << "" << "reload" << "The slide's calibration is still being read.";
}

void TestSessionNeighbor::correctionRefused()
{
    QFETCH(bool, mosaic);
    QFETCH(QString, x);
    QFETCH(QString, slide);
    QFETCH(QString, text);
    SessionFixture f(QStringLiteral("dark"));
    QVERIFY(f.openAndSettle());
    Session* s = f.session;
    s->neighborsDone = mosaic;
    s->neighborCentre = s->physical;
    if (!x.isEmpty())
        s->xCoord->setText(x);
    if (slide == QLatin1String("reload")) {
        f.host->setDelay(QStringLiteral("/fiducials/"), 60000);
        s->refPreviewButton->click();
        QVERIFY(QTest::qWaitFor([&] { return s->correctButton->isEnabled(); }, 10000));
    } else if (!slide.isEmpty()) {
        s->curSlide = slide;
    }
    BoxCloser boxes;
    s->correctButton->click();
    QVERIFY(boxes.waitFor(1));
    QCOMPARE(boxes.seen[0].icon, QMessageBox::Warning);
    QCOMPARE(boxes.seen[0].title, QStringLiteral("Correction failed."));
    QVERIFY2(boxes.seen[0].text.startsWith(text), qPrintable(boxes.seen[0].text));
    QVERIFY(!s->calibConn.isBusy());
    QTest::qWait(50);
    QCOMPARE(f.host->count(QStringLiteral("icount:ca")), 0);
}

void TestSessionNeighbor::correctionAfterStalledRequest_data()
{
    QTest::addColumn<QString>("route");
    QTest::newRow("calibration") << QStringLiteral("/fiducials/");
    QTest::newRow("picture") << QStringLiteral("/whole_slides/");
}

// A calibration or picture request that the host never answers holds the slide view back only
// until "Refresh Preview" asks again: that one comes, the picture is shown and the correction
// goes ahead.
void TestSessionNeighbor::correctionAfterStalledRequest()
{
    QFETCH(QString, route);
    SessionFixture f(QStringLiteral("dark"));
    QVERIFY(f.openAndSettle());
    Session* s = f.session;
    HighResPreview* v = s->highRes;
    const bool calibration = route == QLatin1String("/fiducials/");
    MyHTTP* held = calibration ? &v->newFiducials : v->jpeg.request();
    MyHTTP* other = calibration ? v->jpeg.request() : &v->newFiducials;
    s->neighborsDone = true;
    s->neighborCentre = s->physical;
    f.host->setDelay(route, 600000);
    f.host->clearLog();
    s->refPreviewButton->click();
    QVERIFY(QTest::qWaitFor(
        [&] { return s->correctButton->isEnabled() && !other->isBusy() && f.host->requests(route).size() == 1; },
        10000));
    QVERIFY(held->isBusy() && v->pixmap.isNull());
    QCOMPARE(v->calibrationRead(), !calibration);
    const QList<SimHost::LogEntry> stalled = f.host->requests(route);

    f.host->setDelay(route, 0);
    f.host->clearLog();
    s->refPreviewButton->click();
    QVERIFY(f.waitIdle());
    const QList<SimHost::LogEntry> asked = f.host->requests(route);
    QVERIFY(!asked.isEmpty());
    QCOMPARE(asked[0].path, stalled[0].path);
    QVERIFY(v->calibrationRead() && !v->pixmap.isNull());

    BoxCloser boxes;
    s->correctButton->click();
    QVERIFY(boxes.waitFor(1));
    QCOMPARE(boxes.seen[0].icon, QMessageBox::Information);
    QCOMPARE(f.host->count(QStringLiteral("icount:ca")), 1);
}

void TestSessionNeighbor::correctionReplies_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("icon");      // 0: no box
    QTest::addColumn<QString>("text");
    QTest::newRow("+") << 200 << QByteArray("+OK") << int(QMessageBox::Information)
                       << "The Kelvry system has successfully reset the calibration for the slide S%1.\n"
                          "The translation terms are as follows:\n\n       dx: ";
    QTest::newRow("-F") << 200 << QByteArray("-F") << int(QMessageBox::Warning)
                        << "The Kelvry system cannot reset calibration temporarily, please try again later or "
                           "contact system administrator.";
    QTest::newRow("-N") << 200 << QByteArray("-N\n") << int(QMessageBox::Warning) << "Cannot open fiducial file.";
    QTest::newRow("-Q") << 200 << QByteArray("-Q") << 0 << "";
    QTest::newRow("error page") << 500 << QByteArray("<html><body>-F</body></html>") << int(QMessageBox::Warning)
                                << "The Kelvry system could not be reached";
}

// Unchanged fields send no offset; a slide whose name holds a placeholder keeps it.
void TestSessionNeighbor::correctionReplies()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(int, icon);
    QFETCH(QString, text);
    SessionFixture f(QStringLiteral("dark"));
    f.info.scope.slides = QStringList{QStringLiteral("S%1"), QStringLiteral("heart21")};
    f.info.scope.wireSlides = {QByteArrayLiteral("S%1"), QByteArrayLiteral("heart21")};
    f.host->scriptReply(QStringLiteral("icount:ca"), status, body);
    QVERIFY(f.openAndSettle());
    Session* s = f.session;
    s->neighborsDone = true;
    s->neighborCentre = s->physical;
    BoxCloser boxes;
    s->correctButton->click();
    QCOMPARE(s->statusBar()->currentMessage(),
             QStringLiteral("The Kelvry system is correcting calibration, please be patient..."));
    QVERIFY(QTest::qWaitFor([&] { return !s->calibConn.isBusy() && boxes.seen.size() >= (icon ? 1 : 0); }, 5000));
    QTest::qWait(50);
    QCOMPARE(f.queries(QStringLiteral("icount:ca")),
             QList<QByteArray>{"f=ca&xc=0.0000&yc=0.0000&l=guest&sli=S%251&sc=dark"});
    QCOMPARE(s->statusBar()->currentMessage(), QStringLiteral("Ready."));
    QCOMPARE(boxes.seen.size(), icon ? 1 : 0);
    if (!icon)
        return;
    QCOMPARE(int(boxes.seen[0].icon), icon);
    QVERIFY2(boxes.seen[0].text.startsWith(text), qPrintable(boxes.seen[0].text));
    // The fields' four decimals may leave a fraction of a unit: "-0.0000 mm" is fine.
    static const QRegularExpression terms(QStringLiteral("dx: -?0\\.0000 mm \\(0 Pixel\\)\n       dy: -?0\\.0000 mm \\(0 Pixel\\)$"));
    if (body == "+OK")
        QVERIFY2(boxes.seen[0].text.contains(terms), qPrintable(boxes.seen[0].text));
}

// Near the slide's edge the view's centre is held on the image: the offset is measured on the
// image itself. The mosaic at pixel (80, 548), the view dragged from it to (173, 548): the drag
// starts from the held centre, x 191. 93, where holding either end would give -18 or 111.
void TestSessionNeighbor::correctionNearEdge()
{
    SessionFixture f(QStringLiteral("dark"));
    QVERIFY(f.openAndSettle());
    Session* s = f.session;
    HighResPreview* v = s->highRes;
    const CoordinateTriple centre = v->pixelToPhysical(QPoint(80, 548));
    QCOMPARE(v->physicalToImagePixel(centre), QPoint(80, 548));
    s->neighborsDone = true;
    s->neighborCentre = centre;
    CoordinateTriple at = centre;
    v->setLocation(at);
    drag(v, QPoint(150, 150), QPoint(141, 150));
    BoxCloser boxes;
    s->correctButton->click();
    QVERIFY(boxes.waitFor(1));
    QCOMPARE(f.queries(QStringLiteral("icount:ca")),
             QList<QByteArray>{"f=ca&xc=93.0000&yc=0.0000&l=guest&sli=heart21&sc=dark"});
}

void TestSessionNeighbor::videoSizeStopsScan_data()
{
    QTest::addColumn<int>("moveDelay");
    QTest::addColumn<int>("tilesBefore");      // tiles in before the size is chosen
    QTest::newRow("slow moves") << 300 << 4;
    QTest::newRow("a move the host stalls on") << 600000 << 0;
}

// A new video size stops the scan, and the frame it asks for gives the controls back: no
// correction against a part of a mosaic, and no stage command crossing the scan's moves.
void TestSessionNeighbor::videoSizeStopsScan()
{
    QFETCH(int, moveDelay);
    QFETCH(int, tilesBefore);
    SessionFixture f(QStringLiteral("dark"));
    QVERIFY(f.openAndSettle());
    Session* s = f.session;
    World& w = f.host->world();
    bool released = false;          // the frame of the new size is held until then
    f.host->script(QStringLiteral("iserv:p"), [&](const HostRequest& r) {
        const int code = r.value(QStringLiteral("ps")).toInt();
        HostReply reply = HostReply::jpeg(ImageRoutes::jpeg(ImageRoutes::videoFrame(w, r.value(QStringLiteral("s")), code)));
        if (code != 1)
            reply.ready = [&released](HostReply&) { return released; };
        return reply;
    });
    f.host->clearLog();
    f.host->setDelay(QStringLiteral("iserv:m"), moveDelay);
    s->neighborButton->click();
    QVERIFY(QTest::qWaitFor([&] {
        return f.host->count(QStringLiteral("iserv:p")) >= tilesBefore && s->neighMoveConn.isBusy();
    }, 20000));

    BoxCloser boxes;
    s->handleCorrectButton();           // as a click would, were the button enabled
    QVERIFY(boxes.waitFor(1));
    QVERIFY2(boxes.seen[0].text.startsWith(QStringLiteral("The neighbor scan is still running.")),
             qPrintable(boxes.seen[0].text));

    QComboBox* sizes = s->videoWindow->videoResComboBox;
    sizes->setCurrentIndex(1);
    emit sizes->activated(1);
    QVERIFY(s->sysInfoBox->toPlainText().contains(QStringLiteral("Neighbor scan stopped: the video size was changed.")));
    QVERIFY(!s->neighborBusy);
    QVERIFY(QTest::qWaitFor([&] {
        const QList<QByteArray> frames = f.queries(QStringLiteral("iserv:p"));
        return !frames.isEmpty() && frames.last().contains("ps=2");
    }, 10000));
    QTest::qWait(50);
    QVERIFY(!s->frameGrabButton->isEnabled() && !s->correctButton->isEnabled());
    released = true;
    QVERIFY(QTest::qWaitFor([&] { return s->frameGrabButton->isEnabled(); }, 10000));
    const int moves = f.host->count(QStringLiteral("iserv:m"));
    QTest::qWait(4 * qMin(moveDelay, 300));
    QCOMPARE(f.host->count(QStringLiteral("iserv:m")), moves);
    QVERIFY(s->correctButton->isEnabled());
    s->correctButton->click();
    QVERIFY(boxes.waitFor(2));
    QVERIFY2(boxes.seen[1].text.startsWith(QStringLiteral("The last neighbor scan did not finish.")),
             qPrintable(boxes.seen[1].text));
    QCOMPARE(f.host->count(QStringLiteral("icount:ca")), 0);

    // The stalled move was given up: the next scan takes all its tiles.
    f.host->setDelay(QStringLiteral("iserv:m"), 0);
    f.host->clearLog();
    s->neighborButton->click();
    QVERIFY(QTest::qWaitFor([&] { return scanDone(s); }, 30000));
    QCOMPARE(f.host->count(QStringLiteral("iserv:m")), 36);
    QVERIFY(s->neighborsDone);
}

QTEST_MAIN(TestSessionNeighbor)
#include "tst_session_neighbor.moc"
