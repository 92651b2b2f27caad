// Control time: the countdown and its corrections, the expiry, and giving the schedule back.
#include "ControlSession.h"
#include "TimeReplies.h"

#include <QComboBox>
#include <QMenuBar>
#include <QTest>

namespace {

const QString expiryText = QStringLiteral(
    "\nYour control time has expired. If you wish to continue\ncontrolling the microscope, you may "
    "choose \"New Session\"\nfrom the File menu to schedule additional time.");

// One second of the countdown, as the running timer gives it (the fixture holds the timer: no
// other tick comes).
void tick(Session& s)
{
    QVERIFY(QMetaObject::invokeMethod(&s.controlTimer, "timeout", Qt::DirectConnection));
}

} // namespace

class TestSessionTime : public QObject
{
    Q_OBJECT
private slots:
    void remainingSecondsReader_data();
    void remainingSecondsReader();
    void countdown_data();
    void countdown();
    void readsThatStartOrRestartNothing();
    void cancel_data();
    void cancel();
    void cancelEndsControlOnHost();
};

void TestSessionTime::remainingSecondsReader_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("length");        // -1: the whole reply
    QTest::addColumn<bool>("read");
    QTest::addColumn<int>("seconds");
    QTest::newRow("plain") << QByteArray("1795\n") << -1 << true << 1795;
    QTest::newRow("leading zero is decimal") << QByteArray("095") << -1 << true << 95;
    QTest::newRow("0x is not hexadecimal") << QByteArray("0x1E") << -1 << true << 0;
    QTest::newRow("negative") << QByteArray(" -12") << -1 << true << -12;
    QTest::newRow("word") << QByteArray("-N") << -1 << false << 0;
    QTest::newRow("empty") << QByteArray() << -1 << false << 0;
    // The number must lie inside the received bytes.
    QTest::newRow("digits past the end") << QByteArray("  600") << 2 << false << 0;
    QTest::newRow("huge is clamped") << QByteArray("99999999999") << -1 << true << std::numeric_limits<int>::max();
    QTest::newRow("very negative is clamped") << QByteArray("-99999999999") << -1 << true
                                              << std::numeric_limits<int>::min() + 1;
}

void TestSessionTime::remainingSecondsReader()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, length);
    QFETCH(bool, read);
    QFETCH(int, seconds);
    const auto v = parseRemainingSeconds(reply.constData(), length < 0 ? int(reply.size()) : length);
    QCOMPARE(v.has_value(), read);
    if (read)
        QCOMPARE(*v, seconds);
}

void TestSessionTime::countdown_data()
{
    QTest::addColumn<QByteArray>("first");      // the first "f=t" reply
    QTest::addColumn<QByteArray>("reread");     // the later ones; empty: the count the client has
    QTest::addColumn<QString>("firstLabel");
    QTest::addColumn<int>("ticks");             // the tick that expires
    QTest::addColumn<QList<int>>("rereadAt");   // counts shown when "f=t" goes out again
    QTest::newRow("95") << QByteArray("95") << QByteArray() << "01:34" << 95 << QList<int>{90, 60, 30};
    QTest::newRow("095 is 95") << QByteArray("095\n") << QByteArray() << "01:34" << 95 << QList<int>{90, 60, 30};
    QTest::newRow("re-reads without a number") << QByteArray("95") << QByteArray("soon") << "01:34" << 95
                                               << QList<int>{90, 60, 30};
    QTest::newRow("31") << QByteArray("31") << QByteArray() << "00:30" << 31 << QList<int>{30};
    QTest::newRow("0") << QByteArray("0") << QByteArray() << "00:00" << 1 << QList<int>{};
    QTest::newRow("negative") << QByteArray("-40") << QByteArray() << "00:00" << 1 << QList<int>{};
}

