#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

// The simulated service's state: users, microscopes with their slides and schedules, tickets.
struct SimUser
{
    QString login;
    QString password;
    bool banned = false;        // known to the host but refused every ticket
};

struct Reservation
{
    QString login;
    qint64 start = 0;           // epoch seconds
    qint64 length = 0;          // seconds
    qint64 end() const { return start + length; }
};

struct SimScope
{
    QString name;
    bool reservable = true;     // "$" in the list, else "#"
    int maxMinutes = 60;
    QString description;        // HTML, never holds '^'
    QStringList slides;         // the first is under the stage
    double mppX = 0.19608;      // micrometres per pixel at 640 x 480
    double mppY = 0.19608;
    QList<Reservation> schedule;
};

class World
{
public:
    // The demonstration world: three microscopes, demo logins, a few reservations.
    World();

    QString banner;
    QList<SimUser> users;
    QList<SimScope> scopes;

    // Seconds added to the real clock; tests may replace the clock altogether.
    qint64 clockOffset = 0;
    std::function<qint64()> clock;
    qint64 now() const;

    SimUser* user(const QString& login);
    SimScope* scope(const QString& name);

    // The user's reservation on a microscope that holds `at`, or the next one after it.
    const Reservation* current(const QString& scope, const QString& login, qint64 at) const;
    const Reservation* next(const QString& scope, const QString& login, qint64 at) const;
    // The first reservation of anyone that starts after `at`.
    const Reservation* nextOfAnyone(const QString& scope, qint64 at) const;
    bool overlaps(const QString& scope, qint64 start, qint64 length) const;
    void book(const QString& scope, const Reservation& r);

    // Tickets per kind ("sched", "session"), login and microscope. Several may be outstanding.
    quint32 issueTicket(const QString& kind, const QString& login, const QString& scope);
    bool checkRequest(const QString& kind, const QString& login, const QString& scope,
                      const QString& authHex) const;

    // The "f=i" reply.
    QByteArray listReply() const;

private:
    QHash<QString, QList<quint32>> tickets;
    quint32 ticketSeed = 0x5a17c3e9;
};
