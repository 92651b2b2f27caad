#pragma once

// A control window begun against a simulated host the way the log-in dialog's session start
// begins one (header-only: test executables link the control window's library themselves).
#include "HeldTimer.h"
#include "HighResPreview.h"
#include "LowResPreview.h"
#include "NeighborVideo.h"
#include "Session.h"
#include "TestHost.h"
#include "UserActions.h"
#include "VideoWindow.h"

#include <QTest>

// What the log-in dialog hands over for `login` on the simulated `scope`, the ticket aside:
// the record as the host lists it (names as their UTF-8 bytes), the host and the query prefix.
inline SessionInfo sessionInfoFor(SimHost& host, const QString& scope, const QString& login,
                                  const QString& password)
{
    SessionInfo info;
    info.scope.name = scope;
    info.scope.wireName = scope.toUtf8();
    if (const SimScope* s = host.world().scope(scope)) {
        info.scope.slides = s->slides;
        for (const QString& slide : s->slides)
            info.scope.wireSlides.append(slide.toUtf8());
        info.scope.description = s->description;
        info.scope.reservable = s->reservable;
        info.scope.maxMinutes = s->maxMinutes;
        info.scope.maxMinutesText = QString::number(s->maxMinutes);
    }
    info.host = host.hostField();
    info.login = login;
    info.password = password;
    info.baseQuery = SessionInfo::queryPrefix(login, info.scope.wireName);
    return info;
}

struct SessionFixture
{
    TestHost host;
    SessionInfo info;
    Session* session = nullptr;

    // The session's parameters for `login` on `scope`: the login holds control time there now
    // and `info.ticket` is a session ticket the host issued. Nothing is opened yet; a test may
    // still change `info` or script the host.
    explicit SessionFixture(const QString& scope = QStringLiteral("tall"),
                            const QString& login = QStringLiteral("guest"),
                            const QString& password = QStringLiteral("guest"))
        : info(sessionInfoFor(*host, scope, login, password))
    {
        World& w = host->world();
        const qint64 now = w.now();
        if (!w.current(scope, login, now))
            w.book(scope, {login, now - 60, 3600});
        info.ticket = w.issueTicket(QStringLiteral("session"), login, scope);
    }

    ~SessionFixture()
    {
        if (!session)
            return;
        delete session->videoWindow;
        delete session->neighborVideo;
        delete session;
    }

    SessionFixture(const SessionFixture&) = delete;
    SessionFixture& operator=(const SessionFixture&) = delete;

    // A parentless window, shown, then begun: what the session start does. Its countdown is
    // held: the timer starts as the first remaining-time reply starts it, but each second comes
    // from the test (the timer's timeout), so no tick falls between a test's steps.
    Session* open()
    {
        session = Session::openSession(info);
        if (session)
            HeldTimer::hold(session->controlTimer);
        return session;
    }

    // None of the start and stage requests, nor the previews' own, is running.
    bool idle() const
    {
        Session* s = session;
        const MyHTTP* busy[] = {&s->sysInfoConn, &s->timeConn, &s->moveConn, s->videoJPEG.request(),
                                s->lowRes->jpeg.request(), s->highRes->jpeg.request(), &s->highRes->newFiducials,
                                &s->highRes->oldFiducials, &s->highRes->counts1, &s->highRes->counts2};
        for (const MyHTTP* h : busy)
            if (h->isBusy())
                return false;
        return true;
    }

    // Waits until the session is idle and stays so while pending events are handled.
    bool waitIdle(int timeoutMs = 10000)
    {
        return waitSettled([this] { return idle(); }, 20, timeoutMs);
    }

    // open(), then waits for the start requests, the first poll and its frame.
    bool openAndSettle(int timeoutMs = 10000)
    {
        return open() && waitIdle(timeoutMs);
    }

    QList<QByteArray> queries(const QString& route) const { return host.queries(route); }
};
