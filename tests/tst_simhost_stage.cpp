// The simulated host's control-window side over loopback: stage motion, clamping and autofocus,
// refusals, the blocking move, control time and cancellation, jobs and lists, long job
// requests and calibration corrections.
#include "ImageRoutes.h"
#include "TestHost.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QTest>
#include <cmath>
#include <optional>

namespace {

struct Got
{
    int status = 0;
    QByteArray body;
};

QNetworkAccessManager& nam()
{
    static QNetworkAccessManager manager;
    return manager;
}

Got get(TestHost& host, const QString& path)
{
    QNetworkReply* reply = nam().get(QNetworkRequest(QUrl(host.url(path))));
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    reply->deleteLater();
    return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll()};
}

// A control-window command: the prefix, the command, and "&auth=" unless `auth` is null.
QString command(const QString& login, const QString& scope, const QString& tail, const QString& auth)
{
    QString path = QStringLiteral("/cgi-bin/iserv?l=") + login + QStringLiteral("&s=") + scope + QStringLiteral("&f=") + tail;
    if (!auth.isNull())
        path += QStringLiteral("&auth=") + auth;
    return path;
}

struct Position
{
    char status;
    double x, y, z;
};

// "+OK x y z" or "*MV x y z", nothing before or after.
std::optional<Position> position(const QByteArray& reply)
{
    static const QRegularExpression form(QStringLiteral("^([+*])(?:OK|MV) (\\S+) (\\S+) (\\S+)$"));
    const auto m = form.match(QString::fromLatin1(reply));
    if (!m.hasMatch())
        return std::nullopt;
    return Position{m.captured(1).at(0).toLatin1(), m.captured(2).toDouble(), m.captured(3).toDouble(),
                    m.captured(4).toDouble()};
}

// Fine detail of a picture: mean difference between neighbouring pixels.
double detail(const QImage& img)
{
    double s = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 1; x < img.width(); ++x) {
            const QRgb p = img.pixel(x, y), q = img.pixel(x - 1, y);
            s += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
        }
    return s / (3.0 * (img.width() - 1) * img.height());
}

// A stage point over dense tissue of the microscope's mounted slide.
QPointF tissuePoint(const World& w, const QString& scope)
{
    const auto slide = w.slide(w.mountedSlide(scope));
    for (double r = 0; r < 200000; r += 2500)
        for (double a = 0; a < 6.28; a += 0.4) {
            const QPointF p(SlideGeometry::kCentreX + r * std::cos(a), SlideGeometry::kCentreY + r * std::sin(a));
            const QPointF s = w.slidePoint(scope, slide->name(), p);
            if (slide->tissueAt(s.x(), s.y()) > 0.99 && slide->tissueAt(s.x() + 3000, s.y()) > 0.99)
                return p;
        }
    return {};
}

// guest holds control time on the microscope from before now for an hour.
void grant(World& w, const QString& scope, const QString& login = QStringLiteral("guest"))
{
    w.book(scope, {login, w.now() - 100, 3600});
}

QList<QByteArray> lines(const QByteArray& body)
{
    QList<QByteArray> out = body.split('\n');
    if (!out.isEmpty() && out.last().isEmpty())
        out.removeLast();
    return out;
}

} // namespace

class TestSimHostStage : public QObject
{
    Q_OBJECT
private slots:
    void movesClampAndFocus();
    void refusals_data();
    void refusals();
    void blockingMoveAnswersInPlace();
    void controlTimeAndCancellation();
    void jobGridCount_data();
    void jobGridCount();
    void jobsStoredAndListed();
    void longJobRequests();
    void calibrationCorrections();
};

