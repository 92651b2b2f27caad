// The stage loop against the simulated host's stage: typed moves, the poll cycle and the frame
// that ends it, refusals, failed frames, autofocus, destinations and the position reader.
#include "SessionFixture.h"
#include "StageReplies.h"
#include "TestImages.h"

#include <QComboBox>
#include <QStatusBar>
#include <QTextEdit>
#include <memory>

namespace {

const QString invalidLine = QStringLiteral(
    "***Error fetching coordinates from microscope.  The server returned an invalid sequence.");
const QString failedLine = QStringLiteral(
    "***Error fetching coordinates from microscope.  The server may be malfunctioning.");

// Sum of squared steps between neighbouring pixels' grey levels: larger when sharper.
double sharpness(const QImage& frame)
{
    const QImage g = frame.convertToFormat(QImage::Format_Grayscale8);
    double sum = 0;
    for (int y = 0; y < g.height(); ++y) {
        const uchar* row = g.constScanLine(y);
        for (int x = 1; x < g.width(); ++x)
            sum += double(row[x] - row[x - 1]) * (row[x] - row[x - 1]);
    }
    return sum;
}

// The host's replies to the stage commands of one scripted cycle, each in turn; the last one
// repeats.
void scriptSequence(SimHost& host, const QString& route, QList<QByteArray> replies)
{
    auto left = std::make_shared<QList<QByteArray>>(std::move(replies));
    host.script(route, [left](const HostRequest&) {
        return HostReply::text(left->size() > 1 ? left->takeFirst() : left->first());
    });
}

} // namespace

class TestSessionStage : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void positionReader_data();
    void positionReader();
    void typedMove_data();
    void typedMove();
    void pollCycleEndsWithFrame();
    void refusedCommand_data();
    void refusedCommand();
    void failedFrame_data();
    void failedFrame();
    void autofocus_data();
    void autofocus();
    void destinationsAndPreviews();
};

void TestSessionStage::initTestCase()
{
    qRegisterMetaType<CoordinateTriple>("CoordinateTriple&");
    qRegisterMetaType<QImage>("QImage&");
}

void TestSessionStage::positionReader_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("length");        // -1: all of them
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("read");      // the coordinates read, "-" for one not read

    QTest::newRow("at rest") << QByteArray("+OK 125000 72500 1500") << -1 << int(PositionReply::AtRest)
                             << "125000 72500 1500";
    QTest::newRow("moving, x only") << QByteArray("*MV 5 ab 7") << -1 << int(PositionReply::Moving) << "5 - -";
    QTest::newRow("not finite") << QByteArray("+OK nan 2 1e300") << -1 << int(PositionReply::AtRest) << "- 2 -";
    QTest::newRow("status only") << QByteArray("+") << -1 << int(PositionReply::AtRest) << "- - -";
    // Bytes past the reply's length belong to an earlier reply.
    QTest::newRow("short reply") << QByteArray("+OK 1 2 3") << 3 << int(PositionReply::AtRest) << "- - -";
    QTest::newRow("cut inside") << QByteArray("+OK 12 34 56") << 7 << int(PositionReply::AtRest) << "12 - -";
    QTest::newRow("refusal") << QByteArray("-E 1 2 3") << -1 << int(PositionReply::Invalid) << "- - -";
    QTest::newRow("empty") << QByteArray() << -1 << int(PositionReply::Invalid) << "- - -";
}

void TestSessionStage::positionReader()
{
    QFETCH(QByteArray, bytes);
    QFETCH(int, length);
    QFETCH(int, kind);
    QFETCH(QString, read);
    const PositionReply r = parsePosition(bytes.constData(), length < 0 ? int(bytes.size()) : length);
    QCOMPARE(int(r.kind), kind);
    QStringList got;
    for (const auto& v : {r.x, r.y, r.z})
        got << (v ? QString::number(double(*v), 'g', 10) : QStringLiteral("-"));
    QCOMPARE(got.join(QLatin1Char(' ')), read);
}

