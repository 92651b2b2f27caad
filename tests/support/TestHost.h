#pragma once

#include "HostAuth.h"
#include "SimHost.h"

#include <QTest>
#include <memory>

// A simulated host on a free loopback port, for one test function. Its stages move and focus
// within tens of milliseconds and answer polls within a few (StageSettings::fast).
struct TestHost
{
    TestHost() : host(std::make_unique<SimHost>())
    {
        host->world().stageSettings = StageSettings::fast();
        if (!host->listen(0))
            qFatal("simulated host cannot listen");
    }
    SimHost* operator->() { return host.get(); }
    SimHost& operator*() { return *host; }
    QString field() const { return host->hostField(); }
    QString url(const QString& path) const { return QStringLiteral("http://") + field() + path; }
    // The raw queries sent on a route, in order.
    QList<QByteArray> queries(const QString& route) const
    {
        QList<QByteArray> out;
        for (const auto& e : host->requests(route))
            out << e.rawQuery;
        return out;
    }
    // An "&auth=" value for the login's control-window commands on a microscope, on a fresh
    // session ticket (the login must be known to the world).
    QString auth(const QString& login, const QString& scope, quint32 r = 0x1234)
    {
        const quint32 ticket = host->world().issueTicket(QStringLiteral("session"), login, scope);
        return HostAuth::requestString(host->world().user(login)->password, ticket, r);
    }
    std::unique_ptr<SimHost> host;
};
