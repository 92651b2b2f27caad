// Control-window commands on the query prefix "l=<login>&s=<scope>&": stage moves "f=m" (with
// "&b=y" answered only once the stage is in place), the position poll "f=w", quick and accurate
// autofocus "f=a" and "f=r", the remaining control time "f=t" and the cancellation "f=rmSch".
//
// Position replies: "*MV <x> <y> <z>" while the stage moves or focuses, "+OK <x> <y> <z>" at
// rest, in 0.1 um. Every command but "f=t" carries "&auth=": "-N" when no session ticket of the
// login on the microscope fits it, "-U" when the login holds no control time there now, "-E"
// for coordinates that are not finite numbers.
#include "SimHost.h"

#include <cmath>

namespace {

QByteArray number(double v)
{
    QByteArray t = QByteArray::number(v, 'f', 3);
    while (t.endsWith('0'))
        t.chop(1);
    if (t.endsWith('.'))
        t.chop(1);
    return t == "-0" ? QByteArray("0") : t;
}

QByteArray positionText(const char* status, const SimStage::Position& p)
{
    return QByteArray(status) + ' ' + number(p.x) + ' ' + number(p.y) + ' ' + number(p.z);
}

// Where the stage is when the reply is written.
QByteArray positionNow(const World& w, const QString& scope)
{
    return positionText(w.stageAtRest(scope) ? "+OK" : "*MV", w.stagePosition(scope));
}

bool coordinate(const HostRequest& r, const char* key, double* out)
{
    bool ok = false;
    const double v = r.value(QLatin1String(key)).toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return false;
    *out = v;
    return true;
}

} // namespace

std::optional<HostReply> controlRefusal(const World& w, const HostRequest& r)
{
    switch (w.checkControl(r.value(QStringLiteral("s")), r.value(QStringLiteral("l")), r.value(QStringLiteral("auth")))) {
    case World::Control::BadTicket:
        return HostReply::text("-N");
    case World::Control::NoControlTime:
        return HostReply::text("-U");
    case World::Control::Granted:
        break;
    }
    return std::nullopt;
}

void addStageRoutes(SimHost& host)
{
    World& w = host.world();

    host.addRoute(QStringLiteral("iserv:m"), [&w](const HostRequest& r) {
        if (auto no = controlRefusal(w, r))
            return *no;
        SimStage::Position to;
        if (!coordinate(r, "x", &to.x) || !coordinate(r, "y", &to.y) || !coordinate(r, "z", &to.z))
            return HostReply::text("-E");
        const QString scope = r.value(QStringLiteral("s"));
        w.moveStage(scope, to);
        if (r.value(QStringLiteral("b")) != QLatin1String("y") || w.stageAtRest(scope))
            return HostReply::text(positionNow(w, scope));
        HostReply wait;
        wait.delayMs = int(qMin<qint64>(w.msToRest(scope), 60000));
        wait.ready = [&w, scope](HostReply& out) {
            if (!w.stageAtRest(scope))
                return false;
            out.body = positionNow(w, scope);
            return true;
        };
        return wait;
    });

    host.addRoute(QStringLiteral("iserv:w"), [&w](const HostRequest& r) {
        if (auto no = controlRefusal(w, r))
            return *no;
        HostReply poll;
        poll.delayMs = w.stageSettings.pollDelayMs;
        poll.ready = [&w, scope = r.value(QStringLiteral("s"))](HostReply& out) {
            out.body = positionNow(w, scope);
            return true;
        };
        return poll;
    });

    for (const bool accurate : {false, true})
        host.addRoute(accurate ? QStringLiteral("iserv:r") : QStringLiteral("iserv:a"), [&w, accurate](const HostRequest& r) {
            if (auto no = controlRefusal(w, r))
                return *no;
            const QString scope = r.value(QStringLiteral("s"));
            w.autofocus(scope, accurate);
            return HostReply::text(positionNow(w, scope));
        });

    // Seconds left as a bare decimal, 0 without a running reservation.
    host.addRoute(QStringLiteral("iserv:t"), [&w](const HostRequest& r) {
        return HostReply::text(QByteArray::number(
            w.controlSecondsLeft(r.value(QStringLiteral("s")), r.value(QStringLiteral("l")), w.now())));
    });

    // "+OK": control ends within the grace time and scheduling that microscope is barred; "-N"
    // for a bad ticket or without a running reservation.
    host.addRoute(QStringLiteral("iserv:rmSch"), [&w](const HostRequest& r) {
        const QString login = r.value(QStringLiteral("l"));
        const QString scope = r.value(QStringLiteral("s"));
        if (w.checkControl(scope, login, r.value(QStringLiteral("auth"))) == World::Control::BadTicket
            || !w.cancelControl(scope, login, w.now()))
            return HostReply::text("-N");
        return HostReply::text("+OK");
    });
}
