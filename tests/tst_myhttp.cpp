// Request object: buffer rules, busy semantics, failure states and the size cap, over loopback.
#include "MyHTTP.h"
#include "RawPeer.h"
#include "ReplyText.h"
#include "TestHost.h"
#include "Url.h"

#include <QSignalSpy>
#include <QTest>

namespace {
// Fetches `url` and waits for the request's end; false if it never ended.
bool fetch(MyHTTP& h, const QString& url, int timeoutMs = 5000)
{
    QSignalSpy done(&h, qOverload<>(&MyHTTP::done));
    h.setUrl(url);
    h.fetch();
    return done.wait(timeoutMs);
}

QString peerUrl(const RawPeer& peer) { return "http://" + peer.hostField() + "/x"; }
QByteArray body(MyHTTP& h) { return QByteArray(h.data(), h.length()); }
} // namespace

class TestMyHTTP : public QObject
{
    Q_OBJECT
private slots:
    void bufferGrowth();
    void replyBodiesAndLengths_data();
    void replyBodiesAndLengths();
    void errorStatusFails();
    void busyDropsSecondRequest();
    void refetchFromInsideDone();
    void shortReplyAfterLongOne();
    void transportsNoServerSends();
    void redirects_data();
    void redirects();
    void invalidHostNeverSent();
    void deletedWhileBusyReportsNothing();
    void urlEscaping();
};

