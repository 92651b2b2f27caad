// The program ends when its last window closes: "Exit" in the log-in dialog when it is the only
// window; after a session's "Exit", once the neighbour window is closed too.
#include "BoxCloser.h"
#include "LoginHelpers.h"
#include "NeighborVideo.h"
#include "ScopeBrowser.h"
#include "Session.h"
#include "TestHost.h"
#include "VideoWindow.h"

#include <QApplication>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <cstdio>

namespace {

// A program that does not end would be stopped here and fail. The guard ends with its scope, so
// it never stops a later event loop.
struct StopAfter
{
    QTimer timer;
    explicit StopAfter(int ms)
    {
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, [] {
            std::fprintf(stderr, "event loop did not end\n");
            QCoreApplication::exit(3);
        });
        timer.start(ms);
    }
};

bool exitFromLogIn(QApplication& app)
{
    auto* browser = new ScopeBrowser;
    browser->setAppRef(&app);
    browser->show();
    const auto quitting = QObject::connect(&app, &QGuiApplication::lastWindowClosed, &app, &QCoreApplication::quit);
    bool clicked = false;
    QTimer::singleShot(50, browser, [&] {
        clicked = true;
        browser->cancelButton->click();
    });
    const StopAfter guard(30000);
    const int rc = app.exec();
    QObject::disconnect(quitting);
    const bool hidden = !browser->isVisible();
    delete browser;
    if (rc != 0 || !clicked || !hidden) {
        std::fprintf(stderr, "FAIL: log-in dialog's Exit: rc=%d clicked=%d hidden=%d\n", rc, int(clicked), int(hidden));
        return false;
    }
    std::printf("PASS: Exit in the log-in dialog ended the event loop\n");
    return true;
}

bool exitAfterNeighbours(QApplication& app)
{
    TestHost host;
    BoxCloser boxes;
    ScopeBrowser::setSessionOpener([](SessionInfo& info) { Session::openSession(info); });
    QPointer<ScopeBrowser> browser = new ScopeBrowser;
    browser->setAppRef(&app);
    browser->show();
    QPointer<Session> session;
    auto fail = [&](const char* what) {
        std::fprintf(stderr, "FAIL: session's Exit: %s\n", what);
        return false;
    };

    // A session on "tall" with the neighbour mosaic taken, before the program's event loop.
    if (!connectAndSweep(*browser, host))
        return fail("no microscope list");
    browser->reserveButton->click();
    if (!boxes.waitFor(1, 30000) || !QTest::qWaitFor([&] { return browser->beginButton->isEnabled(); }, 30000))
        return fail("no control time");
    browser->beginButton->click();
    if (!QTest::qWaitFor([&] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* s = qobject_cast<Session*>(w); s && s->isVisible())
                    session = s;
            return session && !browser;
        }, 30000))
        return fail("no control window");
    QPointer<VideoWindow> video = session->videoWindow.data();
    QPointer<NeighborVideo> neighbours = session->neighborVideo.data();
    session->neighborButton->click();
    if (!QTest::qWaitFor([&] { return !neighbours->tile(1)->display.isNull() && session->neighborButton->isEnabled(); },
                         120000))
        return fail("no neighbour mosaic");

    const auto quitting = QObject::connect(&app, &QGuiApplication::lastWindowClosed, &app, &QCoreApplication::quit);
    bool neighboursShownAtEnd = true;
    QObject::connect(&app, &QGuiApplication::lastWindowClosed, &app,
                     [&] { neighboursShownAtEnd = neighbours && neighbours->isVisible(); });
    bool leftOpen = false;
    QTimer::singleShot(50, &app, [&] { session->fileExitAction->trigger(); });
    // Still running a while after "Exit", with only the neighbour window open: then it closes.
    QTimer::singleShot(400, &app, [&] {
        leftOpen = neighbours && neighbours->isVisible() && !session->isVisible() && video && !video->isVisible();
        neighbours->close();
    });
    const StopAfter guard(30000);
    const int rc = app.exec();
    QObject::disconnect(quitting);

    ScopeBrowser::setSessionOpener({});
    delete video.data();
    delete neighbours.data();
    delete session.data();
    if (rc != 0 || !leftOpen || neighboursShownAtEnd) {
        std::fprintf(stderr, "FAIL: session's Exit: rc=%d left open=%d neighbours shown at the end=%d\n", rc,
                     int(leftOpen), int(neighboursShownAtEnd));
        return false;
    }
    std::printf("PASS: after the session's Exit the event loop ended with the neighbour window\n");
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const bool logIn = exitFromLogIn(app);
    const bool session = exitAfterNeighbours(app);
    return logIn && session ? 0 : 1;
}
