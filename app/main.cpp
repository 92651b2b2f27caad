#include "ScopeBrowser.h"
#include "Session.h"

#include <QApplication>
#include <QImageReader>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    // Without the JPEG reader every picture of the service would silently stay empty.
    if (!QImageReader::supportedImageFormats().contains("jpeg"))
        qWarning("brolt: this Qt installation cannot read JPEG images; no pictures will be shown");
    // The log-in dialog opens control windows through this hook; browser/ knows nothing of session/.
    ScopeBrowser::setSessionOpener([](SessionInfo& info) { Session::openSession(info); });
    auto* browser = new ScopeBrowser;
    browser->setAppRef(&app);
    browser->show();
    QObject::connect(&app, &QGuiApplication::lastWindowClosed, &app, &QCoreApplication::quit);
    return app.exec();
}
