// Log-in dialog requests: log-in check, microscope list, control windows, tickets and the
// immediate reservation.
#include "HostAuth.h"
#include "SimHost.h"

namespace {

QByteArray hex(quint32 v) { return QByteArray::number(v, 16); }

bool knownUser(World& w, const QString& login)
{
    const SimUser* u = w.user(login);
    return u && !u->banned;
}

} // namespace

void addLoginRoutes(SimHost& host)
{
    World& w = host.world();

    host.addRoute(QStringLiteral("iserv:checkauth"), [&w](const HostRequest& r) {
        const SimUser* u = w.user(r.value(QStringLiteral("l")));
        if (u && !u->banned
            && HostAuth::checkLogin(u->password, r.value(QStringLiteral("auth")), r.value(QStringLiteral("rndsd"))))
            return HostReply::text("+OK\n");
        return HostReply::text("-NO_AUTHORIZATION");
    });

    host.addRoute(QStringLiteral("iserv:i"), [&w](const HostRequest&) {
        return HostReply::text(w.listReply());
    });

    // The user's running window (negative wait) or next window on the microscope, else "*".
    host.addRoute(QStringLiteral("iserv:cwt"), [&w](const HostRequest& r) {
        const QString login = r.value(QStringLiteral("l"));
        const QString scope = r.value(QStringLiteral("s"));
        const qint64 now = w.now();
        const Reservation* res = w.current(scope, login, now);
        if (!res)
            res = w.next(scope, login, now);
        if (!res)
            return HostReply::text("*");
        return HostReply::text(QByteArray::number(res->start - now) + ' ' + QByteArray::number(res->length) + '\n');
    });

    host.addRoute(QStringLiteral("iserv:sticket"), [&w](const HostRequest& r) {
        const QString login = r.value(QStringLiteral("l"));
        const QString scope = r.value(QStringLiteral("s"));
        if (!knownUser(w, login) || !w.scope(scope) || w.schedulingBarred(scope, login, w.now()))
            return HostReply::text("-N");
        return HostReply::text("+OK " + hex(w.issueTicket(QStringLiteral("sched"), login, scope)) + '\n');
    });

    // Control time from now: at most the microscope's maximum, and only up to the next booking.
    // "-N" also while a cancellation bars the login from scheduling the microscope.
    host.addRoute(QStringLiteral("iserv:schdnow"), [&w](const HostRequest& r) {
        const QString login = r.value(QStringLiteral("l"));
        const QString scopeName = r.value(QStringLiteral("s"));
        SimScope* scope = w.scope(scopeName);
        if (!scope || !w.checkRequest(QStringLiteral("sched"), login, scopeName, r.value(QStringLiteral("auth")))
            || w.schedulingBarred(scopeName, login, w.now()))
            return HostReply::text("-N");
        if (!scope->reservable)
            return HostReply::text("-R");
        const qint64 now = w.now();
        const Reservation* next = w.nextOfAnyone(scopeName, now);
        if (const Reservation* mine = w.current(scopeName, login, now))
            return HostReply::text("+OK " + QByteArray::number(mine->end() - now) + ' '
                                   + QByteArray::number(next ? next->start : -1) + '\n');
        if (w.overlaps(scopeName, now, 1))
            return HostReply::text("-B");        // someone else holds it now
        qint64 length = qint64(scope->maxMinutes) * 60;
        if (next) {
            if (next->start - now < 300)
                return HostReply::text("-T");
            length = qMin(length, next->start - now);
        }
        w.book(scopeName, {login, now, length});
        return HostReply::text("+OK " + QByteArray::number(length) + ' '
                               + QByteArray::number(next ? next->start : -1) + '\n');
    });

    host.addRoute(QStringLiteral("iserv:ticket"), [&w](const HostRequest& r) {
        const QString login = r.value(QStringLiteral("l"));
        const QString scope = r.value(QStringLiteral("s"));
        if (!knownUser(w, login))
            return HostReply::text("-NO_AUTHORIZATION");
        if (!w.current(scope, login, w.now()))
            return HostReply::text("-UNSCHEDULED");
        return HostReply::text("+OK " + hex(w.issueTicket(QStringLiteral("session"), login, scope)) + '\n');
    });
}