void TestSessionStage::typedMove_data()
{
    QTest::addColumn<QString>("x");
    QTest::addColumn<QString>("y");
    QTest::addColumn<QString>("z");
    QTest::addColumn<QByteArray>("sent");   // empty: nothing is sent

    QTest::newRow("mm and um") << "12.5" << "7.25" << "150" << QByteArray("f=m&x=125000&y=72500&z=1500");
    QTest::newRow("empty z") << "12.5" << "7.25" << "" << QByteArray();
    QTest::newRow("letters") << "abc" << "7.25" << "150" << QByteArray();
    QTest::newRow("comma") << "12,5" << "7.25" << "150" << QByteArray();
    QTest::newRow("nan") << "12.5" << "nan" << "150" << QByteArray();
    QTest::newRow("inf") << "12.5" << "7.25" << "inf" << QByteArray();
}

void TestSessionStage::typedMove()
{
    QFETCH(QString, x);
    QFETCH(QString, y);
    QFETCH(QString, z);
    QFETCH(QByteArray, sent);

    SessionFixture f;
    QVERIFY(f.openAndSettle());
    Session* s = f.session;
    f.host->clearLog();
    s->xCoord->setText(x);
    s->yCoord->setText(y);
    s->zCoord->setText(z);
    s->frameGrabButton->click();
    QVERIFY(f.waitIdle());

    const auto moves = f.host->requests(QStringLiteral("iserv:m"));
    if (sent.isEmpty()) {
        QVERIFY(moves.isEmpty());
        QCOMPARE(s->statusBar()->currentMessage(), QStringLiteral("Invalid coordinates."));
        QVERIFY(s->frameGrabButton->isEnabled() && s->AFButton->isEnabled());
        QCOMPARE(s->xCoord->text(), x);
        return;
    }
    QCOMPARE(moves.size(), 1);
    QVERIFY2(moves[0].rawQuery.startsWith("l=guest&s=tall&" + sent + "&auth="), moves[0].rawQuery.constData());
    // The host took it and the stage arrived: fields at the target, a frame, the controls back.
    QVERIFY(!s->sysInfoBox->toPlainText().contains(QStringLiteral("***Error")));
    QCOMPARE(s->xCoord->text(), QStringLiteral("12.5000"));
    QCOMPARE(s->yCoord->text(), QStringLiteral("7.2500"));
    QCOMPARE(s->zCoord->text(), QStringLiteral("150"));
    QCOMPARE(s->statusBar()->currentMessage(), QStringLiteral("Ready."));
    QVERIFY(f.host->count(QStringLiteral("iserv:p")) >= 1);
    QVERIFY(s->frameGrabButton->isEnabled());
}

void TestSessionStage::pollCycleEndsWithFrame()
{
    SessionFixture f;
    QVERIFY(f.openAndSettle());
    Session* s = f.session;
    f.host->clearLog();
    f.host->scriptReply(QStringLiteral("iserv:m"), 200, "*MV 120000 71000 1500");
    scriptSequence(*f.host, QStringLiteral("iserv:w"), {"*MV 124000 72000 1500", "+OK 125000 72500 1500"});
    const QByteArray frame = TestImages::jpeg(TestImages::solid(640, 480, qRgb(90, 120, 150)));
    f.host->script(QStringLiteral("iserv:p"), [frame](const HostRequest&) {
        HostReply r = HostReply::jpeg(frame);
        r.delayMs = 150;
        return r;
    });

    // What the window shows as each reply has been handled.
    QList<bool> enabledAtReply;
    QStringList statusAtReply;
    QObject::connect(&s->moveConn, qOverload<>(&MyHTTP::done), s, [&] {
        enabledAtReply << s->frameGrabButton->isEnabled();
        statusAtReply << s->statusBar()->currentMessage();
    });

    s->xCoord->setText(QStringLiteral("12.5"));
    s->yCoord->setText(QStringLiteral("7.25"));
    s->zCoord->setText(QStringLiteral("150"));
    s->frameGrabButton->click();
    QVERIFY(!s->frameGrabButton->isEnabled());
    QCOMPARE(s->statusBar()->currentMessage(), QStringLiteral("Moving scope..."));
    QVERIFY(f.waitIdle());
    QTest::qWait(100);      // no poll after the "+"

    QCOMPARE(f.host->count(QStringLiteral("iserv:m")), 1);
    QCOMPARE(f.host->count(QStringLiteral("iserv:w")), 2);
    QCOMPARE(f.host->count(QStringLiteral("iserv:p")), 1);
    QCOMPARE(enabledAtReply, QList<bool>({false, false, false}));
    QCOMPARE(statusAtReply.last(), QStringLiteral("Ready."));
    QVERIFY(qAbs(qRed(s->videoWindow->imageView->sourceImage.pixel(320, 240)) - 90) < 8);
    for (QWidget* w : {static_cast<QWidget*>(s->showCurrentPosition), static_cast<QWidget*>(s->zSlider),
                       static_cast<QWidget*>(s->cancelButton), static_cast<QWidget*>(s->refPreviewButton)})
        QVERIFY(w->isEnabled());
    QCOMPARE(s->xCoord->text(), QStringLiteral("12.5000"));
    QCOMPARE(s->yCoord->text(), QStringLiteral("7.2500"));
    QCOMPARE(s->zCoord->text(), QStringLiteral("150"));
    QCOMPARE(s->videoWindow->physical.x, 125000.0f);
    QCOMPARE(s->lowRes->physical.y, 72500.0f);
    QCOMPARE(s->highRes->location.x, 125000.0f);    // "+" re-centres the slide view
}

