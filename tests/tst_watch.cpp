// Reservation watch: the sweep, start and end events against a settable clock, and microscopes
// followed by name across refreshes.
#include "Alerts.h"
#include "BoxCloser.h"
#include "Clock.h"
#include "HeldTimer.h"
#include "LoginHelpers.h"

#include <QDateTime>
#include <QTest>

namespace {
// A clock the test moves by hand.
struct FakeClock
{
    qint64 t = QDateTime::currentSecsSinceEpoch();
    FakeClock() { Clock::setSource([this] { return t; }); }
    ~FakeClock() { Clock::setSource({}); }
};

// A host on the fake clock whose microscopes (tall, handsome, dark) hold only the bookings
// given, and the log-in dialog watching it. The watch's timer is held: every tick is the test's.
struct Watch
{
    FakeClock clock;
    TestHost host;
    ScopeBrowser b;
    BoxCloser boxes;
    Watch() { HeldTimer::hold(b.watch()); }

    struct Booking { int scope; qint64 from, length; };    // `from` relative to now
    bool start(const QList<Booking>& bookings)
    {
        host->world().clock = [this] { return clock.t; };
        for (SimScope& s : host->world().scopes)
            s.schedule.clear();
        for (const Booking& k : bookings)
            host->world().scopes[k.scope].schedule.append({"guest", clock.t + k.from, k.length});
        return connectAndSweep(b, host);
    }
    void tick(qint64 seconds = 0)
    {
        clock.t += seconds;
        QMetaObject::invokeMethod(&b, "tickTock", Qt::DirectConnection);
    }
    // Selects `row`: may the user control that microscope?
    bool enabledOn(int row)
    {
        b.scopeListBox->setCurrentRow(row);
        return b.beginButton->isEnabled();
    }
    int announced() const { return int(boxes.titles().count(QStringLiteral("Control Message"))); }
    bool settled() { return QTest::qWaitFor([this] { return !b.isListing(); }, 5000); }
};
} // namespace

class TestWatch : public QObject
{
    Q_OBJECT
private slots:
    void windowStartingThisSecondAnnouncedNextTick();
    void skippedAndRepeatedSeconds();
    void endWhileBoxOpen();
    void followsMicroscopeByNameAcrossRefresh();
    void unreachableSweepGoesOn();
    void malformedSweepRepliesLeaveEntries();
    void bookingsTakenIn();
    void realTimerWindow();
    void twoEventsInOneTickKeepTheRow();
    void runningWindowAndBookingsQueueBehindIt();
};

void TestWatch::windowStartingThisSecondAnnouncedNextTick()
{
    Watch w;
    w.host->scriptReply("iserv:cwt", 200, "0 600");
    QVERIFY(connectAndSweep(w.b, w.host));
    QVERIFY(!w.b.beginButton->isEnabled());
    QVERIFY(!w.b.timerFor("tall")->active);
    const int beeps = Alerts::beeps();
    w.tick(1);
    QCOMPARE(Alerts::beeps() - beeps, 3);
    QCOMPARE(w.announced(), 3);
    QCOMPARE(w.boxes.seen[0].text, QStringLiteral("\nYou can now control the microscope: tall"));
    QCOMPARE(w.boxes.seen[0].icon, QMessageBox::Information);
    QVERIFY(w.settled());
    QVERIFY(w.b.beginButton->isEnabled());
}

void TestWatch::skippedAndRepeatedSeconds()
{
    Watch w;
    QVERIFY(w.start({{2, 5, 60}}));
    QVERIFY(!w.enabledOn(2));
    const int beeps = Alerts::beeps();
    w.tick(4);
    QCOMPARE(Alerts::beeps(), beeps);
    // No tick sees the start second itself: the next one still announces it, once.
    w.tick(3);
    w.tick();
    w.tick(1);
    QCOMPARE(Alerts::beeps() - beeps, 1);
    QCOMPARE(w.announced(), 1);
    QCOMPARE(w.boxes.seen[0].text, QStringLiteral("\nYou can now control the microscope: dark"));
    QVERIFY(w.settled());
    QCOMPARE(w.b.scopeListBox->currentRow(), 2);
    QVERIFY(w.b.beginButton->isEnabled());

    // The end second skipped as well: it still closes the window.
    w.tick(120);
    QVERIFY(w.settled());
    QVERIFY(!w.b.beginButton->isEnabled());
    QVERIFY(!w.b.timerFor("dark")->active);
    w.tick();
    QCOMPARE(Alerts::beeps() - beeps, 1);
    QCOMPARE(w.host->count("iserv:i"), 3);      // first list, start refresh, end refresh
}