// On a stage clock the test drives: each axis runs at its speed, the poll reports the way so
// far, targets are clamped, autofocus ends at the focus height after its own time.
void TestSimHostStage::movesClampAndFocus()
{
    TestHost host;
    World& w = host->world();
    qint64 ms = 0;
    w.stageClock = [&ms] { return ms; };
    StageSettings s;                    // 10 mm/s in x and y, 0.5 mm/s in z
    s.pollDelayMs = 0;
    w.stageSettings = s;
    const QString tall = QStringLiteral("tall");
    grant(w, tall);
    const QString auth = host.auth(QStringLiteral("guest"), tall);
    auto send = [&](const QString& tail) { return get(host, command(QStringLiteral("guest"), tall, tail, auth)).body; };
    w.placeStage(tall, {378350, 251625, 15000});

    QCOMPARE(send("m&x=125000&y=72500&z=1500"), QByteArray("*MV 378350 251625 15000"));
    const QList<QPair<qint64, QByteArray>> way = {{1000, "*MV 278350 151625 10000"},
                                                  {2000, "*MV 178350 72500 5000"},
                                                  {2699, "*MV 125000 72500 1505"},
                                                  {2700, "+OK 125000 72500 1500"}};
    for (const auto& [at, reply] : way) {
        ms = at;
        QCOMPARE(send("w"), reply);
    }
    QCOMPARE(send("m&x=125000&y=72500&z=1500"), QByteArray("+OK 125000 72500 1500"));

    const QList<QPair<QString, QByteArray>> clamped = {
        {"m&x=-5000&y=900000&z=0", "+OK 0 503250 1"},
        {"m&x=800000&y=-1&z=30000", "+OK 756700 0 29999"},
        {"m&x=12.5&y=7.25&z=-3", "+OK 12.5 7.25 1"},
    };
    for (const auto& [tail, rest] : clamped) {
        QVERIFY(position(send(tail)));
        ms += 100000;
        QCOMPARE(send("w"), rest);
    }
    for (const char* bad : {"m&x=nan&y=1&z=1", "m&x=1&y=1", "m&x=1e999&y=1&z=1", "m&x=&y=1&z=1"})
        QCOMPARE(send(bad), QByteArray("-E"));
    QCOMPARE(send("w"), QByteArray("+OK 12.5 7.25 1"));

    // Autofocus from 40 um above the section: the quick one after its time, within 1.5 um;
    // the accurate one takes longer and ends on the focus height.
    const QPointF p = tissuePoint(w, tall);
    QVERIFY(!p.isNull());
    const double focus = w.focusUnderStage(tall, p.x(), p.y());
    for (const bool accurate : {false, true}) {
        w.placeStage(tall, {p.x(), p.y(), focus + 400});
        const qint64 from = ms;
        const int time = accurate ? s.accurateFocusMs : s.quickFocusMs;
        QCOMPARE(send(accurate ? "r" : "a")[0], '*');
        ms = from + s.quickFocusMs - 1;
        const auto during = position(send("w"));
        QVERIFY(during && during->status == '*' && during->z < focus + 400 && during->z > focus - 15);
        ms = from + time - 1;
        QCOMPARE(send("w")[0], '*');
        ms = from + time;
        const auto done = position(send("w"));
        QVERIFY(done && done->status == '+' && std::abs(done->x - p.x()) < 0.001 && std::abs(done->y - p.y()) < 0.001);
        if (accurate)
            QVERIFY2(std::abs(done->z - focus) < 0.001, qPrintable(QString::number(done->z - focus)));
        else
            QVERIFY2(std::abs(done->z - focus) <= 15, qPrintable(QString::number(done->z - focus)));
    }
}

void TestSimHostStage::refusals_data()
{
    QTest::addColumn<QString>("tail");
    QTest::addColumn<QByteArray>("afterControl");      // the reply once control time has ended
    QTest::newRow("move") << "m&x=1000&y=1000&z=1000" << QByteArray("-U");
    QTest::newRow("blocking move") << "m&b=y&x=1000.000000&y=1000.000000&z=1000.000000" << QByteArray("-U");
    QTest::newRow("poll") << "w" << QByteArray("-U");
    QTest::newRow("quick focus") << "a" << QByteArray("-U");
    QTest::newRow("accurate focus") << "r" << QByteArray("-U");
    QTest::newRow("cancel") << "rmSch" << QByteArray("-N");
    QTest::newRow("grid job") << "cj&ld=1&tlx=300000.0000&tly=200000.0000&brx=400000.0000&bry=300000.0000&n=j&sli=liver01"
                              << QByteArray("-U");
    QTest::newRow("point job") << "cjf&stl1=24&stl2=0&sts1=378350.0000,251625.0000;&sts2=&n=j&sli=liver01"
                               << QByteArray("-U");
}

