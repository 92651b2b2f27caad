// Scheduling dialog: its clock and bounds, the schedule table and the booking of a time slot (TZ=UTC).
#include "sched_support.h"

#include "Auth.h"
#include "Replies.h"

#include <QSignalSpy>
#include <QTest>

using namespace sched;

namespace {

const qint64 T0 = 1700000000;          // Tue Nov 14 22:13:20 2023 UTC

const char* const overlapText =
    "The time slot you requested overlaps with an existing reservation.\n"
    "Please adjust your starting or duration times. Also, refreshing the\n"
    "schedule may show new reservations that are blocking yours.";
const char* const rtwFailure =
    "Error connecting to the Kelvry server.\nPlease contact the server administrator. (file rtw)";

// A dialog for "handsome" on the test host, as the log-in dialog would hand it over.
std::unique_ptr<ReserveTimeWin> dialogFor(TestHost& host, const char* password, qint64 serverTime, int maxMinutes = 90)
{
    auto d = std::make_unique<ReserveTimeWin>();
    d->setInfo(host.field().toLatin1().constData(), "handsome", "alice", password, maxMinutes, serverTime);
    return d;
}

// A test host on a clock fixed at T0, and alice's dialog for "handsome" on it.
struct Sched
{
    explicit Sched(qint64 serverTime = T0) : d(dialogFor(host, "secret", serverTime)) {}
    TestHost host;
    FixedClock clock{host, T0};
    BoxCloser boxes;
    std::unique_ptr<ReserveTimeWin> d;
};

bool loadSchedule(ReserveTimeWin& d)
{
    d.refreshBtn_clicked();
    if (d.scopeLabel->text() != QLatin1String("Downloading latest schedule..."))
        return false;
    return QTest::qWaitFor([&] { return d.scopeLabel->text() == QLatin1String("Schedule for Scope: handsome"); }, 5000);
}

// Presses "Reserve" and returns the message box that follows (an empty one if none opens).
BoxCloser::Box reserve(ReserveTimeWin& d, BoxCloser& boxes)
{
    const int before = int(boxes.seen.size());
    d.reserveBtn->click();
    return boxes.waitFor(before + 1) ? boxes.seen.last() : BoxCloser::Box{};
}

QStringList rowTexts(ReserveTimeWin& d, int row)
{
    QStringList out;
    for (int c = 0; c < 3; ++c)
        out << (d.schedTable->item(row, c) ? d.schedTable->item(row, c)->text() : QStringLiteral("<none>"));
    return out;
}

} // namespace

class TestReserveTimeWin : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { Auth::setRandomSource({}); }
    void setInfoBoundsAndOffset();
    void scheduleTable();
    void scheduleLineRules();
    void bookingRequestIsExact();
    void reservationReplies();
    void ticketProblems();
    void ticketAtItsOffset();
    void busyRequests();
    void bookingAgainstHost();
};

void TestReserveTimeWin::setInfoBoundsAndOffset()
{
    Sched t(T0 + 42);
    QCOMPARE(t.d->dateTimeEdit->dateTime().toSecsSinceEpoch(), T0);
    QCOMPARE(t.d->scopeLabel->text(), QStringLiteral("Schedule for Scope: handsome"));
    t.d->durationSpinBox->setValue(500);
    QCOMPARE(t.d->durationSpinBox->value(), 90);
    QCOMPARE(t.d->serverClockOffset(), qint64(42));

    // Epoch seconds beyond 2038 keep their value.
    const qint64 late = qint64(1) << 33;
    QCOMPARE(dialogFor(t.host, "secret", late)->serverClockOffset(), late - T0);

    // A negative maximum from the host allows no length but 0.
    auto d2 = dialogFor(t.host, "secret", T0, -5);
    QVERIFY(d2->durationSpinBox->minimum() == 0 && d2->durationSpinBox->maximum() == 0);
}

