// brolt-simhost: the simulated service host on loopback.
#include "ImageRoutes.h"
#include "SimHost.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QGuiApplication>
#include <cstdio>

namespace {

// Insets, and the first frame after a move with "b=y" (a neighbour tile), come as one
// 5000 x 5000 JPEG; other frames as usual.
void answerHugePictures(SimHost& host)
{
    QImage big(5000, 5000, QImage::Format_RGB32);
    for (int y = 0; y < big.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(big.scanLine(y));
        for (int x = 0; x < big.width(); ++x)
            line[x] = qRgb((x / 50) * 2 % 256, (y / 50) * 2 % 256, ((x + y) / 100) * 3 % 256);
    }
    const QByteArray huge = ImageRoutes::jpeg(big);
    host.script(QStringLiteral("iserv:p"), [&host, huge](const HostRequest& r) {
        if (r.value(QStringLiteral("inset")) == QLatin1String("1") || host.frameFollowsBlockingMove())
            return HostReply::jpeg(huge);
        const QImage frame = ImageRoutes::videoFrame(host.world(), r.value(QStringLiteral("s")),
                                                     r.value(QStringLiteral("ps")).toInt());
        return frame.isNull() ? HostReply::notFound() : HostReply::jpeg(ImageRoutes::jpeg(frame));
    });
}

} // namespace

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
    QCommandLineOption hugeOption(QStringLiteral("test-huge-pictures"),
                                  QStringLiteral("For memory tests: answer every focus-stack inset and every frame "
                                                 "that follows a move with \"b=y\" (a neighbour tile) with a "
                                                 "valid 5000 x 5000 JPEG."));
    parser.addOption(hugeOption);
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
    if (parser.isSet(hugeOption))
        answerHugePictures(host);
    std::printf("brolt-simhost listening on %s\n", qPrintable(host.hostField()));
    std::fflush(stdout);
    return app.exec();
}
