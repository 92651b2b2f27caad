#include "ScopeBrowser.h"

#include <QApplication>
#include <QImageReader>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    // Without the JPEG reader every picture of the service would silently stay empty.
    if (!QImageReader::supportedImageFormats().contains("jpeg"))
        qWarning("brolt: this Qt installation cannot read JPEG images; no pictures will be shown");
    auto* browser = new ScopeBrowser;
    browser->setAppRef(&app);
    browser->show();
    QObject::connect(&app, &QGuiApplication::lastWindowClosed, &app, &QCoreApplication::quit);
    return app.exec();
}
