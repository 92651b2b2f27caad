#include "ScopeBrowser.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    auto* browser = new ScopeBrowser;
    browser->setAppRef(&app);
    browser->show();
    QObject::connect(&app, &QGuiApplication::lastWindowClosed, &app, &QCoreApplication::quit);
    return app.exec();
}
