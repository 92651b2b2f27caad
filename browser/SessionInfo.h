#pragma once

#include "ScopeRecord.h"

// What the log-in dialog hands to the control window.
struct SessionInfo
{
    ScopeRecord scope;
    QString host;               // as typed, without "http://"
    QString baseQuery;          // "/cgi-bin/iserv?l=<login>&s=<scope>&"
    quint32 ticket = 0;
    QString login;
    QString password;
};
