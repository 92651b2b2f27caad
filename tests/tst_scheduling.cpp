// Opening the scheduling dialog from the log-in dialog, and bookings reaching its watch (TZ=UTC).
#include "sched_support.h"

#include <QPointer>
#include <QSignalSpy>
#include <QTest>

using namespace sched;

namespace {
const qint64 T0 = 1700000000;
}

class TestScheduling : public QObject
{
    Q_OBJECT
private slots:
    void cleanup();
    void schedulingOpensDialogForClickedScope();
    void noDialogWithoutRowInputOrClock();
    void bookedSlotEnablesControl();
    void dialogOutlivesLogInDialog();
    void closedDialogsGoAway();
};

void TestScheduling::cleanup()
{
    Clock::setSource({});
    deleteDialogs();
}

void TestScheduling::schedulingOpensDialogForClickedScope()
{
    TestHost host;
    FixedClock clock(host, T0);
    host->world().clockOffset = 75;
    std::unique_ptr<ScopeBrowser> b(loggedIn(host, "alice", "secret"));
    QVERIFY(b);
    BoxCloser boxes;
    ReserveTimeWin* d = openScheduling(b.get(), rowOf(*b, "handsome"));
    QVERIFY(d);
    QCOMPARE(boxes.seen.size(), 1);
    QCOMPARE(boxes.seen[0].icon, QMessageBox::Information);
    QCOMPARE(boxes.seen[0].title, QStringLiteral("Kelvry Control Time"));
    QCOMPARE(boxes.seen[0].text, QStringLiteral("You can control the selected microscope \"handsome\" for 90 minutes maximum."));
    QCOMPARE(host.queries("iserv:cck"), QList<QByteArray>{"f=cck&s=handsome&l=alice"});

    // A window of its own, shown, handed the microscope, its maximum and the host's clock.
    QVERIFY(d->parent() == nullptr && d->isVisible());
    QCOMPARE(d->scopeName(), QStringLiteral("handsome"));
    QCOMPARE(d->durationSpinBox->maximum(), 90);
    QCOMPARE(d->serverClockOffset(), qint64(75));
    QTRY_COMPARE(d->scopeLabel->text(), QStringLiteral("Schedule for Scope: handsome"));
    QCOMPARE(host->requests("iserv:getschd").size(), 1);

    // A second press opens a second dialog, for the row then current.
    ReserveTimeWin* second = openScheduling(b.get(), rowOf(*b, "dark"));
    QVERIFY(second && second != d);
    QCOMPARE(second->scopeName(), QStringLiteral("dark"));
    QCOMPARE(second->durationSpinBox->maximum(), 30);

    // Closing one ends it; the other stays.
    QPointer<ReserveTimeWin> closed(d);
    d->cancelButton->click();
    QTRY_VERIFY(!closed);
    QCOMPARE(openDialogs(), QList<ReserveTimeWin*>{second});
}

void TestScheduling::noDialogWithoutRowInputOrClock()
{
    TestHost host;
    FixedClock clock(host, T0);
    std::unique_ptr<ScopeBrowser> b(loggedIn(host, "alice", "secret"));
    QVERIFY(b);
    BoxCloser boxes;

    b->scopeListBox->setCurrentRow(-1);
    QVERIFY(b->schedButton->isEnabled());
    b->schedButton->click();
    QTest::qWait(100);
    QCOMPARE(boxes.seen.size(), 0);

    b->scopeListBox->setCurrentRow(0);
    b->passwordBox->clear();
    b->schedButton->click();
    QCOMPARE(boxes.titles(), QStringList({"Info Entry Problem"}));
    QCOMPARE(boxes.seen[0].text, QStringLiteral("Please provide a password!"));
    QTest::qWait(100);
    QCOMPARE(host->count("iserv:cck"), 0);

    // A failed transfer, or a reply without a number: no dialog with a made-up clock.
    b->passwordBox->setText("secret");
    for (const auto& reply : {qMakePair(500, QByteArray("1700000000\n")),
                              qMakePair(200, QByteArray("<!DOCTYPE html><title>x</title>"))}) {
        host->scriptReply("iserv:cck", reply.first, reply.second);
        const int before = int(boxes.seen.size());
        b->schedButton->click();
        QVERIFY(boxes.waitFor(before + 2));
        QCOMPARE(boxes.seen.last().icon, QMessageBox::Warning);
        QCOMPARE(boxes.seen.last().title, QStringLiteral("Connection Failure"));
        QCOMPARE(boxes.seen.last().text, QStringLiteral("Error connecting to the Kelvry server.\n"
                                                        "Please contact the server administrator. (file scpbrwsr)"));
    }
    QTest::qWait(100);
    QCOMPARE(openDialogs().size(), 0);
}

void TestScheduling::bookedSlotEnablesControl()
{
    TestHost host;
    FixedClock clock(host, T0);
    sched::bookedSlotEnablesControl(host, clock, 600);
}