void TestSessionStage::refusedCommand_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("line");
    QTest::newRow("refusal") << 200 << QByteArray("-E") << invalidLine;
    QTest::newRow("empty") << 200 << QByteArray() << invalidLine;
    QTest::newRow("no status") << 200 << QByteArray("MV 1 2 3") << invalidLine;
    QTest::newRow("failed transfer") << 500 << QByteArray("+OK 1 2 3") << failedLine;
}

void TestSessionStage::refusedCommand()
{
    QFETCH(int, status);
    QFETCH(QByteArray, reply);
    QFETCH(QString, line);

    SessionFixture f;
    QVERIFY(f.openAndSettle());
    Session* s = f.session;
    const QString before = s->xCoord->text();
    f.host->clearLog();
    f.host->scriptReply(QStringLiteral("iserv:a"), status, reply);
    s->AFButton->click();
    QCOMPARE(s->statusBar()->currentMessage(), QStringLiteral("Performing Autofocus..."));
    QVERIFY(f.waitIdle());
    QTest::qWait(50);

    QVERIFY(s->sysInfoBox->toPlainText().contains(line));
    QCOMPARE(f.host->count(QStringLiteral("iserv:w")), 0);
    QCOMPARE(f.host->count(QStringLiteral("iserv:p")), 0);
    QCOMPARE(s->xCoord->text(), before);
    QCOMPARE(s->statusBar()->currentMessage(), QStringLiteral("Performing Autofocus..."));
    QVERIFY(!s->AFButton->isEnabled() && !s->refPreviewButton->isEnabled());

    // A frame asked for by a size change brings the controls back.
    emit s->videoWindow->videoResComboBox->activated(1);
    QVERIFY(f.waitIdle());
    QCOMPARE(f.queries(QStringLiteral("iserv:p")), QList<QByteArray>{"l=guest&s=tall&f=p&ps=2"});
    QVERIFY(s->AFButton->isEnabled() && s->refPreviewButton->isEnabled());
}

void TestSessionStage::failedFrame_data()
{
    QTest::addColumn<bool>("expired");
    QTest::newRow("in control time") << false;
    QTest::newRow("expired") << true;
}

void TestSessionStage::failedFrame()
{
    QFETCH(bool, expired);
    SessionFixture f;
    QVERIFY(f.openAndSettle());
    Session* s = f.session;
    f.host->scriptReply(QStringLiteral("iserv:p"), 404, QByteArray());
    s->expired = expired;
    s->doCoarseAuto();
    QVERIFY(!s->AFButton->isEnabled());
    QVERIFY(f.waitIdle());
    QCOMPARE(s->statusBar()->currentMessage(), QStringLiteral("Ready."));
    QVERIFY(s->sysInfoBox->toPlainText().contains(QStringLiteral("***Error fetching a video frame from microscope.")));
    QCOMPARE(s->AFButton->isEnabled(), !expired);
    QCOMPARE(s->frameGrabButton->isEnabled(), !expired);
}

void TestSessionStage::autofocus_data()
{
    QTest::addColumn<bool>("accurate");
    QTest::addColumn<double>("within");     // µm from the host's focus height
    QTest::newRow("quick") << false << 2.0;
    QTest::newRow("accurate") << true << 0.5;
}

