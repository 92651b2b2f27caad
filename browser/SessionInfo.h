#pragma once

#include "ScopeRecord.h"
#include "Url.h"

// What the log-in dialog hands to the control window.
struct SessionInfo
{
    ScopeRecord scope;
    QString host;               // as typed, without "http://"
    QString baseQuery;          // "/cgi-bin/iserv?l=<login>&s=<scope>&"
    quint32 ticket = 0;
    QString login;
    QString password;

    // The query prefix of every control-window request: the typed login as UTF-8, the
    // microscope as the bytes the host named it with, each escaped like any URL value.
    static QString queryPrefix(const QString& login, const QByteArray& wireScope)
    {
        return QStringLiteral("/cgi-bin/iserv?l=") + Url::escapeValue(login) + QStringLiteral("&s=")
            + Url::escapeBytes(wireScope) + QLatin1Char('&');
    }
};