void TestMyHTTP::bufferGrowth()
{
    MyHTTP h;
    QCOMPARE(h.bufferCapacity(), 256);
    const QByteArray b(256, 'b');
    h.appendChunk(b.constData(), 255);
    QCOMPARE(h.bufferCapacity(), 256);      // its NUL takes the last byte
    QCOMPARE(h.data()[255], '\0');

    MyHTTP g;
    g.appendChunk(b.constData(), 256);
    QCOMPARE(g.bufferCapacity(), 256 + 256 + 25);

    // Growth is linear by the chunk that does not fit, and the NUL always fits.
    MyHTTP k;
    int expected = 256;
    for (int n : {100, 100, 100, 1000, 1, 1}) {
        const QByteArray c(n, 'c');
        if (k.length() + n + 1 > expected)
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
    QByteArray reply(size, '\0');
    for (int i = 0; i < size; ++i)
        reply[i] = char('A' + i % 26);
    host->scriptReply("iserv:x", 200, reply);
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
    QVERIFY(!h.isBusy() && h.succeeded());
    QCOMPARE(body(h), reply);
    QVERIFY(h.length() < h.bufferCapacity());
    QCOMPARE(h.data()[h.length()], '\0');
}

void TestMyHTTP::errorStatusFails()
{
    TestHost host;
    MyHTTP h;
    QVERIFY(fetch(h, host.url("/no/such/file")));
    QCOMPARE(h.finalState(), int(MyHTTP::StFailed));

    // A 500 with a body: failed, and the body is still there to read.
    host->scriptReply("iserv:boom", 500, "boom");
    QVERIFY(fetch(h, host.url("/cgi-bin/iserv?f=boom")));
    QVERIFY(!h.succeeded());
    QCOMPARE(body(h), QByteArray("boom"));
    QCOMPARE(h.httpStatus(), 500);
    QCOMPARE(h.httpReason(), QStringLiteral("Internal Server Error"));

    // The reason phrase is the host's text: printable, and bounded.
    RawPeer odd;
    odd.response = "HTTP/1.1 414 <b>Too\x7f\xe9" + QByteArray(500, 'x') + "\r\nContent-Length: 0\r\n\r\n";
    QVERIFY(fetch(h, peerUrl(odd)));
    QVERIFY(!h.succeeded());
    QCOMPARE(h.httpStatus(), 414);
    QCOMPARE(h.httpReason(), QStringLiteral("<b>Too?\u00e9") + QString(MyHTTP::MaxReason - 8, QLatin1Char('x')));

    // Without a URL, fetch() does nothing at all.
    MyHTTP none;
    QSignalSpy done(&none, qOverload<>(&MyHTTP::done));
    none.fetch();
    QVERIFY(!none.isBusy());
    QVERIFY(!done.wait(200));
    QVERIFY(!none.succeeded() && none.length() == 0);
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
    QCOMPARE(body(h), QByteArray("reply a"));
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
    QVERIFY(fetch(h, host.url("/cgi-bin/iserv?f=long")));
    QVERIFY(fetch(h, host.url("/cgi-bin/iserv?f=short")));
    const ReplyText r(&h);
    QCOMPARE(r.size(), 1);
    QVERIFY(!r.hexAt(4));                   // nothing of the earlier reply is read
    QVERIFY(!r.scan(4).real());
}

void TestMyHTTP::transportsNoServerSends()
{
    // A body cut off before its declared length.
    RawPeer cut;
    cut.response = RawPeer::reply200("0123456789", 100);
    MyHTTP h;
    QVERIFY(fetch(h, peerUrl(cut)));
    QVERIFY(!h.succeeded());
    QVERIFY(h.length() <= 10 && h.length() < h.bufferCapacity());

    // A connection dropped without any answer; nobody listening.
    RawPeer dropping;
    dropping.dropAtOnce = true;
    quint16 port;
    {
        RawPeer gone;
        port = gone.port();
    }
    for (const QString& url : {peerUrl(dropping), QStringLiteral("http://127.0.0.1:%1/x").arg(port)}) {
        MyHTTP g;
        QSignalSpy done(&g, qOverload<>(&MyHTTP::done));
        QVERIFY(fetch(g, url));
        QCOMPARE(done.count(), 1);
        QVERIFY(!g.succeeded());
        QCOMPARE(g.httpStatus(), 0);
        QVERIFY(g.httpReason().isEmpty());
    }

    // A reply over the size cap fails, once, and keeps no more than the cap.
    RawPeer big;
    big.response = RawPeer::reply200(QByteArray(MyHTTP::MaxReply + 4096, 'z'));
    MyHTTP o;
    QSignalSpy done(&o, qOverload<>(&MyHTTP::done));
    QVERIFY(fetch(o, peerUrl(big), 30000));
    QVERIFY(!done.wait(300));
    QCOMPARE(done.count(), 1);
    QVERIFY(!o.succeeded());
    QVERIFY(o.length() < MyHTTP::MaxReply && o.length() < o.bufferCapacity());
}

void TestMyHTTP::redirects_data()
{
    QTest::addColumn<QByteArray>("head");       // status line and Location; %1 the peer's port, %2 another's
    QTest::addColumn<int>("status");            // of the answer kept
    QTest::addColumn<QString>("reason");
    QTest::addColumn<QByteArray>("body");       // empty: failed
    QTest::newRow("same origin") << QByteArray("302 Found\r\nLocation: http://127.0.0.1:%1/target") << 200 << "OK"
                                 << QByteArray("the target");
    QTest::newRow("same origin, relative") << QByteArray("301 Moved Permanently\r\nLocation: /target") << 200 << "OK"
                                           << QByteArray("the target");
    QTest::newRow("another port") << QByteArray("302 Found\r\nLocation: http://127.0.0.1:%2/target") << 302 << "Found"
                                  << QByteArray();
    QTest::newRow("another host") << QByteArray("307 Temporary Redirect\r\nLocation: http://localhost:%1/target")
                                  << 307 << "Temporary Redirect" << QByteArray();
    QTest::newRow("300 without Location") << QByteArray("300 Multiple Choices") << 300 << "Multiple Choices"
                                          << QByteArray();
    QTest::newRow("304") << QByteArray("304 Not Modified") << 304 << "Not Modified" << QByteArray();
}

// A redirect is followed on the same host and port only; any other 3xx answer fails, and its page
// never becomes the reply.
void TestMyHTTP::redirects()
{
    QFETCH(QByteArray, head);
    QFETCH(int, status);
    QFETCH(QString, reason);
    QFETCH(QByteArray, body);
    RawPeer peer, other;
    other.response = peer.response = RawPeer::reply200("the target");
    const QByteArray page = "<html>Found: the document has moved here</html>";
    peer.firstResponses = {"HTTP/1.1 "
                           + head.replace("%1", QByteArray::number(peer.port()))
                                 .replace("%2", QByteArray::number(other.port()))
                           + "\r\nContent-Type: text/html\r\nContent-Length: " + QByteArray::number(page.size())
                           + "\r\nConnection: close\r\n\r\n" + page};
    MyHTTP h;
    QVERIFY(fetch(h, peerUrl(peer)));
    QCOMPARE(h.succeeded(), !body.isEmpty());
    QCOMPARE(h.finalState(), int(body.isEmpty() ? MyHTTP::StFailed : MyHTTP::StDone));
    QCOMPARE(QByteArray(h.data(), h.length()), body);
    QCOMPARE(h.httpStatus(), status);
    QCOMPARE(h.httpReason(), reason);
    QCOMPARE(other.requests.size(), 0);
    QCOMPARE(peer.requests.size(), body.isEmpty() ? 1 : 2);
    if (!body.isEmpty())
        QVERIFY2(peer.requests[1].startsWith("GET /target HTTP/1.1\r\n"), peer.requests[1].constData());
}

void TestMyHTTP::invalidHostNeverSent()
{
    for (const QString& host : {QStringLiteral("host/x?"), QStringLiteral("user@host"),
                                QStringLiteral("host "), QString(), QStringLiteral("127.0.0.1:99999")}) {
        MyHTTP h;
        QVERIFY2(fetch(h, Url(host).raw("/cgi-bin/iserv?f=i")), qPrintable(host));
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
    const QString name = QStringLiteral("a b&c#d%41+e\u00e9");
    QVERIFY(fetch(h, Url(host.field()).raw("/cgi-bin/iserv?f=echo").field("&j=", name).raw("&auth=1f")));
    const auto log = host->requests("iserv:echo");
    QCOMPARE(log.size(), 1);
    QCOMPARE(log[0].value("j"), name);
    QCOMPARE(log[0].value("auth"), QStringLiteral("1f"));
    QCOMPARE(log[0].items.size(), 3);
}

QTEST_MAIN(TestMyHTTP)
#include "tst_myhttp.moc"
