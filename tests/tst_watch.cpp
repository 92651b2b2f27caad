// Reservation watch: the sweep, start and end events against a settable clock, and microscopes
// followed by name across refreshes.
#include "Alerts.h"
#include "BoxCloser.h"
#include "Clock.h"
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

void tick(ScopeBrowser& b)
{
    QMetaObject::invokeMethod(&b, "tickTock", Qt::DirectConnection);
}

// A host whose clock is the fake one and whose microscopes hold no bookings yet.
void quiet(TestHost& host, FakeClock& clock)
{
    host->world().clock = [&clock] { return clock.t; };
    for (SimScope& s : host->world().scopes)
        s.schedule.clear();
}

int countTitle(const BoxCloser& boxes, const QString& title)
{
    return int(boxes.titles().count(title));
}
} // namespace

class TestWatch : public QObject
{
    Q_OBJECT
private slots:
    void runningWindowActiveAtOnce();
    void windowStartingThisSecondAnnouncedNextTick();
    void skippedAndRepeatedSeconds();
    void endWhileBoxOpen();
    void followsMicroscopeByNameAcrossRefresh();
    void unreachableSweepGoesOn();
    void malformedSweepRepliesLeaveEntries();
    void bookingsTakenIn();
    void realTimerWindow();
    void twoEventsInOneTickKeepTheRow();
    void bookingsQueueBehindStoredWindow();
};

void TestWatch::runningWindowActiveAtOnce()
{
    FakeClock clock;
    TestHost host;
    quiet(host, clock);
    host->world().scopes[0].schedule.append({"guest", clock.t - 30, 600});
    ScopeBrowser b;
    BoxCloser boxes;
    const int beeps = Alerts::beeps();
    QVERIFY(connectAndSweep(b, host));
    QCOMPARE(b.scopeListBox->currentRow(), 0);
    QVERIFY(b.beginButton->isEnabled());
    const ScopeTimer* t = b.timerFor("tall");
    QVERIFY(t && t->active);
    QCOMPARE(t->start, clock.t - 30);
    QCOMPARE(t->end, clock.t + 570);
    // Already running: no late announcement.
    clock.t += 1;
    tick(b);
    QCOMPARE(Alerts::beeps(), beeps);
    QVERIFY(boxes.seen.isEmpty());
    // Other rows have no window.
    b.scopeListBox->setCurrentRow(2);
    QVERIFY(!b.beginButton->isEnabled());
}

void TestWatch::windowStartingThisSecondAnnouncedNextTick()
{
    FakeClock clock;
    TestHost host;
    host->scriptReply("iserv:cwt", 200, "0 600");
    ScopeBrowser b;
    BoxCloser boxes;
    QVERIFY(connectAndSweep(b, host));
    QVERIFY(!b.beginButton->isEnabled());
    QVERIFY(!b.timerFor("tall")->active);
    const int beeps = Alerts::beeps();
    clock.t += 1;
    tick(b);
    QCOMPARE(Alerts::beeps() - beeps, 3);
    QCOMPARE(countTitle(boxes, "Control Message"), 3);
    QCOMPARE(boxes.seen[0].text, QStringLiteral("\nYou can now control the microscope: tall"));
    QCOMPARE(boxes.seen[0].icon, QMessageBox::Information);
    QTRY_VERIFY(!b.isListing());
    QVERIFY(b.beginButton->isEnabled());
}

void TestWatch::skippedAndRepeatedSeconds()
{
    FakeClock clock;
    TestHost host;
    quiet(host, clock);
    host->world().scopes[2].schedule.append({"guest", clock.t + 5, 60});
    ScopeBrowser b;
    BoxCloser boxes;
    QVERIFY(connectAndSweep(b, host));
    b.scopeListBox->setCurrentRow(2);
    QVERIFY(!b.beginButton->isEnabled());
    const int beeps = Alerts::beeps();

    clock.t += 4;
    tick(b);
    QCOMPARE(Alerts::beeps(), beeps);
    // No tick sees the start second itself: the next one still announces it, once.
    clock.t += 3;
    tick(b);
    tick(b);
    clock.t += 1;
    tick(b);
    QCOMPARE(Alerts::beeps() - beeps, 1);
    QCOMPARE(countTitle(boxes, "Control Message"), 1);
    QCOMPARE(boxes.seen[0].text, QStringLiteral("\nYou can now control the microscope: dark"));
    QTRY_VERIFY(!b.isListing());
    QCOMPARE(b.scopeListBox->currentRow(), 2);
    QVERIFY(b.beginButton->isEnabled());

    // The end second skipped as well: it still closes the window.
    clock.t += 120;
    tick(b);
    QTRY_VERIFY(!b.isListing());
    QVERIFY(!b.beginButton->isEnabled());
    QVERIFY(!b.timerFor("dark")->active);
    tick(b);
    QCOMPARE(Alerts::beeps() - beeps, 1);
    QCOMPARE(host->count("iserv:i"), 3);        // first list, start refresh, end refresh
}