// A command acts only on a string that fits one of the login's session tickets on that
// microscope and while the login holds control time there; a refused one changes nothing.
void TestSimHostStage::refusals()
{
    QFETCH(QString, tail);
    QFETCH(QByteArray, afterControl);
    TestHost host;
    World& w = host->world();
    const QString tall = QStringLiteral("tall"), guest = QStringLiteral("guest");
    w.scope(tall)->schedule.clear();
    grant(w, tall);
    grant(w, tall, QStringLiteral("alice"));
    const quint32 ticket = w.issueTicket(QStringLiteral("session"), guest, tall);
    const SimStage::Position before = w.stagePosition(tall);
    const qsizetype jobs = w.jobs.size();

    const QList<QPair<QString, QString>> refused = {
        {"no string", QString()},
        {"empty string", QString("")},
        {"wrong password", HostAuth::requestString(QStringLiteral("guess"), ticket, 0x1234)},
        {"another login's ticket", host.auth(QStringLiteral("alice"), tall)},
        {"another microscope's ticket", host.auth(guest, QStringLiteral("dark"))},
        {"not hexadecimal", QStringLiteral("5652e7dz")},
    };
    for (const auto& [why, auth] : refused)
        QVERIFY2(get(host, command(guest, tall, tail, auth)).body == "-N", qPrintable(why));
    const QString good = HostAuth::requestString(QStringLiteral("guest"), ticket, 0x2a17);
    w.scope(tall)->schedule.last().start = w.now() - 7200;      // alice's time ended ...
    w.scope(tall)->schedule.first().start = w.now() - 7200;     // ... and guest's
    QCOMPARE(get(host, command(guest, tall, tail, good)).body, afterControl);
    QCOMPARE(w.stagePosition(tall).x, before.x);
    QCOMPARE(w.stagePosition(tall).z, before.z);
    QCOMPARE(w.jobs.size(), jobs);

    w.scope(tall)->schedule.first().start = w.now() - 100;
    const QByteArray granted = get(host, command(guest, tall, tail, good)).body;
    QVERIFY2(granted.startsWith('+') || granted.startsWith('*'), granted.constData());
    // The worked example: "secret" on ticket 5a17c3e9 with r = 1234.
    QCOMPARE(HostAuth::requestString(QStringLiteral("secret"), 0x5a17c3e9, 0x1234), QStringLiteral("5652e7dd"));
}

// "b=y" answers once the stage is in place, while other requests are served meanwhile; later
// polls, frames and insets see the new place, and the inset nearest focus is the sharpest.
void TestSimHostStage::blockingMoveAnswersInPlace()
{
    TestHost host;
    World& w = host->world();
    const QString dark = QStringLiteral("dark"), guest = QStringLiteral("guest");
    grant(w, dark);
    const QString auth = host.auth(guest, dark);
    w.stageSettings.xySpeed = 100000.0;             // 40000 units take 400 ms
    const SimStage::Position start = w.stagePosition(dark);
    const double tx = start.x + 40000;

    QStringList order;
    QElapsedTimer clock;
    clock.start();
    qint64 blockingMs = -1;
    bool inPlace = false;
    QNetworkReply* blocking = nam().get(QNetworkRequest(QUrl(host.url(command(
        guest, dark, QStringLiteral("m&b=y&x=%1&y=%2&z=%3").arg(tx, 0, 'f', 6).arg(start.y, 0, 'f', 6).arg(start.z, 0, 'f', 6),
        auth)))));
    connect(blocking, &QNetworkReply::finished, this, [&] {
        blockingMs = clock.elapsed();
        inPlace = w.stageAtRest(dark) && w.stagePosition(dark).x == tx;
        order << QString::fromLatin1(blocking->readAll());
    });
    QTRY_COMPARE(host->count(QStringLiteral("iserv:m")), 1);
    const Got poll = get(host, command(guest, dark, QStringLiteral("w"), auth));
    order << QString::fromLatin1(poll.body);
    QTRY_VERIFY_WITH_TIMEOUT(blockingMs >= 0, 5000);
    blocking->deleteLater();

    QCOMPARE(order.size(), 2);
    QVERIFY2(order[0].startsWith(QLatin1String("*MV ")), qPrintable(order[0]));
    QCOMPARE(order[1], QStringLiteral("+OK %1 %2 %3").arg(tx, 0, 'f', 0).arg(start.y, 0, 'f', 0).arg(start.z, 0, 'f', 0));
    QVERIFY2(blockingMs >= 399 && inPlace, qPrintable(QString::number(blockingMs)));
    QCOMPARE(get(host, command(guest, dark, QStringLiteral("w"), auth)).body, order[1].toLatin1());
    QCOMPARE(get(host, command(guest, dark, QStringLiteral("p&ps=1"), QString())).body,
             ImageRoutes::jpeg(ImageRoutes::videoFrame(w, dark, 1)));

    // A focus stack of seven levels 13 um apart whose fourth lies 4 um above the focus height.
    w.stageSettings = StageSettings::fast();
    const QPointF p = tissuePoint(w, dark);
    QVERIFY(!p.isNull());
    const double focus = w.focusUnderStage(dark, p.x(), p.y());
    QList<double> sharpness;
    for (int k = -3; k <= 3; ++k) {
        const double z = focus + 40 + 130 * k;
        const QString level = QStringLiteral("m&b=y&x=%1&y=%2&z=%3").arg(p.x(), 0, 'f', 6).arg(p.y(), 0, 'f', 6).arg(z, 0, 'f', 6);
        QVERIFY(position(get(host, command(guest, dark, level, auth)).body).value_or(Position{'-', 0, 0, 0}).status == '+');
        const QImage inset = QImage::fromData(get(host, command(guest, dark, QStringLiteral("p&ps=1&x=16&y=30&inset=1"), QString())).body);
        QCOMPARE(inset.size(), QSize(168, 140));
        sharpness << detail(inset.convertToFormat(QImage::Format_RGB32));
    }
    const qsizetype sharpest = std::max_element(sharpness.begin(), sharpness.end()) - sharpness.begin();
    QVERIFY2(sharpest == 3 && sharpness[3] > 1.3 * std::max(sharpness[2], sharpness[4]),
             qPrintable(QStringLiteral("%1 %2 %3 %4").arg(sharpest).arg(sharpness[2]).arg(sharpness[3]).arg(sharpness[4])));
}