void TestScheduling::dialogOutlivesLogInDialog()
{
    TestHost host;
    FixedClock clock(host, T0);
    clearSchedules(host);
    std::unique_ptr<ScopeBrowser> b(loggedIn(host, "alice", "secret"));
    QVERIFY(b);
    BoxCloser boxes;
    ReserveTimeWin* d = openScheduling(b.get(), rowOf(*b, "dark"));
    QVERIFY(d);
    QSignalSpy done(d, &ReserveTimeWin::schedDone);
    b.reset();

    // The booking is made and reported; it reaches no watch.
    d->dateTimeEdit->setDateTime(QDateTime::fromSecsSinceEpoch(T0 + 600));
    d->reserveBtn->click();
    QVERIFY(boxes.waitFor(2));
    QCOMPARE(boxes.seen[1].title, QStringLiteral("Scheduling Successful"));
    QCOMPARE(done.count(), 1);
    QVERIFY(host->world().next("dark", "alice", T0));
}

void TestScheduling::closedDialogsGoAway()
{
    TestHost host;
    FixedClock clock(host, T0);
    clearSchedules(host);
    std::unique_ptr<ScopeBrowser> b(loggedIn(host, "alice", "secret"));
    QVERIFY(b);
    BoxCloser boxes;

    // Opened and closed again and again: no dialog piles up.
    for (int i = 0; i < 50; ++i) {
        ReserveTimeWin* d = openScheduling(b.get(), i % 3);
        QVERIFY(d);
        if (i % 2)
            d->cancelButton->click();
        else
            QTest::keyClick(d, Qt::Key_Escape);
        QVERIFY(openDialogs().size() <= 1);
    }
    QTRY_COMPARE(openDialogs().size(), 0);
    QCOMPARE(boxes.titles(), QStringList(50, QStringLiteral("Kelvry Control Time")));

    // A booking on its way when the dialog is closed still reaches the watch. The dialog stays
    // hidden until the reply, shows its outcome, a refusal or a grant, and then goes. With the
    // refusal, a schedule download ends while the box is open: it shows nothing, failed or not,
    // and leaves the dialog to its box. Replies are held until their moment: the booking's until
    // the dialog is closed, the download's until the box is open.
    bool closedYet = false;
    bool boxOpen = false;
    struct Booking
    {
        QByteArray reply;
        int download;           // the status of the download started before the close; 0: none
    };
    for (const Booking& booking : {Booking{"-C", 200}, Booking{"-C", 500}, Booking{"+OK 600 1800\n", 0}}) {
        const QByteArray reply = booking.reply;
        const int download = booking.download;
        ReserveTimeWin* d = openScheduling(b.get(), rowOf(*b, "dark"));
        QVERIFY(d);
        const QString title = QStringLiteral("Schedule for Scope: dark");
        QTRY_COMPARE(d->scopeLabel->text(), title);
        closedYet = boxOpen = false;
        const auto held = [](const QByteArray& body, int status, const bool& until) {
            return [body, status, &until](const HostRequest&) {
                HostReply r = HostReply::text(body);
                r.status = status;
                r.ready = [&until](HostReply&) { return until; };
                return r;
            };
        };
        host->script("iserv:schdt", held(reply, 200, closedYet));
        const int tickets = host->count("iserv:sticket");
        const int bookings = host->count("iserv:schdt");
        const int seen = int(boxes.seen.size());
        QPointer<ReserveTimeWin> gone(d);
        bool hiddenUnderBox = false;
        bool keptUnderBox = false;
        bool downloadHandled = false;
        QStringList underBox;
        boxes.onBox = [&](const BoxCloser::Box&) {
            hiddenUnderBox = gone && !gone->isVisible();
            if (download) {
                BoxCloser nested;           // this box's closer waits below us
                boxOpen = true;
                downloadHandled = QTest::qWaitFor([&] { return !gone || gone->scopeLabel->text() == title; }, 5000);
                underBox = nested.titles();
            }
            keptUnderBox = !gone.isNull();
        };
        d->reserveBtn->click();
        QTRY_COMPARE_WITH_TIMEOUT(host->count("iserv:sticket"), tickets + 1, 5000);
        if (download) {
            QTRY_COMPARE_WITH_TIMEOUT(host->count("iserv:schdt"), bookings + 1, 5000);
            host->script("iserv:getschd", held("", download, boxOpen));
            d->refreshBtn->click();
        }
        d->cancelButton->click();
        QVERIFY(gone && !gone->isVisible());
        closedYet = true;
        QTRY_VERIFY_WITH_TIMEOUT(!gone, 5000);
        QTest::qWait(50);
        boxes.onBox = {};
        host->clearScripts();
        QCOMPARE(boxes.seen.size(), seen + 1);
        QCOMPARE(boxes.seen.last().title,
                 reply.startsWith('+') ? QStringLiteral("Scheduling Successful") : QStringLiteral("Scheduling Problem"));
        QVERIFY(hiddenUnderBox && keptUnderBox);
        if (download) {
            QVERIFY(downloadHandled);
            QCOMPARE(underBox, QStringList());
        }
    }
    const ScopeTimer* booked = b->timerFor(QStringLiteral("dark"));
    QVERIFY(booked && booked->start == T0 + 600 && booked->end == T0 + 2400);
    // Nor is the schedule downloaded again for it.
    QCOMPARE(host->log().last().route, QStringLiteral("iserv:schdt"));
}

QTEST_MAIN(TestScheduling)
#include "tst_scheduling.moc"
