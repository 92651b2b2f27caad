// "Exit" in the log-in dialog, as the only window, ends the event loop with its result.
#include "ScopeBrowser.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    auto* browser = new ScopeBrowser;
    browser->setAppRef(&app);
    browser->show();
    QObject::connect(&app, &QGuiApplication::lastWindowClosed, &app, &QCoreApplication::quit);
    bool clicked = false;
    QTimer::singleShot(50, browser, [&] {
        clicked = true;
        browser->cancelButton->click();
    });
    // A program that does not end would be stopped here and fail.
    QTimer::singleShot(10000, &app, [] { std::fprintf(stderr, "event loop did not end\n"); QCoreApplication::exit(3); });
    const int rc = app.exec();
    const bool hidden = !browser->isVisible();
    delete browser;
    if (rc != 0 || !clicked || !hidden) {
        std::fprintf(stderr, "FAIL: rc=%d clicked=%d hidden=%d\n", rc, int(clicked), int(hidden));
        return 1;
    }
    std::printf("PASS: Exit ended the event loop\n");
    return 0;
}