// "f=t" counts the seconds of the login's running control time; "f=rmSch" ends it within the
// grace time and bars scheduling that microscope for the ban time.
void TestSimHostStage::controlTimeAndCancellation()
{
    TestHost host;
    World& w = host->world();
    qint64 t = 1700000000;
    w.clock = [&t] { return t; };
    const QString tall = QStringLiteral("tall"), guest = QStringLiteral("guest");
    for (SimScope& s : w.scopes)
        s.schedule.clear();
    w.book(tall, {guest, t - 100, 1800});
    w.book(tall, {guest, t + 1700, 600});       // follows without a gap
    w.book(tall, {guest, t + 4000, 600});       // another, later
    auto time = [&] { return get(host, command(guest, tall, QStringLiteral("t"), QString())).body; };
    auto stage = [&] { return get(host, command(guest, tall, QStringLiteral("w"), host.auth(guest, tall))).body; };
    const QString login = QStringLiteral("&s=tall&l=guest");

    QCOMPARE(time(), QByteArray("2300"));
    QCOMPARE(get(host, command(guest, QStringLiteral("dark"), QStringLiteral("t"), QString())).body, QByteArray("0"));
    QCOMPARE(get(host, command(guest, tall, QStringLiteral("rmSch"), QStringLiteral("1234"))).body, QByteArray("-N"));
    QCOMPARE(get(host, command(guest, tall, QStringLiteral("rmSch"), host.auth(guest, tall))).body, QByteArray("+OK"));
    QCOMPARE(time(), QByteArray("30"));
    QCOMPARE(stage()[0], '+');
    QCOMPARE(get(host, "/cgi-bin/iserv?f=ticket" + login).body.left(4), QByteArray("+OK "));
    const quint32 sched = w.issueTicket(QStringLiteral("sched"), guest, tall);
    const QString schedAuth = HostAuth::requestString(QStringLiteral("guest"), sched, 0x77);
    for (const QString& path : {"/cgi-bin/iserv?f=sticket" + login, "/cgi-bin/iserv?f=schdnow" + login + "&auth=" + schedAuth,
                                "/cgi-bin/iserv?f=schdt&s=tall&date=" + QString::number(t + 7200) + "&win=600&l=guest&auth=" + schedAuth})
        QCOMPARE(get(host, path).body, QByteArray("-N"));

    const qint64 t0 = t;
    t = t0 + 30;
    QCOMPARE(time(), QByteArray("0"));
    QCOMPARE(stage(), QByteArray("-U"));
    QCOMPARE(get(host, "/cgi-bin/iserv?f=ticket" + login).body, QByteArray("-UNSCHEDULED"));
    QCOMPARE(get(host, command(guest, tall, QStringLiteral("rmSch"), host.auth(guest, tall))).body, QByteArray("-N"));
    t = t0 + 299;
    QCOMPARE(get(host, "/cgi-bin/iserv?f=sticket" + login).body, QByteArray("-N"));
    t = t0 + 300;
    QVERIFY(get(host, "/cgi-bin/iserv?f=sticket" + login).body.startsWith("+OK "));
    t = t0 + 1730;
    QCOMPARE(time(), QByteArray("0"));          // the reservation that followed went with it
    t = t0 + 4000;
    QCOMPARE(time(), QByteArray("600"));        // a later one of its own is kept
}

