#include "World.h"
#include "HostAuth.h"

#include <QDateTime>

World::World()
{
    started.start();
    banner = QStringLiteral(
        "<h3>Brolt demonstration host</h3>\n"
        "<p>Three slide-scanning microscopes are online. Control time is granted per login;\n"
        "book a slot with <i>Scheduling...</i> or take free time with <i>Reserve Now</i>.</p>\n");

    users = {
        {QStringLiteral("guest"), QStringLiteral("guest"), false},
        {QStringLiteral("library"), QStringLiteral("library"), false},
        {QStringLiteral("alice"), QStringLiteral("secret"), false},
        {QStringLiteral("mallory"), QStringLiteral("mallory"), true},
    };

    SimScope tall;
    tall.name = QStringLiteral("tall");
    tall.reservable = true;
    tall.maxMinutes = 60;
    tall.description = QStringLiteral(
        "<b>tall</b>: upright slide scanner with a 40x objective.<br>\n"
        "Field of view 125 x 94 &micro;m at 640 x 480; z range 0 to 3 mm.");
    tall.slides = {QStringLiteral("liver01"), QStringLiteral("kidney02"), QStringLiteral("lung03")};

    SimScope handsome;
    handsome.name = QStringLiteral("handsome");
    handsome.reservable = false;
    handsome.maxMinutes = 90;
    handsome.description = QStringLiteral(
        "<b>handsome</b>: inverted scanner, 40x objective, booked time only.<br>\n"
        "Use <i>Scheduling...</i> to reserve a slot.");
    handsome.slides = {QStringLiteral("colon11"), QStringLiteral("skin12"), QStringLiteral("brain13")};

    SimScope dark;
    dark.name = QStringLiteral("dark");
    dark.reservable = true;
    dark.maxMinutes = 30;
    dark.description = QStringLiteral(
        "<b>dark</b>: survey scanner with a 10x objective.<br>\n"
        "Field of view 512 x 384 &micro;m at 640 x 480.");
    dark.slides = {QStringLiteral("heart21"), QStringLiteral("spleen22"), QStringLiteral("tonsil23")};
    dark.mppX = dark.mppY = 0.8;

    scopes = {tall, handsome, dark};

    // The guest holds a slot on "handsome" that starts a minute after the host comes up.
    const qint64 t = now();
    scopes[1].schedule.append({QStringLiteral("guest"), t + 60, 30 * 60});
    // Someone else's booking on "tall", so "Reserve Now" grants time only up to it.
    scopes[0].schedule.append({QStringLiteral("alice"), t + 2 * 3600, 3600});

    seedSlides();
}

qint64 World::now() const
{
    return (clock ? clock() : QDateTime::currentSecsSinceEpoch()) + clockOffset;
}

SimUser* World::user(const QString& login)
{
    for (SimUser& u : users)
        if (u.login == login)
            return &u;
    return nullptr;
}

SimScope* World::scope(const QString& name)
{
    for (SimScope& s : scopes)
        if (s.name == name)
            return &s;
    return nullptr;
}

const Reservation* World::current(const QString& scopeName, const QString& login, qint64 at) const
{
    for (const SimScope& s : scopes)
        if (s.name == scopeName)
            for (const Reservation& r : s.schedule)
                if (r.login == login && r.start <= at && at < r.end())
                    return &r;
    return nullptr;
}

const Reservation* World::next(const QString& scopeName, const QString& login, qint64 at) const
{
    const Reservation* best = nullptr;
    for (const SimScope& s : scopes)
        if (s.name == scopeName)
            for (const Reservation& r : s.schedule)
                if (r.login == login && r.start > at && (!best || r.start < best->start))
                    best = &r;
    return best;
}

const Reservation* World::nextOfAnyone(const QString& scopeName, qint64 at) const
{
    const Reservation* best = nullptr;
    for (const SimScope& s : scopes)
        if (s.name == scopeName)
            for (const Reservation& r : s.schedule)
                if (r.start > at && (!best || r.start < best->start))
                    best = &r;
    return best;
}