void TestWatch::endWhileBoxOpen()
{
    FakeClock clock;
    TestHost host;
    quiet(host, clock);
    host->world().scopes[0].schedule.append({"guest", clock.t + 2, 10});
    host->world().scopes[2].schedule.append({"guest", clock.t - 100, 103});   // ends at t+3
    ScopeBrowser b;
    BoxCloser boxes;
    QVERIFY(connectAndSweep(b, host));
    QVERIFY(b.timerFor("dark")->active);

    // While "Control Message" for tall is open, time passes dark's end and ticks keep coming.
    boxes.onBox = [&](const BoxCloser::Box&) {
        clock.t += 5;
        tick(b);
    };
    clock.t += 2;
    tick(b);
    QCOMPARE(countTitle(boxes, "Control Message"), 1);
    QVERIFY(!b.timerFor("dark")->active);
    QVERIFY(b.timerFor("tall")->active);
    QTRY_VERIFY(!b.isListing());
    b.scopeListBox->setCurrentRow(2);
    QVERIFY(!b.beginButton->isEnabled());
    b.scopeListBox->setCurrentRow(0);
    QVERIFY(b.beginButton->isEnabled());
}

void TestWatch::followsMicroscopeByNameAcrossRefresh()
{
    FakeClock clock;
    TestHost host;
    quiet(host, clock);
    host->world().scopes[1].schedule.append({"guest", clock.t - 10, 600});   // handsome, running
    ScopeBrowser b;
    BoxCloser boxes;
    QVERIFY(connectAndSweep(b, host));
    b.scopeListBox->setCurrentRow(1);
    QVERIFY(b.beginButton->isEnabled());

    // The host lists its microscopes in another order: the button follows "handsome".
    std::swap(host->world().scopes[0], host->world().scopes[2]);
    host->world().scopes.move(1, 0);        // handsome, dark, tall
    b.connectToServer->click();
    QTRY_COMPARE(host->count("iserv:i"), 2);
    QTRY_VERIFY(!b.isListing());
    QCOMPARE(b.scopeListBox->item(1)->text(), QStringLiteral("dark"));
    QCOMPARE(b.scopeListBox->currentRow(), 1);
    QVERIFY(!b.beginButton->isEnabled());
    b.scopeListBox->setCurrentRow(rowOf(b, "handsome"));
    QVERIFY(b.beginButton->isEnabled());

    // A microscope that appears later gets its own entry.
    SimScope extra;
    extra.name = "late";
    extra.slides = {"late01"};
    host->world().scopes.append(extra);
    b.connectToServer->click();
    QTRY_COMPARE(b.scopeListBox->count(), 4);
    QVERIFY(b.timerFor("late"));
    b.scopeListBox->setCurrentRow(3);
    QVERIFY(!b.beginButton->isEnabled());
}

void TestWatch::unreachableSweepGoesOn()
{
    TestHost host;
    host->scriptReply("iserv:cwt", 500, "boom");
    ScopeBrowser b;
    BoxCloser boxes;
    QVERIFY(connectAndSweep(b, host));
    QCOMPARE(host->count("iserv:cwt"), 3);
    QCOMPARE(countTitle(boxes, "Connection Failure"), 3);
    QCOMPARE(boxes.seen.size(), 3);
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
    for (const ScopeTimer& t : b.watchEntries()) {
        QCOMPARE(t.start, -1);
        QCOMPARE(t.end, -1);
        QVERIFY(!t.active);
    }
    QVERIFY(boxes.seen.isEmpty());
}

void TestWatch::bookingsTakenIn()
{
    FakeClock clock;
    TestHost host;
    quiet(host, clock);
    host->world().scopes[0].schedule.append({"guest", clock.t - 200, 100});  // ended: stored anyway
    ScopeBrowser b;
    BoxCloser boxes;
    QVERIFY(connectAndSweep(b, host));
    b.scopeListBox->setCurrentRow(0);
    QVERIFY(!b.beginButton->isEnabled());

    // A later booking replaces a window that has already ended, and is announced at its start.
    b.startSchedTimerFor("tall", 10, 600);
    QCOMPARE(b.timerFor("tall")->start, clock.t + 10);
    QVERIFY(!b.beginButton->isEnabled());
    clock.t += 10;
    tick(b);
    QCOMPARE(countTitle(boxes, "Control Message"), 1);
    QTRY_VERIFY(!b.isListing());
    QVERIFY(b.beginButton->isEnabled());

    // A later booking while time is held does not switch the button off.
    b.startSchedTimerFor("tall", -1000, 2000);      // earlier start: replaces, running at once
    QVERIFY(b.timerFor("tall")->active);
    b.startSchedTimer(3600, 600);                   // current row: tall; later start: kept out
    QTRY_VERIFY(!b.isListing());
    QVERIFY(b.beginButton->isEnabled());
    QCOMPARE(b.timerFor("tall")->start, clock.t - 1000);

    // A booking starting now becomes active at once for its own microscope only.
    b.startSchedTimerFor("dark", 0, 60);
    QTRY_VERIFY(!b.isListing());
    QVERIFY(b.timerFor("dark")->active);
    b.scopeListBox->setCurrentRow(1);
    QVERIFY(!b.beginButton->isEnabled());
}