void TestSimHostStage::jobGridCount_data()
{
    QTest::addColumn<QRectF>("rect");       // corners in 0.1 um
    QTest::addColumn<int>("density");
    QTest::addColumn<qint64>("count");
    const QRectF a(QPointF(100000, 100000), QPointF(110000, 120000));
    QTest::newRow("one column, two rows") << a << 1 << qint64(2);
    QTest::newRow("step 3333") << a << 3 << qint64(28);
    QTest::newRow("wide, step 3333") << QRectF(QPointF(100000, 100000), QPointF(120000, 110000)) << 3 << qint64(28);
    QTest::newRow("far corner just past a line") << QRectF(QPointF(100000, 100000), QPointF(110000.0039, 120000)) << 1 << qint64(4);
    QTest::newRow("near corner truncated") << QRectF(QPointF(100000.9, 100000), QPointF(110000.5, 110000)) << 1 << qint64(2);
    QTest::newRow("equal x") << QRectF(QPointF(100000, 100000), QPointF(100000, 120000)) << 1 << qint64(0);
    QTest::newRow("reversed") << QRectF(QPointF(120000, 100000), QPointF(100000, 120000)) << 1 << qint64(0);
    QTest::newRow("density 0") << a << 0 << qint64(0);
    QTest::newRow("density 11") << a << 11 << qint64(0);
    QTest::newRow("far beyond the slide") << QRectF(QPointF(-1e30, -1e30), QPointF(1e30, 1e30)) << 10
                                          << qint64(2000000000) * 2000000000;
}

// The host counts a rectangle's grid by the client's rule, and lays exactly that many points.
void TestSimHostStage::jobGridCount()
{
    QFETCH(QRectF, rect);
    QFETCH(int, density);
    QFETCH(qint64, count);
    QCOMPARE(World::jobGridCount(rect.left(), rect.top(), rect.right(), rect.bottom(), density), count);
    if (count < 100)
        QCOMPARE(qint64(World::jobGrid(rect.left(), rect.top(), rect.right(), rect.bottom(), density).size()), count);
}

