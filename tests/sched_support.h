#pragma once

// Helpers for the scheduling tests: a fixed clock shared by the client and the simulated host,
// the scheduling dialogs that are open, and a logged-in log-in dialog.
#include "BoxCloser.h"
#include "Clock.h"
#include "HeldTimer.h"
#include "LoginHelpers.h"
#include "ReserveTimeWin.h"

#include <QApplication>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

namespace sched {

// Client and host read the same "now"; the host may run ahead by world().clockOffset.
struct FixedClock
{
    explicit FixedClock(TestHost& host, qint64 start) : now(std::make_shared<qint64>(start))
    {
        auto n = now;
        Clock::setSource([n] { return *n; });
        host->world().clock = [n] { return *n; };
    }
    ~FixedClock() { Clock::setSource({}); }
    void set(qint64 t) { *now = t; }
    qint64 get() const { return *now; }
    std::shared_ptr<qint64> now;
};

inline void clearSchedules(TestHost& host)
{
    for (SimScope& s : host->world().scopes)
        s.schedule.clear();
}

inline QList<ReserveTimeWin*> openDialogs()
{
    QList<ReserveTimeWin*> out;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* d = qobject_cast<ReserveTimeWin*>(w))
            out.append(d);
    return out;
}

inline void deleteDialogs()
{
    qDeleteAll(openDialogs());
}

// A log-in dialog that has logged in to the host and finished its control-window sweep. Its
// watch is held: the test ticks it.
inline ScopeBrowser* loggedIn(TestHost& host, const QString& login, const QString& password)
{
    auto* b = new ScopeBrowser;
    HeldTimer::hold(b->watch());
    fillLogin(*b, host, login, password);
    b->connectToServer->click();
    const int scopes = int(host->world().scopes.size());
    if (!QTest::qWaitFor([&] { return b->scopeListBox->count() == scopes && !b->isListing(); }, 5000)
        || !QTest::qWaitFor([&] { return host->count(QStringLiteral("iserv:cwt")) == scopes; }, 5000)) {
        delete b;
        return nullptr;
    }
    QTest::qWait(50);           // the last sweep reply is handled
    return b;
}

// Presses "Scheduling..." on `row` and waits for the dialog the host's clock reply opens.
inline ReserveTimeWin* openScheduling(ScopeBrowser* b, int row)
{
    // Guarded: a dialog closed meanwhile is deleted, and a new one may take its address.
    QList<QPointer<ReserveTimeWin>> before;
    for (ReserveTimeWin* d : openDialogs())
        before.append(d);
    b->scopeListBox->setCurrentRow(row);
    b->schedButton->click();
    ReserveTimeWin* fresh = nullptr;
    (void)QTest::qWaitFor([&] {
        for (ReserveTimeWin* d : openDialogs())
            if (!before.contains(QPointer<ReserveTimeWin>(d)))
                fresh = d;
        return fresh != nullptr;
    }, 5000);
    return fresh;
}

// Books 30 minutes on "handsome", an hour ahead, in a dialog opened while "handsome" was the
// selected row; the row is changed before the dialog opens. The watch must enable
// "Control Scope" on the "handsome" row at the booked start second and not before. The host's
// clock runs `serverAhead` seconds ahead of the client's.
inline void bookedSlotEnablesControl(TestHost& host, FixedClock& clock, qint64 serverAhead)
{
    clearSchedules(host);
    host->world().clockOffset = serverAhead;
    std::unique_ptr<ScopeBrowser> b(loggedIn(host, QStringLiteral("alice"), QStringLiteral("secret")));
    QVERIFY(b);
    const int handsome = rowOf(*b, QStringLiteral("handsome"));
    const int tall = rowOf(*b, QStringLiteral("tall"));
    QVERIFY(handsome >= 0 && tall >= 0);

    BoxCloser boxes;
    host->setDelay(QStringLiteral("iserv:cck"), 300);
    b->scopeListBox->setCurrentRow(handsome);
    b->schedButton->click();
    QCOMPARE(boxes.titles(), QStringList({"Kelvry Control Time"}));
    b->scopeListBox->setCurrentRow(tall);           // before the clock reply arrives
    QTRY_COMPARE(openDialogs().size(), 1);
    ReserveTimeWin* d = openDialogs().first();
    QCOMPARE(d->scopeName(), QStringLiteral("handsome"));
    QTRY_COMPARE(d->scopeLabel->text(), QStringLiteral("Schedule for Scope: handsome"));

    const qint64 now = clock.get();
    const qint64 start = now + 3600;
    d->dateTimeEdit->setDateTime(QDateTime::fromSecsSinceEpoch(start));
    d->durationSpinBox->setValue(30);
    d->reserveBtn->click();
    QVERIFY(boxes.waitFor(2));
    QCOMPARE(boxes.seen[1].title, QStringLiteral("Scheduling Successful"));
    // The host's clock reads the entered local time as the same instant.
    const auto schdt = host->requests(QStringLiteral("iserv:schdt"));
    QCOMPARE(schdt.size(), 1);
    QCOMPARE(schdt[0].value(QStringLiteral("date")).toLongLong(), start + serverAhead);
    QCOMPARE(schdt[0].value(QStringLiteral("win")), QStringLiteral("1800"));

    // The booking belongs to "handsome", although "tall" is the current row.
    const ScopeTimer* booked = b->timerFor(QStringLiteral("handsome"));
    QVERIFY(booked && booked->start == start && booked->end == start + 1800);
    QVERIFY(b->watch().isActive());

    clock.set(start - 1);
    QMetaObject::invokeMethod(b.get(), "tickTock");
    QCOMPARE(boxes.seen.size(), 2);
    b->scopeListBox->setCurrentRow(handsome);
    QVERIFY(!b->beginButton->isEnabled());

    clock.set(start);
    QMetaObject::invokeMethod(b.get(), "tickTock");
    QVERIFY(boxes.waitFor(3));
    QCOMPARE(boxes.seen[2].title, QStringLiteral("Control Message"));
    QCOMPARE(boxes.seen[2].text, QStringLiteral("\nYou can now control the microscope: handsome"));
    QTRY_VERIFY(!b->isListing());
    QCOMPARE(b->scopeListBox->currentRow(), handsome);
    QVERIFY(b->beginButton->isEnabled());
    b->scopeListBox->setCurrentRow(tall);
    QVERIFY(!b->beginButton->isEnabled());
    b->scopeListBox->setCurrentRow(handsome);

    // At its end the window closes.
    clock.set(start + 1800);
    QMetaObject::invokeMethod(b.get(), "tickTock");
    QTRY_VERIFY(!b->isListing());
    QTRY_COMPARE(b->scopeListBox->currentRow(), handsome);
    QVERIFY(!b->beginButton->isEnabled());
    QCOMPARE(boxes.seen.size(), 3);
    deleteDialogs();
}

} // namespace sched