void TestReserveTimeWin::scheduleTable()
{
    Sched t;
    // The table shows exactly the reservations of each reply: it grows and shrinks.
    for (const QByteArray& reply : {QByteArray("1700000000 1800\n1700003600 1800\n1700007200 1800\n"),
                                    QByteArray("1700000000 1800\n1700003600 1800\n")}) {
        t.host->scriptReply("iserv:getschd", 200, reply);
        QVERIFY(loadSchedule(*t.d));
        QCOMPARE(t.d->schedTable->rowCount(), int(reply.count('\n')));
    }
    QCOMPARE(rowTexts(*t.d, 1), QStringList({"Tue Nov 14 23:13:20 2023", "30:00", "Tue Nov 14 23:43:20 2023"}));
    QCOMPARE(t.host.queries("iserv:getschd").last(), QByteArray("f=getschd&s=handsome"));

    // A failed download is reported and keeps the table.
    t.host->scriptReply("iserv:getschd", 404, "1700009999 1\n");
    QVERIFY(loadSchedule(*t.d));
    QCOMPARE(t.boxes.titles(), QStringList{"Connection Failure"});
    QCOMPARE(t.boxes.seen[0].icon, QMessageBox::Warning);
    QCOMPARE(t.boxes.seen[0].text, QString::fromLatin1(rtwFailure));
    QCOMPARE(rowTexts(*t.d, 1).at(0), QStringLiteral("Tue Nov 14 23:13:20 2023"));

    // An empty schedule empties the cells and keeps the rows.
    t.host->scriptReply("iserv:getschd", 200, "");
    QVERIFY(loadSchedule(*t.d));
    QCOMPARE(t.d->schedTable->rowCount(), 2);
    QCOMPARE(rowTexts(*t.d, 0), QStringList({"<none>", "<none>", "<none>"}));
}

void TestReserveTimeWin::scheduleLineRules()
{
    Sched t;
    struct Case { QByteArray reply; QList<QStringList> rows; };
    const QList<Case> cases = {
        // Only line without a duration: 600 s.
        {"1700000000\n", {{"Tue Nov 14 22:13:20 2023", "10:00", "Tue Nov 14 22:23:20 2023"}}},
        // A later line without a duration keeps the one before it.
        {"1700000000 59\n1700003600\n",
         {{"Tue Nov 14 22:13:20 2023", "0:59", "Tue Nov 14 22:14:19 2023"},
          {"Tue Nov 14 23:13:20 2023", "0:59", "Tue Nov 14 23:14:19 2023"}}},
        // A line without a duration does not take the next line's start as its duration.
        {"1700000000\n1700003600 5400\n",
         {{"Tue Nov 14 22:13:20 2023", "10:00", "Tue Nov 14 22:23:20 2023"},
          {"Tue Nov 14 23:13:20 2023", "90:00", "Wed Nov 15 00:43:20 2023"}}},
        // Text after the last line break and lines without a start fill no row.
        {"\nnone\n1700000000 60\n1700003600 60",
         {{"Tue Nov 14 22:13:20 2023", "1:00", "Tue Nov 14 22:14:20 2023"}}},
    };
    for (const Case& c : cases) {
        t.host->scriptReply("iserv:getschd", 200, c.reply);
        QVERIFY(loadSchedule(*t.d));
        QCOMPARE(t.d->schedTable->rowCount(), int(c.rows.size()));
        for (int r = 0; r < c.rows.size(); ++r)
            QCOMPARE(rowTexts(*t.d, r), c.rows.at(r));
    }

    // A flood of short lines fills no more rows than the table takes.
    t.host->scriptReply("iserv:getschd", 200, QByteArray("1\n").repeated(MaxScheduleRows + 1));
    QVERIFY(loadSchedule(*t.d));
    QCOMPARE(t.d->schedTable->rowCount(), MaxScheduleRows);
}

void TestReserveTimeWin::bookingRequestIsExact()
{
    // The host's clock runs an hour ahead of the client's.
    Sched t(T0 + 3600);
    Auth::setRandomSource([] { return quint32(0x1234); });
    t.host->scriptReply("iserv:sticket", 200, "+OK 5a17c3e9\n");
    t.host->scriptReply("iserv:schdt", 200, "+OK 3540 5400\n");
    QSignalSpy done(t.d.get(), &ReserveTimeWin::schedDone);
    t.d->dateTimeEdit->setDateTime(QDateTime(QDate(2023, 11, 15), QTime(9, 0)));
    t.d->durationSpinBox->setValue(90);
    int emittedBeforeBox = -1;
    t.boxes.onBox = [&](const BoxCloser::Box&) { emittedBeforeBox = int(done.count()); };
    t.d->reserveBtn->click();
    QVERIFY(t.boxes.waitFor(1));

    QCOMPARE(t.host.queries("iserv:sticket"), QList<QByteArray>{"f=sticket&s=handsome&l=alice"});
    // 09:00 UTC on 15 Nov 2023 is 1700038800; on the host's clock an hour later. Password
    // "secret", ticket 0x5a17c3e9 and r = 0x1234 give the request string 5652e7dd.
    QCOMPARE(t.host.queries("iserv:schdt"),
             QList<QByteArray>{"f=schdt&s=handsome&date=1700042400&win=5400&l=alice&auth=5652e7dd"});

    // The success box (its texts are checked with the other replies) comes after the signal.
    QCOMPARE(t.boxes.seen[0].icon, QMessageBox::Information);
    QCOMPARE(emittedBeforeBox, 1);
    QCOMPARE(done.count(), 1);
    QCOMPARE(done[0].at(0).value<long>(), 3540L);
    QCOMPARE(done[0].at(1).value<long>(), 5400L);
    // The schedule is downloaded again after the box.
    QTRY_COMPARE(t.host->count("iserv:getschd"), 1);
}