// A stored job is listed at once: its name for its owner, its tissue stacks with its slide and
// its blank points as null stacks, sorted by what the slide's picture shows.
void TestSimHostStage::jobsStoredAndListed()
{
    TestHost host;
    World& w = host->world();
    const QString tall = QStringLiteral("tall"), guest = QStringLiteral("guest");
    grant(w, tall);
    auto create = [&](const QString& tail) { return get(host, command(guest, tall, tail, host.auth(guest, tall))).body; };
    const QString box = QStringLiteral("&ld=1&tlx=178350.0000&tly=101625.0000&brx=578350.0000&bry=401625.0000");

    QCOMPARE(create("cj" + box + "&n=scan%20one&sli=liver01"), QByteArray("+OK"));
    QCOMPARE(lines(get(host, "/cgi-bin/icount?f=ju&l=guest").body), (QList<QByteArray>{"J1001", "J1002", "scan one"}));
    const Got stacks = get(host, "/cgi-bin/icount?f=jl&j=scan%20one&c=1");
    const Got nulls = get(host, "/cgi-bin/icount?f=sbl&s=scan%20one&c=1");
    const QList<QByteArray> red = lines(stacks.body), green = lines(nulls.body);
    QVERIFY(!red.isEmpty() && !green.isEmpty());
    QCOMPARE(red.size() + green.size(), 40 * 30);
    for (const QByteArray& line : red + green) {
        const QList<QByteArray> f = line.split(' ');
        QCOMPARE(f.size(), 3);
        QCOMPARE(f[0], QByteArray("liver01"));
        const QPointF p(f[1].toDouble(), f[2].toDouble());
        QCOMPARE(w.pictureShowsTissue(tall, QStringLiteral("liver01"), p), red.contains(line));
    }

    const QList<QPair<QString, QByteArray>> replies = {
        {"cj" + box + "&n=scan%20one&sli=liver01", "-D"},
        {"cjf&stl1=24&stl2=0&sts1=378350.0000,251625.0000;&sts2=&n=scan%20one&sli=liver01", "-D"},
        {"cj&ld=1&tlx=20000.0000&tly=20000.0000&brx=80000.0000&bry=80000.0000&n=glass&sli=liver01", "-E"},
        {"cj&ld=3&tlx=0.0000&tly=0.0000&brx=756700.0000&bry=503250.0000&n=all&sli=liver01", "<"},
        {"cj&ld=0" + box.mid(5) + "&n=d0&sli=liver01", "-E"},
        {"cj&ld=1&tlx=abc" + box.mid(box.indexOf("&tly")) + "&n=nan&sli=liver01", "-E"},
        {"cj" + box + "&n=elsewhere&sli=nosuch", "-E"},
        {"cj" + box + "&n=%20%20&sli=liver01", "-E"},
        {"cj" + box + "&n=two%0Alines&sli=liver01", "-E"},
        {"cjf&stl1=23&stl2=0&sts1=378350.0000,251625.0000;&sts2=&n=short&sli=liver01", "-E"},
        {"cjf&stl1=0&stl2=24&sts1=&sts2=378350.0000,251625.0000;&n=blank&sli=liver01", "-E"},
        {"cjf&stl1=6&stl2=0&sts1=1,2;3;&sts2=&n=torn&sli=liver01", "-E"},
        {"cjf&stl1=48&stl2=24&sts1=100000.0000,100000.0000;110000.0000,100000.0000;"
         "&sts2=120000.0000,100000.0000;&n=mine&sli=L0002", "+OK"},
    };
    for (const auto& [tail, reply] : replies)
        QVERIFY2(create(tail) == reply, qPrintable(tail));
    const SimJob* mine = w.job(QStringLiteral("mine"));
    QVERIFY(mine && mine->owner == guest && mine->slide == QLatin1String("L0002"));
    QCOMPARE(mine->stacks, (QList<QPointF>{{100000, 100000}, {110000, 100000}}));
    QCOMPARE(get(host, "/cgi-bin/icount?f=sbl&s=mine&c=1").body, QByteArray("L0002 120000.0 100000.0\n"));
    QCOMPARE(lines(get(host, "/cgi-bin/icount?f=ju&l=guest").body).last(), QByteArray("mine"));
    QCOMPARE(get(host, "/cgi-bin/icount?f=ju&l=nobody").body, QByteArray());

    QCOMPARE(get(host, "/cgi-bin/icount?f=ja&c=2").body, QByteArray("L0001\nL0002\nL0003\nL0004\n"));
    QCOMPARE(get(host, "/cgi-bin/icount?f=ja&c=1").body, QByteArray());
}