void TestWatch::endWhileBoxOpen()
{
    Watch w;
    QVERIFY(w.start({{0, 2, 10}, {2, -100, 103}}));     // dark's window ends at t+3
    QVERIFY(w.b.timerFor("dark")->active);

    // While "Control Message" for tall is open, time passes dark's end and ticks keep coming.
    w.boxes.onBox = [&w](const BoxCloser::Box&) { w.tick(5); };
    w.tick(2);
    QCOMPARE(w.announced(), 1);
    QVERIFY(!w.b.timerFor("dark")->active);
    QVERIFY(w.b.timerFor("tall")->active);
    QVERIFY(w.settled());
    QVERIFY(!w.enabledOn(2));
    QVERIFY(w.enabledOn(0));
}

void TestWatch::followsMicroscopeByNameAcrossRefresh()
{
    Watch w;
    QVERIFY(w.start({{1, -10, 600}}));      // handsome, running
    QVERIFY(w.enabledOn(1));

    // The host lists its microscopes in another order: the selection and the button follow "handsome".
    QList<SimScope>& scopes = w.host->world().scopes;
    std::swap(scopes[0], scopes[2]);
    scopes.move(1, 0);      // handsome, dark, tall
    w.b.connectToServer->click();
    QTRY_COMPARE(w.host->count("iserv:i"), 2);
    QVERIFY(w.settled());
    QCOMPARE(w.b.scopeListBox->item(1)->text(), QStringLiteral("dark"));
    QCOMPARE(w.b.scopeListBox->currentRow(), rowOf(w.b, "handsome"));
    QVERIFY(w.b.beginButton->isEnabled());
    QVERIFY(!w.enabledOn(1));
    QVERIFY(w.enabledOn(rowOf(w.b, "handsome")));

    // A microscope that appears later gets its own entry.
    SimScope extra;
    extra.name = "late";
    extra.slides = {"late01"};
    scopes.append(extra);
    w.b.connectToServer->click();
    QTRY_COMPARE(w.b.scopeListBox->count(), 4);
    QVERIFY(w.b.timerFor("late"));
    QVERIFY(!w.enabledOn(3));
}

void TestWatch::unreachableSweepGoesOn()
{
    TestHost host;
    host->scriptReply("iserv:cwt", 500, "boom");
    ScopeBrowser b;
    BoxCloser boxes;
    QVERIFY(connectAndSweep(b, host));
    QCOMPARE(host->count("iserv:cwt"), 3);
    QCOMPARE(boxes.titles(), QStringList(3, QStringLiteral("Connection Failure")));
    for (const ScopeTimer& t : b.watchEntries())
        QCOMPARE(t.start, -1);
}

void TestWatch::malformedSweepRepliesLeaveEntries()
{
    TestHost host;
    for (const char* name : {"extra1", "extra2", "extra3", "extra4"}) {
        SimScope extra;
        extra.name = name;
        extra.slides = {"x01"};
        host->world().scopes.append(extra);
    }
    int n = 0;
    host->script("iserv:cwt", [&n](const HostRequest&) {
        // "*", a single number, words, nothing, and 5 MB of digits without a second number.
        const QByteArray replies[] = {"*", "-30", "abc def", "", QByteArray(5 * 1024 * 1024, '7'),
                                      "9223372036854775807 600", "-5 99999999999999999999"};
        return HostReply::text(replies[n++ % 7]);
    });
    ScopeBrowser b;
    BoxCloser boxes;
    QVERIFY(connectAndSweep(b, host));
    QCOMPARE(b.watchEntries().size(), 7);
    for (const ScopeTimer& t : b.watchEntries())
        QVERIFY(t.start == -1 && t.end == -1 && !t.active);
    QVERIFY(boxes.seen.isEmpty());
}

void TestWatch::bookingsTakenIn()
{
    Watch w;
    QVERIFY(w.start({{0, -200, 100}}));     // ended: stored anyway
    QVERIFY(!w.enabledOn(0));

    // A later booking replaces a window that has already ended, and is announced at its start.
    w.b.startSchedTimerFor("tall", 10, 600);
    QCOMPARE(w.b.timerFor("tall")->start, w.clock.t + 10);
    QVERIFY(!w.b.beginButton->isEnabled());
    w.tick(10);
    QCOMPARE(w.announced(), 1);
    QVERIFY(w.settled());
    QVERIFY(w.b.beginButton->isEnabled());

    // A later booking while time is held does not switch the button off.
    w.b.startSchedTimerFor("tall", -1000, 2000);        // earlier start: replaces, running at once
    QVERIFY(w.b.timerFor("tall")->active);
    w.b.startSchedTimer(3600, 600);                     // current row: tall; later start: kept out
    QVERIFY(w.settled());
    QVERIFY(w.b.beginButton->isEnabled());
    QCOMPARE(w.b.timerFor("tall")->start, w.clock.t - 1000);

    // A booking starting now becomes active at once for its own microscope only.
    w.b.startSchedTimerFor("dark", 0, 60);
    QVERIFY(w.settled());
    QVERIFY(w.b.timerFor("dark")->active);
    QVERIFY(!w.enabledOn(1));
}