void TestReserveTimeWin::reservationReplies()
{
    struct Case { int status; QByteArray reply; QString title, text; bool booked, reload; };
    const QString refused = QStringLiteral("The server cannot allocate you a session ticket currently.\n"
                                           "Please adjust any errors and try again later.");
    const QList<Case> cases = {
        {200, "-C", "Scheduling Problem", overlapText, false, false},
        {200, "-N\n", "Authorization Problem", refused, false, false},
        {200, "-X 10 600", "Scheduling Problem", "The server refused the reservation.", false, false},
        // Not a refusal, but without both numbers: it is not known whether the slot was booked.
        {200, "", "Connection Failure", rtwFailure, false, true},
        {200, "+OK 60", "Connection Failure", rtwFailure, false, true},
        {500, "+OK 10 600", "Connection Failure", rtwFailure, false, false},
        {200, "+BOOKED_WITH_A_LONG_STATUS_WORD 10 600\n", "Scheduling Successful",
         "The time slot you requested has been successfuly reserved.", true, true},
    };
    Sched t;
    t.host->scriptReply("iserv:sticket", 200, "+OK 1c0ffee\n");
    t.host->scriptReply("iserv:getschd", 200, "");
    QSignalSpy done(t.d.get(), &ReserveTimeWin::schedDone);
    for (const Case& c : cases) {
        t.host->scriptReply("iserv:schdt", c.status, c.reply);
        t.host->clearLog();
        done.clear();
        const BoxCloser::Box box = reserve(*t.d, t.boxes);
        if (c.reload)       // after the box
            QTRY_COMPARE(t.host->count("iserv:getschd"), 1);
        QTest::qWait(100);
        QVERIFY2(box.title == c.title && box.text == c.text, c.reply.constData());
        QCOMPARE(done.count(), c.booked ? 1 : 0);
        QCOMPARE(t.host->count("iserv:getschd"), c.reload ? 1 : 0);
    }
    QCOMPARE(done[0].at(0).value<long>(), 10L);
    QCOMPARE(done[0].at(1).value<long>(), 600L);
    QCOMPARE(t.boxes.seen.size(), cases.size());
}

void TestReserveTimeWin::ticketProblems()
{
    Sched t;
    t.host->scriptReply("iserv:schdt", 200, "+OK 10 600\n");
    t.host->scriptReply("iserv:getschd", 200, "");
    QSignalSpy done(t.d.get(), &ReserveTimeWin::schedDone);

    // A long granted ticket first, so the request object's buffer holds its digits.
    t.host->scriptReply("iserv:sticket", 200, "+OK 5a17c3e9\n");
    QCOMPARE(reserve(*t.d, t.boxes).title, QStringLiteral("Scheduling Successful"));
    for (const QByteArray& r : {QByteArray("-N"), QByteArray("+"), QByteArray("+OK zz")}) {
        t.host->scriptReply("iserv:sticket", 200, r);
        const BoxCloser::Box box = reserve(*t.d, t.boxes);
        QCOMPARE(box.title, QStringLiteral("Scheduling Failed"));
        QCOMPARE(box.text, QStringLiteral("The server rejected you as unauthorized for scheduling."));
    }
    // A failed ticket transfer is reported too.
    t.host->scriptReply("iserv:sticket", 503, "+OK 1234\n");
    QCOMPARE(reserve(*t.d, t.boxes).title, QStringLiteral("Connection Failure"));
    QTest::qWait(100);
    QCOMPARE(t.host->count("iserv:schdt"), 1);
    QCOMPARE(done.count(), 1);
}

void TestReserveTimeWin::ticketAtItsOffset()
{
    // A scheduling ticket starts at the fifth byte, in the scheduling dialog and in the log-in
    // dialog's "Reserve Now": the requests carry strings made with 0x12.
    Sched t;
    t.host->scriptReply("iserv:sticket", 200, "+OKX12");
    t.host->scriptReply("iserv:schdt", 200, "+OK 10 600\n");
    t.host->scriptReply("iserv:getschd", 200, "");
    QCOMPARE(reserve(*t.d, t.boxes).title, QStringLiteral("Scheduling Successful"));
    QVERIFY(HostAuth::checkRequest("secret", 0x12, t.host->requests("iserv:schdt").value(0).value("auth")));

    ScopeBrowser b;
    QVERIFY(connectAndSweep(b, t.host, "alice", "secret"));
    b.scopeListBox->setCurrentRow(rowOf(b, "tall"));
    b.reserveButton->click();
    QVERIFY(t.boxes.waitFor(2));
    QVERIFY(HostAuth::checkRequest("secret", 0x12, t.host->requests("iserv:schdnow").value(0).value("auth")));
}