void TestSessionStage::autofocus()
{
    QFETCH(bool, accurate);
    QFETCH(double, within);

    SessionFixture f;
    World& w = f.host->world();
    const SimStage::Position at = w.stagePosition(QStringLiteral("tall"));
    const double focus = w.focusUnderStage(QStringLiteral("tall"), at.x, at.y);
    w.placeStage(QStringLiteral("tall"), {at.x, at.y, focus + 400});     // 40 µm above focus
    QVERIFY(f.openAndSettle());
    Session* s = f.session;
    QCOMPARE(s->zCoord->text(), QString::asprintf("%.0f", (focus + 400) * 0.1));
    const double blurred = sharpness(s->videoWindow->imageView->sourceImage);
    QVERIFY(blurred > 0);

    f.host->clearLog();
    (accurate ? s->slowFocusButton : s->AFButton)->click();
    QCOMPARE(s->statusBar()->currentMessage(),
             accurate ? QStringLiteral("This more accurate autofocus may take a while; please be patient.")
                      : QStringLiteral("Performing Autofocus..."));
    QVERIFY(f.waitIdle(15000));

    QCOMPARE(f.host->count(accurate ? QStringLiteral("iserv:r") : QStringLiteral("iserv:a")), 1);
    QVERIFY(f.host->count(QStringLiteral("iserv:w")) >= 1);
    QVERIFY(!s->sysInfoBox->toPlainText().contains(QStringLiteral("***Error")));
    const double shownZ = s->zCoord->text().toDouble();
    QVERIFY2(std::abs(shownZ - focus * 0.1) <= within + 0.5, qPrintable(s->zCoord->text()));
    QVERIFY(sharpness(s->videoWindow->imageView->sourceImage) > 1.5 * blurred);
    QVERIFY(s->AFButton->isEnabled());
}

void TestSessionStage::destinationsAndPreviews()
{
    SessionFixture f;
    QVERIFY(f.openAndSettle());
    Session* s = f.session;
    const QString z = s->zCoord->text();
    f.host->clearLog();

    // A click on the overview: x and y only, and the slide view follows.
    QTest::mouseClick(s->lowRes, Qt::LeftButton, {}, QPoint(s->lowRes->width() / 4, s->lowRes->height() / 2));
    const CoordinateTriple clicked = s->lowRes->destination;
    QCOMPARE(s->xCoord->text(), QString::asprintf("%.4f", double(clicked.x) * 0.0001));
    QCOMPARE(s->yCoord->text(), QString::asprintf("%.4f", double(clicked.y) * 0.0001));
    QCOMPARE(s->zCoord->text(), z);
    QCOMPARE(s->highRes->location.x, clicked.x);

    // A destination with a height: four decimals in z.
    CoordinateTriple high(100000, 200000, 1500);
    emit s->highRes->locationChanged(high);
    QCOMPARE(s->zCoord->text(), QStringLiteral("150.0000"));
    QCOMPARE(s->lowRes->destination.x, 100000.0f);

    // "Show Current Position": markers on the stage position, nothing sent.
    s->showCurrentPosition->click();
    QCOMPARE(s->lowRes->destination.x, s->physical.x);
    QCOMPARE(s->highRes->location.y, s->physical.y);
    QCOMPARE(s->xCoord->text(), QString::asprintf("%.4f", double(s->physical.x) * 0.0001));
    QVERIFY(f.host->log().isEmpty());

    // "Refresh Preview": both previews reload, then a move to the fields as they stand.
    s->highRes->showSelection = true;
    s->refPreviewButton->click();
    QVERIFY(!s->highRes->showSelection);
    QVERIFY(f.waitIdle());
    QCOMPARE(f.host->count(QStringLiteral("/small_slides/")), 1);
    QCOMPARE(f.host->count(QStringLiteral("/whole_slides/")), 1);
    const auto moves = f.host->requests(QStringLiteral("iserv:m"));
    QCOMPARE(moves.size(), 1);
    QCOMPARE(moves[0].value(QStringLiteral("x")), QString::asprintf("%.0f", double(s->physical.x)));
    QCOMPARE(s->statusBar()->currentMessage(), QStringLiteral("Ready."));
}

QTEST_MAIN(TestSessionStage)
#include "tst_session_stage.moc"