void TestSessionTime::countdown()
{
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, reread);
    QFETCH(QString, firstLabel);
    QFETCH(int, ticks);
    QFETCH(QList<int>, rereadAt);

    ControlSession c;
    Session* s = nullptr;
    int asked = 0;
    c.host->script(QStringLiteral("iserv:t"), [&](const HostRequest&) {
        ++asked;
        if (asked == 1)
            return HostReply::text(first);
        return HostReply::text(reread.isEmpty() ? QByteArray::number(s->secondsLeft) : reread);
    });
    QVERIFY(c.start());
    s = c.s;
    QCOMPARE(c.host->count(QStringLiteral("iserv:t")), 1);
    QCOMPARE(c.host->requests(QStringLiteral("iserv:t")).first().rawQuery, QByteArray("l=guest&s=tall&f=t"));
    QVERIFY(s->controlTimer.isActive());
    QCOMPARE(s->controlTimer.interval(), 1000);
    QCOMPARE(s->controlTimer.timerType(), Qt::PreciseTimer);
    QVERIFY(!s->controlTimer.isSingleShot());
    QVERIFY(c.controlsEnabled(true));

    QList<int> sentAt;
    for (int i = 1; i <= ticks; ++i) {
        const int before = c.host->count(QStringLiteral("iserv:t"));
        tick(*s);
        if (i == 1) {
            QCOMPARE(s->timeLabel->text(), firstLabel);
            QVERIFY(s->timeLabel->font().bold());
        }
        if (i < ticks) {
            QVERIFY2(!s->expired, qPrintable(QString::number(i)));
            QVERIFY(c.boxes.seen.isEmpty());
        }
        QVERIFY(QTest::qWaitFor([s] { return !s->timeConn.isBusy(); }));
        if (c.host->count(QStringLiteral("iserv:t")) > before)
            sentAt << s->timeLabel->text().section(QLatin1Char(':'), 0, 0).toInt() * 60
                          + s->timeLabel->text().section(QLatin1Char(':'), 1).toInt();
    }
    QCOMPARE(sentAt, rereadAt);

    // Expired: the box, the controls and the size list off; the rest stays usable.
    QVERIFY(s->expired);
    QCOMPARE(s->secondsLeft, 0);
    QCOMPARE(s->timeLabel->text(), QStringLiteral("00:00"));
    QVERIFY(!s->controlTimer.isActive());
    QVERIFY(c.boxes.waitFor(1));
    QCOMPARE(c.boxes.seen.size(), 1);
    QCOMPARE(c.boxes.seen.first().icon, QMessageBox::Warning);
    QCOMPARE(c.boxes.seen.first().title, QStringLiteral("Time Expired"));
    QCOMPARE(c.boxes.seen.first().text, expiryText);
    QVERIFY(s->sysInfoBox->toPlainText().contains(expiryText.mid(1)));
    QVERIFY(c.controlsEnabled(false));
    QVERIFY(!s->videoWindow->videoResComboBox->isEnabled());
    for (QWidget* w : QList<QWidget*>{s->xCoord, s->yCoord, s->zCoord, s->jobNameEdit, s->createJobButton,
                                      s->displayJobButton, s->displayLibButton, s->joblistBox, s->curSlideButton,
                                      s->menuBar(), s->frameCountSelector})
        QVERIFY2(w->isEnabled(), qPrintable(w->objectName()));
    QVERIFY(s->newSessionAction->isEnabled());
    // No further re-read once expired.
    QCOMPARE(c.host->count(QStringLiteral("iserv:t")), 1 + int(rereadAt.size()));
}

void TestSessionTime::readsThatStartOrRestartNothing()
{
    // A first read that fails, or that holds no number: its line, no tick ever runs, and the
    // controls stay usable.
    for (const auto& [status, body] : {std::pair<int, QByteArray>(500, "1800"),
                                       std::pair<int, QByteArray>(200, "<html>try later</html>"),
                                       std::pair<int, QByteArray>(200, QByteArray("\0" "1800", 5))}) {
        ControlSession c;
        c.host->scriptReply(QStringLiteral("iserv:t"), status, body);
        QVERIFY(c.start());
        QVERIFY(c.s->sysInfoBox->toPlainText().contains(
            QStringLiteral("***Error - Unable to query server for remaining control time")));
        QVERIFY(!c.s->controlTimer.isActive());
        QVERIFY(c.s->timeLabel->text().contains(QStringLiteral("Retrieving time...")));
        QVERIFY(!c.s->expired);
        QVERIFY(c.controlsEnabled(true));
        QVERIFY(c.boxes.seen.isEmpty());
    }
    {
        // A re-read still under way when the count runs out answers after the expiry: it is
        // ignored, so the count does not start again and the timer is not connected twice.
        ControlSession c;
        int asked = 0;
        bool answer = false;            // the re-read's reply is held until then
        c.host->script(QStringLiteral("iserv:t"), [&](const HostRequest&) {
            HostReply r = HostReply::text(++asked == 1 ? "31" : "600");
            if (asked > 1)
                r.ready = [&answer](HostReply&) { return answer; };
            return r;
        });
        QVERIFY(c.start());
        Session& s = *c.s;
        for (int i = 0; i < 31; ++i)
            tick(s);
        QVERIFY(s.expired);
        QVERIFY(s.timeConn.isBusy());
        answer = true;
        QVERIFY(c.settle());
        QCOMPARE(asked, 2);
        QCOMPARE(s.secondsLeft, 0);
        QVERIFY(!s.controlTimer.isActive());
        QVERIFY(s.expired);
        QVERIFY(c.controlsEnabled(false));
        QCOMPARE(s.timeLabel->text(), QStringLiteral("00:00"));
        QVERIFY(c.boxes.waitFor(1));
        QCOMPARE(c.boxes.titles(), QStringList{QStringLiteral("Time Expired")});
    }
}