// Every job up to the point limit reaches the host whole, with the widest on-slide numbers, and
// one point more is "<", an answer rather than a transport error. The HTTP layer itself takes
// request lines many times longer.
void TestSimHostStage::longJobRequests()
{
    TestHost host;
    World& w = host->world();
    const QString tall = QStringLiteral("tall"), guest = QStringLiteral("guest");
    grant(w, tall);
    const QString point = QStringLiteral("756700.0000,503250.0000;");
    const int half = w.maxJobPoints / 2;
    auto job = [&](const QString& name, int blank) {
        const QString good = point.repeated(w.maxJobPoints - half), bad = point.repeated(blank);
        return command(guest, tall,
                       QStringLiteral("cjf&stl1=%1&stl2=%2&sts1=").arg(good.size()).arg(bad.size()) + good
                           + QStringLiteral("&sts2=") + bad + QStringLiteral("&n=") + name + QStringLiteral("&sli=liver01"),
                       host.auth(guest, tall));
    };
    const QString full = job(QStringLiteral("full"), half);
    const Got fits = get(host, full);
    QCOMPARE(fits.status, 200);
    QCOMPARE(fits.body, QByteArray("+OK"));
    QCOMPARE(w.job(QStringLiteral("full"))->stacks.size() + w.job(QStringLiteral("full"))->nullStacks.size(), w.maxJobPoints);
    const Got over = get(host, job(QStringLiteral("over"), half + 1));
    QCOMPARE(over.status, 200);
    QCOMPARE(over.body, QByteArray("<"));

    const QString pad = QStringLiteral("a").repeated(8 * full.size());
    const Got longest = get(host, QStringLiteral("/cgi-bin/iserv?f=t&l=guest&s=tall&pad=") + pad);
    QCOMPARE(longest.status, 200);
    QCOMPARE(host->requests(QStringLiteral("iserv:t")).last().value(QStringLiteral("pad")).size(), pad.size());
}

// "f=ca" adds the offset to the calibration in force and keeps it as the corrected file; on the
// slide placed off on "dark", the offset it is placed by makes the file true to the stage.
void TestSimHostStage::calibrationCorrections()
{
    TestHost host;
    World& w = host->world();
    const QString dark = QStringLiteral("dark"), heart = QStringLiteral("heart21");
    QCOMPARE(get(host, "/fiducials/heart21.dark.new").status, 404);
    const Fiducials base = *w.calibration(heart, dark);
    // The camera sees another place than the base file maps the stage to.
    const QPointF stage(SlideGeometry::kCentreX, SlideGeometry::kCentreY);
    const QPointF seen = base.stageToPixel(w.slidePoint(dark, heart, stage));
    QVERIFY((seen - base.stageToPixel(stage)).manhattanLength() > 20);

    const Got done = get(host, "/cgi-bin/icount?f=ca&xc=-16.0000&yc=11.0000&l=guest&sli=heart21&sc=dark");
    QCOMPARE(done.body, QByteArray("+OK"));
    const Got file = get(host, "/fiducials/heart21.dark.new");
    QCOMPARE(file.status, 200);
    QCOMPARE(file.body, base.shifted({-16, 11}).text());
    QVERIFY((w.calibration(heart, dark)->stageToPixel(stage) - seen).manhattanLength() < 0.5);

    // Corrections add up on the corrected file; "liver01" on "tall" starts from its own.
    QCOMPARE(get(host, "/cgi-bin/icount?f=ca&xc=2.0000&yc=-1.0000&l=guest&sli=heart21&sc=dark").body, QByteArray("+OK"));
    QCOMPARE(get(host, "/fiducials/heart21.dark.new").body, base.shifted({-14, 10}).text());
    const QByteArray liver = get(host, "/fiducials/liver01.tall.new").body;
    QCOMPARE(get(host, "/cgi-bin/icount?f=ca&xc=0.0000&yc=0.0000&l=guest&sli=liver01&sc=tall").body, QByteArray("+OK"));
    QCOMPARE(get(host, "/fiducials/liver01.tall.new").body, liver);
    QCOMPARE(get(host, "/fiducials/heart21").body, base.text());

    for (const char* query : {"xc=1.0000&yc=1.0000&l=guest&sli=nosuch&sc=dark", "xc=1.0000&yc=1.0000&l=guest&sli=heart21&sc=nosuch",
                              "xc=1.0000&yc=1.0000&l=guest&sc=dark"})
        QCOMPARE(get(host, QStringLiteral("/cgi-bin/icount?f=ca&") + query).body, QByteArray("-N"));
    for (const char* query : {"xc=nan&yc=1.0000&l=guest&sli=heart21&sc=dark", "xc=1.0000&yc=&l=guest&sli=heart21&sc=dark",
                              "xc=99999.0000&yc=1.0000&l=guest&sli=heart21&sc=dark"})
        QCOMPARE(get(host, QStringLiteral("/cgi-bin/icount?f=ca&") + query).body, QByteArray("-E"));
    QCOMPARE(get(host, "/fiducials/heart21.dark.new").body, base.shifted({-14, 10}).text());
}

QTEST_MAIN(TestSimHostStage)
#include "tst_simhost_stage.moc"
