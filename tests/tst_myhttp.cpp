// Request object: buffer rules, busy semantics, failure states and the size cap, over loopback.
#include "MyHTTP.h"
#include "RawPeer.h"
#include "ReplyText.h"
#include "TestHost.h"
#include "Url.h"

#include <QSignalSpy>
#include <QTest>

class TestMyHTTP : public QObject
{
    Q_OBJECT
private slots:
    void bufferGrowth();
    void replyBodiesAndLengths_data();
    void replyBodiesAndLengths();
    void errorStatusFails();
    void fetchWithoutUrlDoesNothing();
    void busyDropsSecondRequest();
    void refetchFromInsideDone();
    void shortReplyAfterLongOne();
    void transportFailures();
    void redirectNotFollowed();
    void oversizedReplyFails();
    void invalidHostNeverSent();
    void deletedWhileBusyReportsNothing();
    void urlEscaping();
};

void TestMyHTTP::bufferGrowth()
{
    MyHTTP h;
    QCOMPARE(h.bufferCapacity(), 256);
    QByteArray b255(255, 'a');
    h.appendChunk(b255.constData(), 255);
    QCOMPARE(h.length(), 255);
    QCOMPARE(h.bufferCapacity(), 256);      // its NUL takes the last byte
    QCOMPARE(h.data()[255], '\0');

    MyHTTP g;
    QByteArray b256(256, 'b');
    g.appendChunk(b256.constData(), 256);
    QCOMPARE(g.bufferCapacity(), 256 + 256 + 25);
    QVERIFY(g.length() < g.bufferCapacity());

    // Growth is linear by the chunk that does not fit, and the invariant always holds.
    MyHTTP k;
    int expected = 256;
    for (int n : {100, 100, 100, 1000, 1, 1}) {
        QByteArray c(n, 'c');
        const int before = k.length();
        if (before + n + 1 > expected)
            expected += n + 25;
        k.appendChunk(c.constData(), n);
        QCOMPARE(k.bufferCapacity(), expected);
        QVERIFY(k.length() < k.bufferCapacity());
    }
}

void TestMyHTTP::replyBodiesAndLengths_data()
{
    QTest::addColumn<int>("size");
    QTest::newRow("empty") << 0;
    QTest::newRow("255") << 255;
    QTest::newRow("256") << 256;
    QTest::newRow("5 MB") << 5 * 1024 * 1024;
}

void TestMyHTTP::replyBodiesAndLengths()
{
    QFETCH(int, size);
    TestHost host;
    QByteArray body(size, '\0');
    for (int i = 0; i < size; ++i)
        body[i] = char('A' + i % 26);
    host->scriptReply("iserv:x", 200, body);
    MyHTTP h;
    QSignalSpy done(&h, qOverload<>(&MyHTTP::done));
    QSignalSpy doneId(&h, qOverload<int>(&MyHTTP::done));
    h.setUrl(host.url("/cgi-bin/iserv?f=x"));
    h.fetch();
    QVERIFY(h.isBusy());
    QVERIFY(done.wait(10000));
    QCOMPARE(done.count(), 1);
    QCOMPARE(doneId.count(), 1);
    QCOMPARE(doneId.at(0).at(0).toInt(), -1);
    QVERIFY(!h.isBusy());
    QVERIFY(h.succeeded());
    QCOMPARE(h.length(), size);
    QVERIFY(h.length() < h.bufferCapacity());
    QCOMPARE(QByteArray(h.data(), h.length()), body);
    QCOMPARE(h.data()[h.length()], '\0');
}

void TestMyHTTP::errorStatusFails()
{
    TestHost host;
    MyHTTP h;
    QSignalSpy done(&h, qOverload<>(&MyHTTP::done));
    h.setUrl(host.url("/no/such/file"));
    h.fetch();
    QVERIFY(done.wait());
    QVERIFY(!h.succeeded());
    QCOMPARE(h.finalState(), int(MyHTTP::StFailed));

    // A 500 with a body: failed, and the body is still there to read.
    host->scriptReply("iserv:boom", 500, "boom");
    h.setUrl(host.url("/cgi-bin/iserv?f=boom"));
    h.fetch();
    QVERIFY(done.wait());
    QVERIFY(!h.succeeded());
    QCOMPARE(QByteArray(h.data(), h.length()), QByteArray("boom"));
}

