// Authentication strings: hand-computed vectors, rotation rules and the round trip; the host's
// independent check accepts what the client builds.
#include "Auth.h"
#include "HostAuth.h"

#include <QRandomGenerator>
#include <QTest>

namespace {
// A fixed sequence of random numbers for the strings.
struct FixedRandom
{
    explicit FixedRandom(QList<quint32> values)
    {
        Auth::setRandomSource([values, i = 0]() mutable { return values.at(i++ % values.size()); });
    }
    ~FixedRandom() { Auth::setRandomSource({}); }
};
} // namespace

class TestAuth : public QObject
{
    Q_OBJECT
private slots:
    void handVectors();
    void rotationsKeyBytesAndLanes();
    void emptyKeyAndIdentityKeys();
    void roundTripAndHostAgreement();
    void hexForms();
};

void TestAuth::handVectors()
{
    FixedRandom r({0x1234});
    Auth a;
    a.setKey("secret");
    QCOMPARE(a.encode(0x1234), 0x2434u);
    QCOMPARE(a.loginString(), QStringLiteral("2434&rndsd=1234"));
    a.setToken(0x5a17c3e9);
    QCOMPARE(a.token(), 0x96e2e1e9u);
    QCOMPARE(a.requestString(), QStringLiteral("5652e7dd"));
    QVERIFY(HostAuth::checkRequest("secret", 0x5a17c3e9, "5652e7dd"));
    QVERIFY(!HostAuth::checkRequest("secrex", 0x5a17c3e9, "5652e7dd"));
    QVERIFY(!HostAuth::checkRequest("secret", 0x5a17c3ea, "5652e7dd"));
    QVERIFY(HostAuth::checkLogin("secret", "2434", "1234"));
    QVERIFY(!HostAuth::checkLogin("secret", "1234", "1234"));
}

void TestAuth::rotationsKeyBytesAndLanes()
{
    QCOMPARE(Auth::rotateLeft8(0x81, 1), 0x03);
    QCOMPARE(Auth::rotateRight8(0x03, 1), 0x81);
    QCOMPARE(Auth::rotateLeft8(0x12, 8), 0x12);
    QCOMPARE(Auth::rotateLeft8(0x12, 0), 0x12);
    QCOMPARE(Auth::rotateLeft8(0x12, -3), 0x12);
    QCOMPARE(Auth::rotateRight8(0x12, -3), 0x12);
    QCOMPARE(Auth::rotateLeft8(0x01, 7), 0x80);

    // Five characters: byte 0 is rotated by characters 1 and 5, the others once.
    Auth a;
    a.setKey("ABCDE");          // counts 1, 2, 3, 4, 5
    const quint32 w = 0x11223344;
    quint32 expect = 0;
    expect |= quint32(Auth::rotateLeft8(0x44, 1 + 5));
    expect |= quint32(Auth::rotateLeft8(0x33, 2)) << 8;
    expect |= quint32(Auth::rotateLeft8(0x22, 3)) << 16;
    expect |= quint32(Auth::rotateLeft8(0x11, 4)) << 24;
    QCOMPARE(a.encode(w), expect);
    QCOMPARE(HostAuth::encode("ABCDE", w), expect);

    // A Latin-1 character at or above 0x80 rotates nothing, its neighbours still do.
    Auth b;
    b.setKey(QString::fromLatin1("\xe9" "A"));
    QCOMPARE(b.encode(0x00000201) & 0xFF, 0x01u);
    QCOMPARE((b.encode(0x00000201) >> 8) & 0xFF, 0x04u);
}

void TestAuth::emptyKeyAndIdentityKeys()
{
    FixedRandom r({0x7abc});
    Auth a;
    QCOMPARE(a.loginString(), QStringLiteral("7abc&rndsd=7abc"));
    QCOMPARE(a.encode(0xdeadbeef), 0xdeadbeefu);
    for (const QString& key : {QString::fromLatin1("\x80\xff\xc0\xe9\xfe"), QStringLiteral("@HP08(")}) {
        Auth k;
        k.setKey(key);
        for (quint32 w : {0u, 1u, 0xdeadbeefu, 0xffffffffu}) {
            QCOMPARE(k.encode(w), w);
            QCOMPARE(k.decode(w), w);
        }
    }
}

void TestAuth::roundTripAndHostAgreement()
{
    QRandomGenerator rng(20261208);
    for (int i = 0; i < 2000; ++i) {
        QString key;
        const int len = int(rng.bounded(12));
        for (int c = 0; c < len; ++c)
            key += QChar(ushort(rng.bounded(1, 256)));
        Auth a;
        a.setKey(key);
        const quint32 w = rng.generate();
        QCOMPARE(a.decode(a.encode(w)), w);
        QCOMPARE(a.encode(a.decode(w)), w);
        QCOMPARE(a.encode(w), HostAuth::encode(key, w));

        const quint32 ticket = rng.generate();
        a.setToken(ticket);
        Auth::setRandomSource([&rng] { return rng.bounded(32768u); });
        const QString req = a.requestString();
        const QString login = a.loginString();
        Auth::setRandomSource({});
        QVERIFY2(HostAuth::checkRequest(key, ticket, req), qPrintable(req));
        const QStringList parts = login.split("&rndsd=");
        QCOMPARE(parts.size(), 2);
        QVERIFY(HostAuth::checkLogin(key, parts[0], parts[1]));
    }
}

void TestAuth::hexForms()
{
    QCOMPARE(Auth::hex(0), QStringLiteral("0"));
    QCOMPARE(Auth::hex(0x80000000u), QStringLiteral("80000000"));
    QCOMPARE(Auth::hex(0xABCu), QStringLiteral("abc"));
    // With an empty key and token 0 the request string is hex(m) itself.
    FixedRandom r({0, 0xff, 0x7fff, 0x100});
    Auth a;
    QCOMPARE(a.loginString(), QStringLiteral("0&rndsd=0"));
    QCOMPARE(a.requestString(), QStringLiteral("ff"));
    QCOMPARE(a.requestString(), QStringLiteral("7e817fff"));
    QCOMPARE(a.requestString(), QStringLiteral("100"));
}

QTEST_MAIN(TestAuth)
#include "tst_auth.moc"
