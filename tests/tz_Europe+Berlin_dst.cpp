// Booking across a change of daylight saving time (Europe/Berlin, 28 March 2021: at 01:00 UTC
// the clocks went from 02:00 CET to 03:00 CEST). The entered local time must reach the host as
// its own epoch second however the zone's offset changed between opening the dialog and booking.
#include "sched_support.h"

#include "Auth.h"

#include <QTest>

using namespace sched;

class TestBerlinDst : public QObject
{
    Q_OBJECT
private slots:
    void cleanup()
    {
        Clock::setSource({});
        deleteDialogs();
    }
    void bookingAcrossTheChange_data();
    void bookingAcrossTheChange();
};

void TestBerlinDst::bookingAcrossTheChange_data()
{
    QTest::addColumn<qint64>("opened");
    QTest::addColumn<qint64>("booked");
    const qint64 change = 1616893200;       // 2021-03-28 01:00:00 UTC
    QTest::newRow("opened before, booked after the change") << change - 60 << change + 60;
    QTest::newRow("both after the change") << change + 3600 << change + 7200;
    QTest::newRow("both before the change") << change - 7200 << change - 3600;
    // The UTC wall clock read as a local time crosses its own change two hours later.
    QTest::newRow("around 03:00 UTC") << change + 2 * 3600 - 60 << change + 2 * 3600 + 60;
}

void TestBerlinDst::bookingAcrossTheChange()
{
    QFETCH(qint64, opened);
    QFETCH(qint64, booked);
    TestHost host;
    FixedClock clock(host, opened);
    host->scriptReply("iserv:sticket", 200, "+OK 5a17c3e9\n");
    host->scriptReply("iserv:schdt", 200, "+OK 100 600\n");
    host->scriptReply("iserv:getschd", 200, "");
    ReserveTimeWin d;
    d.setInfo(host.field().toLatin1().constData(), "tall", "alice", "secret", 60, opened);
    clock.set(booked);

    // 12:00 CEST on 28 March 2021 is 10:00 UTC.
    d.dateTimeEdit->setDateTime(QDateTime(QDate(2021, 3, 28), QTime(12, 0)));
    BoxCloser boxes;
    d.reserveBtn->click();
    QVERIFY(boxes.waitFor(1));
    const auto schdt = host->requests("iserv:schdt");
    QCOMPARE(schdt.size(), 1);
    QCOMPARE(schdt[0].value("date").toLongLong(), qint64(1616925600));
}

QTEST_MAIN(TestBerlinDst)
#include "tz_Europe+Berlin_dst.moc"