void TestWatch::realTimerWindow()
{
    // End to end with the real clock and the one-second timer: a slot on "dark" that opens two
    // seconds after the sweep and lasts three.
    TestHost host;
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    host->world().scopes[2].schedule.append({"guest", now + 2, 3});
    ScopeBrowser b;
    BoxCloser boxes;
    QVERIFY(connectAndSweep(b, host));
    b.scopeListBox->setCurrentRow(2);
    QVERIFY(!b.beginButton->isEnabled());
    QVERIFY(boxes.waitFor(1, 6000));
    QCOMPARE(boxes.seen[0].title, QStringLiteral("Control Message"));
    QCOMPARE(boxes.seen[0].text, QStringLiteral("\nYou can now control the microscope: dark"));
    QTRY_VERIFY_WITH_TIMEOUT(!b.isListing() && b.beginButton->isEnabled(), 3000);

    // The host now lists "dark" first: the button follows it to its new row.
    host->world().scopes.move(2, 0);
    b.connectToServer->click();
    QTRY_VERIFY(!b.isListing());
    QCOMPARE(b.scopeListBox->item(0)->text(), QStringLiteral("dark"));
    QCOMPARE(b.scopeListBox->currentRow(), 2);      // the row is kept: now "tall"
    QVERIFY(!b.beginButton->isEnabled());
    b.scopeListBox->setCurrentRow(0);
    QVERIFY(b.beginButton->isEnabled());

    // At the end of the window the button goes off on that row.
    QTRY_VERIFY_WITH_TIMEOUT(!b.beginButton->isEnabled(), 6000);
    QTRY_VERIFY(!b.isListing());
    QCOMPARE(b.scopeListBox->currentRow(), 0);
    QVERIFY(!b.beginButton->isEnabled());
    QCOMPARE(boxes.seen.size(), 1);
}

void TestWatch::twoEventsInOneTickKeepTheRow()
{
    // One tick starts a window on one microscope and ends another's: the second list refresh
    // falls into the first, which must still select the row that was current.
    FakeClock clock;
    TestHost host;
    quiet(host, clock);
    host->world().scopes[1].schedule.append({"guest", clock.t + 5, 600});
    host->world().scopes[2].schedule.append({"guest", clock.t - 10, 12});
    ScopeBrowser b;
    BoxCloser boxes;
    QVERIFY(connectAndSweep(b, host));
    b.scopeListBox->setCurrentRow(2);
    QVERIFY(b.beginButton->isEnabled());
    clock.t += 20;
    tick(b);
    QCOMPARE(countTitle(boxes, "Control Message"), 1);
    QTRY_VERIFY(!b.isListing());
    QCOMPARE(b.scopeListBox->currentRow(), 2);
    QVERIFY(!b.beginButton->isEnabled());
    b.scopeListBox->setCurrentRow(1);
    QVERIFY(b.beginButton->isEnabled());
}

void TestWatch::bookingsQueueBehindStoredWindow()
{
    // Bookings that begin after the window the entry holds are not lost: each is announced
    // once the window before it has ended.
    FakeClock clock;
    TestHost host;
    quiet(host, clock);
    host->world().scopes[0].schedule.append({"guest", clock.t - 10, 100});     // running
    ScopeBrowser b;
    BoxCloser boxes;
    QVERIFY(connectAndSweep(b, host));
    QVERIFY(b.beginButton->isEnabled());
    b.startSchedTimerFor("tall", 3600, 600);        // behind the running window
    b.startSchedTimerFor("tall", 1000, 60);         // earlier, still behind it
    QVERIFY(b.timerFor("tall")->active);
    const qint64 t0 = clock.t;

    clock.t = t0 + 95;
    tick(b);
    QTRY_VERIFY(!b.isListing());
    QVERIFY(!b.beginButton->isEnabled());
    QCOMPARE(b.timerFor("tall")->start, t0 + 1000);
    clock.t = t0 + 1001;
    tick(b);
    QCOMPARE(countTitle(boxes, "Control Message"), 1);
    QTRY_VERIFY(!b.isListing());
    QVERIFY(b.beginButton->isEnabled());
    clock.t = t0 + 1061;
    tick(b);
    QTRY_VERIFY(!b.isListing());
    QVERIFY(!b.beginButton->isEnabled());
    // The first booking waited behind the second; it is the one announced last.
    clock.t = t0 + 3601;
    tick(b);
    QCOMPARE(countTitle(boxes, "Control Message"), 2);
    QTRY_VERIFY(!b.isListing());
    QVERIFY(b.beginButton->isEnabled());
}

QTEST_MAIN(TestWatch)
#include "tst_watch.moc"
