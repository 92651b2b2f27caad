// Scheduling requests: the host's clock, a microscope's schedule and the booking of a slot.
#include "SimHost.h"

#include <algorithm>

namespace {

constexpr qint64 maxDate = qint64(1) << 40;

bool parseSeconds(const QString& text, qint64* out)
{
    bool ok = false;
    const qint64 v = text.toLongLong(&ok, 10);
    if (ok)
        *out = v;
    return ok;
}

} // namespace

void addScheduleRoutes(SimHost& host)
{
    World& w = host.world();

    host.addRoute(QStringLiteral("iserv:cck"), [&w](const HostRequest&) {
        return HostReply::text(QByteArray::number(w.now()) + '\n');
    });

    // A microscope's schedule as the table shows it: every user's reservations that are running
    // or still to come, in order of their start. Past reservations are left out, so the table
    // holds only what can still block a booking.
    host.addRoute(QStringLiteral("iserv:getschd"), [&w](const HostRequest& r) {
        const SimScope* scope = w.scope(r.value(QStringLiteral("s")));
        if (!scope)
            return HostReply::text(QByteArray());
        const qint64 now = w.now();
        QList<Reservation> list;
        for (const Reservation& res : scope->schedule)
            if (res.end() > now)
                list.append(res);
        std::stable_sort(list.begin(), list.end(),
                         [](const Reservation& a, const Reservation& b) { return a.start < b.start; });
        QByteArray out;
        for (const Reservation& res : list)
            out += QByteArray::number(res.start) + ' ' + QByteArray::number(res.length) + '\n';
        return HostReply::text(out);
    });

    // Books [date, date + win) for the login on a scheduling ticket. "-N": unknown microscope,
    // ticket or authentication string, or a cancellation bars the login from scheduling; "-C": overlaps any reservation; "-L": a length outside
    // 1 s .. the microscope's maximum, or a date that is no epoch second; "-P": the slot has
    // already ended.
    host.addRoute(QStringLiteral("iserv:schdt"), [&w](const HostRequest& r) {
        const QString login = r.value(QStringLiteral("l"));
        const QString scopeName = r.value(QStringLiteral("s"));
        const SimScope* scope = w.scope(scopeName);
        if (!scope || !w.checkRequest(QStringLiteral("sched"), login, scopeName, r.value(QStringLiteral("auth")))
            || w.schedulingBarred(scopeName, login, w.now()))
            return HostReply::text("-N");
        qint64 date = 0;
        qint64 win = 0;
        if (!parseSeconds(r.value(QStringLiteral("date")), &date) || !parseSeconds(r.value(QStringLiteral("win")), &win)
            || date < 0 || date > maxDate || win <= 0 || win > qint64(scope->maxMinutes) * 60)
            return HostReply::text("-L");
        const qint64 now = w.now();
        if (date + win <= now)
            return HostReply::text("-P");
        if (w.overlaps(scopeName, date, win))
            return HostReply::text("-C");
        w.book(scopeName, {login, date, win});
        return HostReply::text("+OK " + QByteArray::number(date - now) + ' ' + QByteArray::number(win) + '\n');
    });
}
