#pragma once

#include "SimHost.h"

#include <QTest>
#include <memory>

// A simulated host on a free loopback port, for one test function.
struct TestHost
{
    TestHost() : host(std::make_unique<SimHost>())
    {
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
    std::unique_ptr<SimHost> host;
};
