// brolt-simhost: the simulated service host on loopback.
#include "SimHost.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QGuiApplication>
#include <cstdio>

int main(int argc, char** argv)
{
    // Pictures are rendered with QPainter on QImage, which needs a GUI application object.
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? QByteArray("offscreen")
                                                                     : qgetenv("QT_QPA_PLATFORM"));
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("brolt-simhost"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Simulated microscope service host on 127.0.0.1"));
    parser.addHelpOption();
    QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("Port to listen on."),
                                  QStringLiteral("port"), QStringLiteral(DEFAULT_PORT));
    parser.addOption(portOption);
    parser.process(app);

    bool ok = false;
    const uint port = parser.value(portOption).toUInt(&ok);
    if (!ok || port > 65535) {
        std::fprintf(stderr, "brolt-simhost: bad port\n");
        return 2;
    }
    SimHost host;
    if (!host.listen(quint16(port))) {
        std::fprintf(stderr, "brolt-simhost: cannot listen on 127.0.0.1:%u\n", port);
        return 1;
    }
    std::printf("brolt-simhost listening on %s\n", qPrintable(host.hostField()));
    std::fflush(stdout);
    return app.exec();
}