void TestSessionTime::cancel_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("+") << 200 << QByteArray("+OK") << true;
    QTest::newRow("refused") << 200 << QByteArray("-N") << false;
    QTest::newRow("error page") << 500 << QByteArray("<!DOCTYPE html><html>Internal error</html>") << false;
    // A failed transfer is no answer, whatever its first byte.
    QTest::newRow("error starting with +") << 502 << QByteArray("+ proxy error") << false;
}

void TestSessionTime::cancel()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(bool, accepted);

    ControlSession c;
    c.host->scriptReply(QStringLiteral("iserv:t"), 200, "1800");
    c.host->scriptReply(QStringLiteral("iserv:rmSch"), status, body);
    QVERIFY(c.start());
    Session& s = *c.s;
    s.neighborButton->setEnabled(false);       // controls stay as they are, whatever they are
    s.cancelButton->click();
    QVERIFY(!s.neighborButton->isEnabled() && s.cancelButton->isEnabled() && s.focusStackButton->isEnabled());
    QVERIFY(c.boxes.waitFor(1));
    QVERIFY(c.settle());

    const auto sent = c.host.queries(QStringLiteral("iserv:rmSch"));
    QCOMPARE(sent.size(), 1);
    QVERIFY(sent.first().startsWith("l=guest&s=tall&f=rmSch&auth="));
    QVERIFY(sent.first().size() > int(qstrlen("l=guest&s=tall&f=rmSch&auth=")));
    QCOMPARE(c.boxes.seen.size(), 1);
    const BoxCloser::Box box = c.boxes.seen.first();
    if (accepted) {
        QCOMPARE(box.icon, QMessageBox::Information);
        QCOMPARE(box.title, QStringLiteral("Schedule cancelled."));
        QCOMPARE(box.text, QStringLiteral("Your current schedule for \"tall\" scope will be cancelled within 30 "
                                          "seconds. \nThe server will reject you as unauthorized for scheduling "
                                          "for at least five minutes."));
    } else {
        QCOMPARE(box.icon, QMessageBox::Warning);
        QCOMPARE(box.title, QStringLiteral("Cancellation failed."));
        QCOMPARE(box.text, QStringLiteral("The server cannot cancel your schedule at the meantime."));
    }
    // The countdown runs on and the controls are as they were.
    QVERIFY(s.controlTimer.isActive());
    QVERIFY(!s.expired);
    QVERIFY(!s.neighborButton->isEnabled() && s.cancelButton->isEnabled());
}

void TestSessionTime::cancelEndsControlOnHost()
{
    ControlSession c;
    QVERIFY(c.start());
    Session& s = *c.s;
    QVERIFY(s.secondsLeft > 1700);
    s.cancelButton->click();
    QVERIFY(c.boxes.waitFor(1));
    QCOMPARE(c.boxes.titles(), QStringList{QStringLiteral("Schedule cancelled.")});

    // Half a minute later on the host's clock, the next re-read finds the time over.
    c.host->world().clockOffset += 30;
    const int reads = c.host->count(QStringLiteral("iserv:t"));
    for (int i = 0; i < 31 && c.host->count(QStringLiteral("iserv:t")) == reads; ++i) {
        tick(s);
        QVERIFY(QTest::qWaitFor([&s] { return !s.timeConn.isBusy(); }));
    }
    QCOMPARE(c.host->count(QStringLiteral("iserv:t")), reads + 1);
    QVERIFY(s.secondsLeft <= 0);
    QVERIFY(!s.expired);
    tick(s);
    QVERIFY(s.expired);
    QVERIFY(c.boxes.waitFor(2));
    QCOMPARE(c.boxes.seen.last().title, QStringLiteral("Time Expired"));
}

QTEST_MAIN(TestSessionTime)
#include "tst_session_time.moc"
