// Booking in a zone east of UTC (Asia/Kolkata, UTC+05:30 all year): the entered local time must
// reach the host as its own epoch second, and the table shows local times.
#include "sched_support.h"

#include "Auth.h"

#include <QTest>

using namespace sched;

namespace {
const qint64 T0 = 1700000000;          // Wed Nov 15 03:43:20 2023 in Kolkata
const qint64 zoneOffset = 5 * 3600 + 30 * 60;     // checked below: the zone is in force
}

class TestKolkataBooking : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void clockOffsetIsTheServersLead();
    void bookingRequestDate_data();
    void bookingRequestDate();
    void tableShowsLocalTimes();
    void bookedSlotEnablesControl();
};

void TestKolkataBooking::initTestCase()
{
    QCOMPARE(QDateTime::fromSecsSinceEpoch(T0).offsetFromUtc(), int(zoneOffset));
}

void TestKolkataBooking::cleanup()
{
    Auth::setRandomSource({});
    Clock::setSource({});
    deleteDialogs();
}

void TestKolkataBooking::clockOffsetIsTheServersLead()
{
    // The zone's offset never enters the stored lead: equal clocks give 0, whatever the zone.
    TestHost host;
    FixedClock clock(host, T0);
    ReserveTimeWin d;
    d.setInfo(host.field().toLatin1().constData(), "tall", "alice", "secret", 60, T0);
    QCOMPARE(d.serverClockOffset(), qint64(0));
    d.setInfo(host.field().toLatin1().constData(), "tall", "alice", "secret", 60, T0 + 75);
    QCOMPARE(d.serverClockOffset(), qint64(75));
}

void TestKolkataBooking::bookingRequestDate_data()
{
    QTest::addColumn<qint64>("serverAhead");
    QTest::addColumn<qint64>("clientMovedOn");
    QTest::newRow("equal clocks") << qint64(0) << qint64(0);
    QTest::newRow("host 10 min ahead") << qint64(600) << qint64(0);
    QTest::newRow("host 1 h behind, booked later") << qint64(-3600) << qint64(5000);
}

void TestKolkataBooking::bookingRequestDate()
{
    QFETCH(qint64, serverAhead);
    QFETCH(qint64, clientMovedOn);
    TestHost host;
    FixedClock clock(host, T0);
    host->scriptReply("iserv:sticket", 200, "+OK 5a17c3e9\n");
    host->scriptReply("iserv:schdt", 200, "+OK 100 600\n");
    host->scriptReply("iserv:getschd", 200, "");
    ReserveTimeWin d;
    d.setInfo(host.field().toLatin1().constData(), "tall", "alice", "secret", 60, T0 + serverAhead);
    // The user books a while after the dialog opened; the host's lead stays the same.
    clock.set(T0 + clientMovedOn);

    // 09:00 in Kolkata on 15 Nov 2023 is 03:30 UTC, epoch second 1700019000.
    d.dateTimeEdit->setDateTime(QDateTime(QDate(2023, 11, 15), QTime(9, 0)));
    d.durationSpinBox->setValue(10);
    BoxCloser boxes;
    d.reserveBtn->click();
    QVERIFY(boxes.waitFor(1));
    QCOMPARE(boxes.seen[0].title, QStringLiteral("Scheduling Successful"));
    const auto schdt = host->requests("iserv:schdt");
    QCOMPARE(schdt.size(), 1);
    QCOMPARE(schdt[0].value("date").toLongLong(), 1700019000 + serverAhead);
    QCOMPARE(schdt[0].value("win"), QStringLiteral("600"));
}

void TestKolkataBooking::tableShowsLocalTimes()
{
    TestHost host;
    FixedClock clock(host, T0);
    host->scriptReply("iserv:getschd", 200, "1700038800 5400\n");
    ReserveTimeWin d;
    d.setInfo(host.field().toLatin1().constData(), "tall", "alice", "secret", 60, T0);
    d.refreshBtn_clicked();
    QTRY_COMPARE(d.scopeLabel->text(), QStringLiteral("Schedule for Scope: tall"));
    QCOMPARE(d.schedTable->item(0, 0)->text(), QStringLiteral("Wed Nov 15 14:30:00 2023"));
    QCOMPARE(d.schedTable->item(0, 2)->text(), QStringLiteral("Wed Nov 15 16:00:00 2023"));
}

void TestKolkataBooking::bookedSlotEnablesControl()
{
    TestHost host;
    FixedClock clock(host, T0);
    sched::bookedSlotEnablesControl(host, clock, 0);
}

QTEST_MAIN(TestKolkataBooking)
#include "tz_Asia+Kolkata_booking.moc"