void TestMyHTTP::fetchWithoutUrlDoesNothing()
{
    MyHTTP h;
    QSignalSpy done(&h, qOverload<>(&MyHTTP::done));
    h.fetch();
    QVERIFY(!h.isBusy());
    QVERIFY(!done.wait(200));
    QVERIFY(!h.succeeded());
    QCOMPARE(h.length(), 0);
}

void TestMyHTTP::busyDropsSecondRequest()
{
    TestHost host;
    host->scriptReply("iserv:a", 200, "reply a", 300);
    host->scriptReply("iserv:b", 200, "reply b");
    MyHTTP h;
    QSignalSpy done(&h, qOverload<>(&MyHTTP::done));
    h.setUrl(host.url("/cgi-bin/iserv?f=a"));
    h.fetch();
    h.setUrl(host.url("/cgi-bin/iserv?f=b"));
    h.fetch();
    QVERIFY(done.wait());
    QCOMPARE(QByteArray(h.data(), h.length()), QByteArray("reply a"));
    QVERIFY(!done.wait(500));
    QCOMPARE(done.count(), 1);
    QCOMPARE(host->count("iserv:b"), 0);
    QCOMPARE(host->count("iserv:a"), 1);
}

void TestMyHTTP::refetchFromInsideDone()
{
    TestHost host;
    int served = 0;
    host->script("iserv:w", [&served](const HostRequest&) {
        return HostReply::text(++served < 5 ? "*MV 1 2 3" : "+OK 1 2 3");
    });
    MyHTTP h;
    int rounds = 0;
    QObject::connect(&h, qOverload<>(&MyHTTP::done), &h, [&] {
        ++rounds;
        QVERIFY(!h.isBusy());
        if (ReplyText(&h).startsWith('*')) {
            h.setUrl(host.url("/cgi-bin/iserv?f=w"));     // released later, not now
            h.fetch();
        }
    });
    h.setUrl(host.url("/cgi-bin/iserv?f=w"));
    h.fetch();
    QTRY_COMPARE_WITH_TIMEOUT(rounds, 5, 10000);
    QVERIFY(ReplyText(&h).startsWith('+'));
    // The same URL fetched again with fetch() alone.
    h.fetch();
    QTRY_COMPARE(rounds, 6);
    QCOMPARE(host->count("iserv:w"), 6);
}

void TestMyHTTP::shortReplyAfterLongOne()
{
    TestHost host;
    host->scriptReply("iserv:long", 200, "+OK 378350.0 251625.0 15000.0 and more bytes");
    host->scriptReply("iserv:short", 200, "+");
    MyHTTP h;
    QSignalSpy done(&h, qOverload<>(&MyHTTP::done));
    h.setUrl(host.url("/cgi-bin/iserv?f=long"));
    h.fetch();
    QVERIFY(done.wait());
    h.setUrl(host.url("/cgi-bin/iserv?f=short"));
    h.fetch();
    QVERIFY(done.wait());
    const ReplyText r(&h);
    QCOMPARE(r.size(), 1);
    QVERIFY(!r.hexAt(4));                   // nothing of the earlier reply is read
    QVERIFY(!r.scan(4).real());
}

void TestMyHTTP::transportFailures()
{
    // A body cut off before its declared length.
    {
        RawPeer peer;
        peer.response = RawPeer::reply200("0123456789", 100);
        MyHTTP h;
        QSignalSpy done(&h, qOverload<>(&MyHTTP::done));
        h.setUrl("http://" + peer.hostField() + "/cgi-bin/iserv?f=i");
        h.fetch();
        QVERIFY(done.wait());
        QVERIFY(!h.succeeded());
        QVERIFY(h.length() <= 10);
        QVERIFY(h.length() < h.bufferCapacity());
    }
    // A connection dropped without any answer.
    {
        RawPeer peer;
        peer.dropAtOnce = true;
        MyHTTP h;
        QSignalSpy done(&h, qOverload<>(&MyHTTP::done));
        h.setUrl("http://" + peer.hostField() + "/x");
        h.fetch();
        QVERIFY(done.wait());
        QCOMPARE(done.count(), 1);
        QVERIFY(!h.succeeded());
    }
    // Nobody listening.
    {
        quint16 port;
        {
            RawPeer gone;
            port = gone.port();
        }
        MyHTTP h;
        QSignalSpy done(&h, qOverload<>(&MyHTTP::done));
        h.setUrl(QStringLiteral("http://127.0.0.1:%1/x").arg(port));
        h.fetch();
        QVERIFY(done.wait());
        QVERIFY(!h.succeeded());
    }
}

