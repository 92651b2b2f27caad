// Session start: the window, its keys and windows, the start requests and the system information.
#include "ImageRoutes.h"
#include "SessionFixture.h"

#include <QComboBox>
#include <QStatusBar>
#include <QTextEdit>

namespace {

const QString banner = QStringLiteral("-----------------------------------------------------------\n"
                                      "Beginning control session.\n"
                                      "-----------------------------------------------------------\n");

// What the System Info view shows after the session's banner (empty without the banner).
QString afterBanner(const Session& s)
{
    const QString all = s.sysInfoBox->toPlainText();
    const int at = int(all.indexOf(banner));
    return at < 0 ? QString() : all.mid(at + banner.size());
}

} // namespace

class TestSessionStart : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void startRequests();
    void sysInfoReplies_data();
    void sysInfoReplies();
    void strainField_data();
    void strainField();
    void sizeChangeKeepsUrl();
    void scopeWithoutSlides();
};

void TestSessionStart::initTestCase()
{
    qRegisterMetaType<CoordinateTriple>("CoordinateTriple&");
    qRegisterMetaType<QImage>("QImage&");
}

void TestSessionStart::startRequests()
{
    SessionFixture f;
    QVERIFY(f.openAndSettle());
    Session* s = f.session;
    QCOMPARE(s->windowTitle(), QStringLiteral("Brolt 2.4: Controlling tall at <%1>").arg(f.host.field()));
    QVERIFY(s->videoWindow && s->videoWindow->isVisible());
    QVERIFY(s->neighborVideo && !s->neighborVideo->isVisible());
    QVERIFY(s->strainEdit->isHidden() && s->strainLabel->isHidden());

    // System information, first frame and control time carry no auth; the slide's files follow.
    QCOMPARE(f.queries(QStringLiteral("iserv:d")), QList<QByteArray>{"l=guest&s=tall&f=d"});
    QCOMPARE(f.queries(QStringLiteral("iserv:t")), QList<QByteArray>{"l=guest&s=tall&f=t"});
    QCOMPARE(f.queries(QStringLiteral("iserv:p")).value(0), QByteArray("l=guest&s=tall&f=p&ps=1"));
    QCOMPARE(f.host->requests(QStringLiteral("/small_slides/")).value(0).path, QStringLiteral("/small_slides/liver01"));
    QCOMPARE(f.host->requests(QStringLiteral("/whole_slides/")).value(0).path, QStringLiteral("/whole_slides/liver01"));
    QCOMPARE(s->highRes->fiducialTag, QStringLiteral("tall"));

    // One poll, whose request string the host takes for this session's ticket and password: it
    // reports the stage where it rests, at the slide's centre.
    const auto polls = f.host->requests(QStringLiteral("iserv:w"));
    QCOMPARE(polls.size(), 1);
    QVERIFY(f.host->world().checkRequest(QStringLiteral("session"), "guest", "tall", polls[0].value("auth")));
    QVERIFY(!s->sysInfoBox->toPlainText().contains(QStringLiteral("***Error")));
    QCOMPARE(s->statusBar()->currentMessage(), QStringLiteral("Ready."));
    const SimStage::Position at = f.host->world().stagePosition(QStringLiteral("tall"));
    QCOMPARE(s->xCoord->text(), QStringLiteral("37.8350"));
    QCOMPARE(s->zCoord->text(), QString::asprintf("%.0f", at.z * 0.1));

    // The host's scale reached the frame view.
    QVERIFY(s->mppX > 0.1f && s->mppY > 0.1f);
    QCOMPARE(s->videoWindow->imageView->mppX, s->mppX);
    QVERIFY(afterBanner(*s).contains(QStringLiteral("Microscope tall ready.")));
}

void TestSessionStart::sysInfoReplies_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<float>("mppX");
    QTest::addColumn<float>("mppY");
    QTest::addColumn<bool>("banner");
    QTest::addColumn<QString>("text");      // what follows the banner, blank lines dropped

    QTest::newRow("two numbers") << 200 << QByteArray("0.5 0.45\nline one\nline two\n") << 0.5f << 0.45f << true
                                 << "line one\nline two";
    // A number on the next line is not the second scale.
    QTest::newRow("one number") << 200 << QByteArray("0.5\n40x objective\n") << 0.5f << 0.0f << true
                                << "40x objective";
    QTest::newRow("one line") << 200 << QByteArray("0.5 0.45\n") << 0.5f << 0.45f << true << "";
    QTest::newRow("no line break") << 200 << QByteArray("0.5 0.45 and more") << 0.5f << 0.45f << true << "";
    QTest::newRow("refused scales") << 200 << QByteArray("nan -1\nok\n") << 0.0f << 0.0f << true << "ok";
    QTest::newRow("inf then good") << 200 << QByteArray("inf 0.3\n") << 0.0f << 0.3f << true << "";
    QTest::newRow("failed transfer") << 500 << QByteArray("0.5 0.45\nerror page\n") << 0.0f << 0.0f << false << "";
}

