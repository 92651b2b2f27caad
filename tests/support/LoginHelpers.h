#pragma once

// Drives the log-in dialog against a simulated host (header-only: test executables link the
// dialog's library themselves).
#include "ScopeBrowser.h"
#include "TestHost.h"

#include <QTest>

inline void fillLogin(ScopeBrowser& b, const TestHost& host, const QString& login, const QString& password)
{
    b.hostName->setText(host.field());
    b.loginBox->setText(login);
    b.passwordBox->setText(password);
}

// Connects, waits for the list and for the reservation sweep to end.
inline bool connectAndSweep(ScopeBrowser& b, const TestHost& host, const QString& login = "guest",
                            const QString& password = "guest")
{
    fillLogin(b, host, login, password);
    b.connectToServer->click();
    return QTest::qWaitFor([&] { return !b.isFirstConnect() && !b.isListing() && !b.sweepRunning(); }, 10000);
}

inline int rowOf(const ScopeBrowser& b, const QString& name)
{
    for (int i = 0; i < b.scopeListBox->count(); ++i)
        if (b.scopeListBox->item(i)->text() == name)
            return i;
    return -1;
}