void TestMyHTTP::redirectNotFollowed()
{
    RawPeer peer;
    peer.response = "HTTP/1.1 302 Found\r\nLocation: http://127.0.0.1:1/elsewhere\r\n"
                    "Content-Length: 0\r\nConnection: close\r\n\r\n";
    MyHTTP h;
    QSignalSpy done(&h, qOverload<>(&MyHTTP::done));
    h.setUrl("http://" + peer.hostField() + "/x");
    h.fetch();
    QVERIFY(done.wait());
    QCOMPARE(done.count(), 1);
    QVERIFY(h.succeeded());
    QCOMPARE(h.length(), 0);
    QCOMPARE(peer.requests.size(), 1);
}

void TestMyHTTP::oversizedReplyFails()
{
    RawPeer peer;
    const QByteArray big(MyHTTP::MaxReply + 4096, 'z');
    peer.response = RawPeer::reply200(big);
    MyHTTP h;
    QSignalSpy done(&h, qOverload<>(&MyHTTP::done));
    h.setUrl("http://" + peer.hostField() + "/x");
    h.fetch();
    QVERIFY(done.wait(30000));
    QVERIFY(!done.wait(300));
    QCOMPARE(done.count(), 1);
    QVERIFY(!h.succeeded());
    QVERIFY(h.length() < MyHTTP::MaxReply);
    QVERIFY(h.length() < h.bufferCapacity());
}

void TestMyHTTP::invalidHostNeverSent()
{
    for (const QString& host : {QStringLiteral("host/x?"), QStringLiteral("user@host"),
                                QStringLiteral("host "), QString(), QStringLiteral("127.0.0.1:99999")}) {
        MyHTTP h;
        QSignalSpy done(&h, qOverload<>(&MyHTTP::done));
        h.setUrl(Url(host).raw("/cgi-bin/iserv?f=i"));
        h.fetch();
        QVERIFY2(done.wait(), qPrintable(host));
        QVERIFY(!h.succeeded());
    }
}

void TestMyHTTP::deletedWhileBusyReportsNothing()
{
    TestHost host;
    host->scriptReply("iserv:slow", 200, "late", 200);
    int reports = 0;
    {
        MyHTTP h;
        QObject::connect(&h, qOverload<>(&MyHTTP::done), [&reports] { ++reports; });
        h.setUrl(host.url("/cgi-bin/iserv?f=slow"));
        h.fetch();
        QTest::qWait(20);
    }
    QTest::qWait(400);
    QCOMPARE(reports, 0);
}

void TestMyHTTP::urlEscaping()
{
    // Plain values go out byte for byte; structural characters reach the host as one value.
    QCOMPARE(Url("h").field("?f=x&l=", "guest_01.a-b").str(), QStringLiteral("http://h?f=x&l=guest_01.a-b"));
    TestHost host;
    MyHTTP h;
    QSignalSpy done(&h, qOverload<>(&MyHTTP::done));
    const QString name = QStringLiteral("a b&c#d%41+e\u00e9");
    h.setUrl(Url(host.field()).raw("/cgi-bin/iserv?f=echo").field("&j=", name).raw("&auth=1f"));
    h.fetch();
    QVERIFY(done.wait());
    const auto log = host->requests("iserv:echo");
    QCOMPARE(log.size(), 1);
    QCOMPARE(log[0].value("j"), name);
    QCOMPARE(log[0].value("auth"), QStringLiteral("1f"));
    QCOMPARE(log[0].items.size(), 3);
}

QTEST_MAIN(TestMyHTTP)
#include "tst_myhttp.moc"