void TestReserveTimeWin::busyRequests()
{
    Sched t;
    t.host->scriptReply("iserv:schdt", 200, "+OK 10 600\n");
    t.host->scriptReply("iserv:sticket", 200, "+OK 1c0ffee\n", 200);

    // Two quick presses: one ticket request.
    t.d->reserveBtn->click();
    t.d->reserveBtn->click();
    QVERIFY(t.boxes.waitFor(1));
    QCOMPARE(t.host->count("iserv:sticket"), 1);
    QCOMPARE(t.host->count("iserv:schdt"), 1);

    // The ticket arrives while the schedule is still downloading: the reservation goes out
    // once the schedule has been handled, instead of being dropped.
    QTRY_COMPARE(t.host->count("iserv:getschd"), 1);      // the reload after the booking
    QTRY_COMPARE(t.d->scopeLabel->text(), QStringLiteral("Schedule for Scope: handsome"));
    t.host->clearLog();
    t.host->scriptReply("iserv:sticket", 200, "+OK 1c0ffee\n");
    bool downloaded = false;            // the download is held until then
    t.host->script("iserv:getschd", [&downloaded](const HostRequest&) {
        HostReply r = HostReply::text("1700000000 600\n");
        r.ready = [&downloaded](HostReply&) { return downloaded; };
        return r;
    });
    t.d->refreshBtn_clicked();
    t.d->reserveBtn->click();
    QTRY_COMPARE(t.host->count("iserv:sticket"), 1);
    QTest::qWait(100);
    QCOMPARE(t.host->count("iserv:schdt"), 0);
    downloaded = true;
    QVERIFY(t.boxes.waitFor(2));
    QCOMPARE(t.boxes.seen.last().title, QStringLiteral("Scheduling Successful"));
    QStringList routes;
    for (const auto& e : t.host->log())
        routes << e.route;
    QCOMPARE(routes.mid(0, 3), QStringList({"iserv:getschd", "iserv:sticket", "iserv:schdt"}));
}

void TestReserveTimeWin::bookingAgainstHost()
{
    Sched t;
    clearSchedules(t.host);
    t.host->world().scope("handsome")->schedule.append({"guest", T0 + 600, 1800});
    QSignalSpy done(t.d.get(), &ReserveTimeWin::schedDone);

    // 30 minutes from one hour on: free, booked, and listed after the reload.
    t.d->dateTimeEdit->setDateTime(QDateTime::fromSecsSinceEpoch(T0 + 3600));
    t.d->durationSpinBox->setValue(30);
    QCOMPARE(reserve(*t.d, t.boxes).title, QStringLiteral("Scheduling Successful"));
    QCOMPARE(done.count(), 1);
    QCOMPARE(done[0].at(0).value<long>(), 3600L);
    QCOMPARE(done[0].at(1).value<long>(), 1800L);
    const Reservation* r = t.host->world().next("handsome", "alice", T0);
    QVERIFY(r && r->start == T0 + 3600 && r->length == 1800);
    QTRY_COMPARE(t.d->schedTable->rowCount(), 2);
    QCOMPARE(rowTexts(*t.d, 1).at(0), QStringLiteral("Tue Nov 14 23:13:20 2023"));

    // Overlapping the guest's slot: refused.
    t.d->dateTimeEdit->setDateTime(QDateTime::fromSecsSinceEpoch(T0 + 900));
    const BoxCloser::Box overlap = reserve(*t.d, t.boxes);
    QCOMPARE(overlap.title, QStringLiteral("Scheduling Problem"));
    QCOMPARE(overlap.text, QString::fromLatin1(overlapText));

    // A wrong password makes request strings the host cannot check. (The random part is fixed:
    // with some values a wrong key rotates the request string into the right one.)
    Auth::setRandomSource([] { return quint32(0x1234); });
    auto wrong = dialogFor(t.host, "not-secret", T0);
    wrong->dateTimeEdit->setDateTime(QDateTime::fromSecsSinceEpoch(T0 + 4 * 3600));
    QCOMPARE(reserve(*wrong, t.boxes).title, QStringLiteral("Authorization Problem"));
    QTest::qWait(100);
    QCOMPARE(done.count(), 1);
    QCOMPARE(t.host->world().scope("handsome")->schedule.size(), 2);
}

QTEST_MAIN(TestReserveTimeWin)
#include "tst_reservetimewin.moc"