void TestSessionStart::sysInfoReplies()
{
    QFETCH(int, status);
    QFETCH(QByteArray, reply);
    QFETCH(float, mppX);
    QFETCH(float, mppY);
    QFETCH(bool, banner);
    QFETCH(QString, text);

    SessionFixture f;
    f.host->scriptReply(QStringLiteral("iserv:d"), status, reply);
    f.host->scriptReply(QStringLiteral("iserv:w"), 200, "+OK 378350 251625 15000");
    QVERIFY(f.openAndSettle());
    Session* s = f.session;
    QCOMPARE(s->mppX, mppX);
    QCOMPARE(s->mppY, mppY);
    QCOMPARE(s->sysInfoBox->toPlainText().contains(::banner), banner);
    QStringList lines = afterBanner(*s).split(QLatin1Char('\n'));
    lines.removeAll(QString());
    QCOMPARE(lines.join(QLatin1Char('\n')), text);
}

void TestSessionStart::strainField_data()
{
    QTest::addColumn<QString>("login");
    QTest::addColumn<bool>("shown");
    QTest::newRow("library") << "library" << true;
    QTest::newRow("Library") << "Library" << false;
    QTest::newRow("guest") << "guest" << false;
}

void TestSessionStart::strainField()
{
    QFETCH(QString, login);
    QFETCH(bool, shown);
    SessionFixture f(QStringLiteral("dark"), login, login);
    QVERIFY(f.open());
    QCOMPARE(!f.session->strainLabel->isHidden(), shown);
    QCOMPARE(!f.session->strainEdit->isHidden(), shown);
    QVERIFY(f.waitIdle());
}

void TestSessionStart::sizeChangeKeepsUrl()
{
    SessionFixture f;
    f.host->scriptReply(QStringLiteral("iserv:w"), 200, "+OK 378350 251625 15000");
    QVERIFY(f.openAndSettle());
    Session* s = f.session;
    f.host->clearLog();

    QComboBox* sizes = s->videoWindow->videoResComboBox;
    sizes->setCurrentIndex(2);
    emit sizes->activated(2);
    QVERIFY(f.waitIdle());
    QCOMPARE(f.queries(QStringLiteral("iserv:p")), QList<QByteArray>{"l=guest&s=tall&f=p&ps=3"});
    QCOMPARE(s->videoWindow->imageView->sourceImage.size(), QSize(1024, 768));

    // The frames after a finished command and from "Refresh Video" keep that size.
    s->queryCoords();
    QVERIFY(f.waitIdle());
    s->refreshButton->click();
    QVERIFY(f.waitIdle());
    QCOMPARE(f.queries(QStringLiteral("iserv:p")), QList<QByteArray>(3, "l=guest&s=tall&f=p&ps=3"));

    // A size chosen while a frame is on its way: that frame is given up and one of the chosen
    // size comes, with nothing more done; choosing it again asks for nothing more.
    bool answer = false;            // every frame is held until then
    f.host->script(QStringLiteral("iserv:p"), [&](const HostRequest& r) {
        HostReply reply = HostReply::jpeg(
            ImageRoutes::jpeg(ImageRoutes::videoFrame(f.host->world(), r.value(QStringLiteral("s")),
                                                      r.value(QStringLiteral("ps")).toInt())));
        reply.ready = [&answer](HostReply&) { return answer; };
        return reply;
    });
    f.host->clearLog();
    s->refreshButton->click();
    QVERIFY(s->videoJPEG.request()->isBusy());
    sizes->setCurrentIndex(3);
    emit sizes->activated(3);
    QTRY_COMPARE(f.host->count(QStringLiteral("iserv:p")), 2);
    emit sizes->activated(3);
    answer = true;
    QVERIFY(f.waitIdle());
    const QByteArray chosen = "l=guest&s=tall&f=p&ps=4";
    QCOMPARE(f.queries(QStringLiteral("iserv:p")), (QList<QByteArray>{"l=guest&s=tall&f=p&ps=3", chosen}));
    QCOMPARE(s->videoWindow->imageView->sourceImage.size(), QSize(1280, 960));
    // What url() names is what the next frame, and a scan or stack built on it, asks for.
    QVERIFY(s->videoJPEG.url().endsWith(QLatin1String("f=p&ps=4")));
    s->refreshButton->click();
    QVERIFY(f.waitIdle());
    QCOMPARE(f.queries(QStringLiteral("iserv:p")).last(), chosen);
}

void TestSessionStart::scopeWithoutSlides()
{
    SessionFixture f;
    f.info.scope.slides.clear();
    f.info.scope.wireSlides.clear();
    f.host->scriptReply(QStringLiteral("iserv:w"), 200, "+OK 378350 251625 15000");
    f.host->scriptReply(QStringLiteral("iserv:m"), 200, "+OK 378350 251625 15000");
    QVERIFY(f.openAndSettle());
    Session* s = f.session;
    QVERIFY(s->curSlide.isEmpty());

    // "Refresh Preview" reloads nothing, and still moves.
    s->refPreviewButton->click();
    QVERIFY(f.waitIdle());
    QCOMPARE(f.host->count(QStringLiteral("iserv:m")), 1);
    for (const auto& e : f.host->log())
        QVERIFY2(!e.path.startsWith(QLatin1String("/small_slides")) && !e.path.startsWith(QLatin1String("/whole_slides"))
                     && !e.path.startsWith(QLatin1String("/fiducials")),
                 qPrintable(e.path));
    QVERIFY(s->sysInfoBox->toPlainText().contains(QStringLiteral("No slide to reload.")));
}

QTEST_MAIN(TestSessionStart)
#include "tst_session_start.moc"