bool World::overlaps(const QString& scopeName, qint64 start, qint64 length) const
{
    for (const SimScope& s : scopes)
        if (s.name == scopeName)
            for (const Reservation& r : s.schedule)
                if (start < r.end() && r.start < start + length)
                    return true;
    return false;
}

void World::book(const QString& scopeName, const Reservation& r)
{
    if (SimScope* s = scope(scopeName))
        s->schedule.append(r);
}

qint64 World::controlSecondsLeft(const QString& scopeName, const QString& login, qint64 at) const
{
    const Reservation* r = current(scopeName, login, at);
    if (!r)
        return 0;
    qint64 end = r->end();
    for (bool extended = true; extended;) {
        extended = false;
        for (const SimScope& s : scopes)
            if (s.name == scopeName)
                for (const Reservation& o : s.schedule)
                    if (o.login == login && o.start <= end && o.end() > end) {
                        end = o.end();
                        extended = true;
                    }
    }
    return end - at;
}

bool World::cancelControl(const QString& scopeName, const QString& login, qint64 at)
{
    SimScope* s = scope(scopeName);
    if (!s || !current(scopeName, login, at))
        return false;
    // The running reservation and those of the login that follow it without a gap end by `cut`.
    const qint64 cut = at + qMax(0, cancelGraceSeconds);
    const qint64 end = at + controlSecondsLeft(scopeName, login, at);
    for (qsizetype i = s->schedule.size() - 1; i >= 0; --i) {
        Reservation& r = s->schedule[i];
        if (r.login != login || r.end() <= at || r.start > end)
            continue;
        if (r.start >= cut)
            s->schedule.removeAt(i);
        else if (r.end() > cut)
            r.length = cut - r.start;
    }
    schedulingBans.insert(login + QLatin1Char('|') + scopeName, at + qMax(0, cancelBanSeconds));
    return true;
}

bool World::schedulingBarred(const QString& scopeName, const QString& login, qint64 at) const
{
    const auto it = schedulingBans.constFind(login + QLatin1Char('|') + scopeName);
    return it != schedulingBans.constEnd() && at < *it;
}

quint32 World::issueTicket(const QString& kind, const QString& login, const QString& scopeName)
{
    // A simple deterministic sequence; any 32-bit value serves.
    ticketSeed = ticketSeed * 1103515245u + 12345u;
    const quint32 t = ticketSeed ^ 0x9e3779b9u;
    QList<quint32>& list = tickets[kind + QLatin1Char('|') + login + QLatin1Char('|') + scopeName];
    list.append(t);
    if (list.size() > 16)
        list.removeFirst();
    return t;
}

bool World::checkRequest(const QString& kind, const QString& login, const QString& scopeName,
                         const QString& authHex) const
{
    const SimUser* u = nullptr;
    for (const SimUser& x : users)
        if (x.login == login)
            u = &x;
    if (!u || u->banned)
        return false;
    const auto it = tickets.constFind(kind + QLatin1Char('|') + login + QLatin1Char('|') + scopeName);
    if (it == tickets.constEnd())
        return false;
    for (quint32 t : *it)
        if (HostAuth::checkRequest(u->password, t, authHex))
            return true;
    return false;
}

World::Control World::checkControl(const QString& scopeName, const QString& login,
                                   const QString& authHex) const
{
    if (!checkRequest(QStringLiteral("session"), login, scopeName, authHex))
        return Control::BadTicket;
    if (!current(scopeName, login, now()))
        return Control::NoControlTime;
    return Control::Granted;
}

QByteArray World::listReply() const
{
    // UTF-8 throughout, as the host reads the names it is sent.
    QByteArray out = banner.toUtf8();
    if (!out.isEmpty() && !out.endsWith('\n'))
        out += '\n';
    for (const SimScope& s : scopes) {
        out += (s.reservable ? '$' : '#') + s.name.toUtf8() + '\n';
        out += QByteArray::number(s.maxMinutes) + '\n';
        out += s.description.toUtf8() + '\n';
        out += "^\n";
        for (const QString& slide : s.slides)
            out += slide.toUtf8() + '\n';
        out += "^\n";
    }
    return out;
}