void TestWatch::realTimerWindow()
{
    // End to end with the one-second timer, on a clock the test moves: a slot on "dark" that
    // opens two seconds after the sweep and lasts three. The ticks are the timer's own.
    FakeClock clock;
    TestHost host;
    host->world().clock = [&clock] { return clock.t; };
    host->world().scopes[2].schedule.append({"guest", clock.t + 2, 3});
    ScopeBrowser b;
    BoxCloser boxes;
    QVERIFY(connectAndSweep(b, host));
    QVERIFY(b.watch().isActive());
    b.scopeListBox->setCurrentRow(2);
    QVERIFY(!b.beginButton->isEnabled());
    clock.t += 2;
    QVERIFY(boxes.waitFor(1, 10000));
    QCOMPARE(boxes.seen[0].text, QStringLiteral("\nYou can now control the microscope: dark"));
    QTRY_VERIFY_WITH_TIMEOUT(!b.isListing() && b.beginButton->isEnabled(), 10000);

    // At the end of the window the button goes off on that row.
    clock.t += 3;
    QTRY_VERIFY_WITH_TIMEOUT(!b.beginButton->isEnabled(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!b.isListing(), 10000);
    QCOMPARE(b.scopeListBox->currentRow(), 2);
    QVERIFY(!b.beginButton->isEnabled());
    QCOMPARE(boxes.seen.size(), 1);
}

void TestWatch::twoEventsInOneTickKeepTheRow()
{
    // One tick starts a window on one microscope and ends another's: the second list refresh
    // falls into the first, which must still select the row that was current.
    Watch w;
    QVERIFY(w.start({{1, 5, 600}, {2, -10, 12}}));
    QVERIFY(w.enabledOn(2));
    w.tick(20);
    QCOMPARE(w.announced(), 1);
    QVERIFY(w.settled());
    QCOMPARE(w.b.scopeListBox->currentRow(), 2);
    QVERIFY(!w.b.beginButton->isEnabled());
    QVERIFY(w.enabledOn(1));
}

void TestWatch::runningWindowAndBookingsQueueBehindIt()
{
    // A window running at the sweep. Bookings that begin after the window the entry holds are
    // not lost: each is announced once the window before it has ended.
    Watch w;
    const int beeps = Alerts::beeps();
    QVERIFY(w.start({{0, -10, 100}}));      // running: active at once, not announced late
    QVERIFY(w.b.beginButton->isEnabled());
    const ScopeTimer* t = w.b.timerFor("tall");
    QVERIFY(t && t->active && t->start == w.clock.t - 10 && t->end == w.clock.t + 90);
    w.tick(1);
    QCOMPARE(Alerts::beeps(), beeps);
    QVERIFY(w.boxes.seen.isEmpty());
    QVERIFY(!w.enabledOn(2));
    w.b.scopeListBox->setCurrentRow(0);

    w.b.startSchedTimerFor("tall", 3600, 600);      // behind the running window
    w.b.startSchedTimerFor("tall", 1000, 60);       // earlier, still behind it
    QVERIFY(w.b.timerFor("tall")->active);
    const qint64 t0 = w.clock.t;

    // Each step: the time, then whether "tall" may be controlled and how many starts were announced.
    // Once the running window is over, a booking before the stored one puts that one behind it.
    for (const auto& [at, enabled, announced] :
         {std::tuple(95, false, 0), std::tuple(501, true, 1), std::tuple(561, false, 1), std::tuple(1001, true, 2),
          std::tuple(1061, false, 2), std::tuple(3601, true, 3)}) {
        w.tick(t0 + at - w.clock.t);
        QVERIFY(w.settled());
        QCOMPARE(w.b.beginButton->isEnabled(), enabled);
        QCOMPARE(w.announced(), announced);
        if (at == 95) {
            QCOMPARE(w.b.timerFor("tall")->start, t0 + 1000);
            w.b.startSchedTimerFor("tall", 405, 60);
        }
    }
}

QTEST_MAIN(TestWatch)
#include "tst_watch.moc"
