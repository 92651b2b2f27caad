// Session start: the window, its keys and windows, the start requests and the system information.
#include "SessionFixture.h"

#include <QSignalSpy>
#include <QStatusBar>

class TestSessionStart : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void startRequests();
};

void TestSessionStart::initTestCase()
{
    qRegisterMetaType<CoordinateTriple>("CoordinateTriple&");
    qRegisterMetaType<QImage>("QImage&");
}

void TestSessionStart::startRequests()
{
    SessionFixture f;
    f.host->scriptReply(QStringLiteral("iserv:w"), 200, "+OK 378350 251625 15000");
    QVERIFY(f.openAndSettle());
    Session* s = f.session;
    QCOMPARE(s->windowTitle(), QStringLiteral("Brolt 2.4: Controlling tall at <%1>").arg(f.host.field()));
    QVERIFY(s->videoWindow && s->videoWindow->isVisible());
    QVERIFY(s->neighborVideo && !s->neighborVideo->isVisible());
    QCOMPARE(f.queries(QStringLiteral("iserv:d")), QList<QByteArray>{"l=guest&s=tall&f=d"});
    QCOMPARE(f.queries(QStringLiteral("iserv:t")), QList<QByteArray>{"l=guest&s=tall&f=t"});
    QCOMPARE(f.queries(QStringLiteral("iserv:p")).value(0), QByteArray("l=guest&s=tall&f=p&ps=1"));
    const auto polls = f.host->requests(QStringLiteral("iserv:w"));
    QCOMPARE(polls.size(), 1);
    QVERIFY(f.host->world().checkRequest(QStringLiteral("session"), "guest", "tall", polls[0].value("auth")));
    QCOMPARE(s->statusBar()->currentMessage(), QStringLiteral("Ready."));
    QCOMPARE(s->xCoord->text(), QStringLiteral("37.8350"));
}

QTEST_MAIN(TestSessionStart)
#include "tst_session_start.moc"
