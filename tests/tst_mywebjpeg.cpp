// JPEG fetcher: one picture signal per successful transfer, none on failure, both modes.
#include "MyHTTP.h"
#include "MyWebJPEG.h"
#include "TestHost.h"
#include "TestImages.h"

#include <QBuffer>
#include <QImageWriter>
#include <QSignalSpy>
#include <QTest>

class TestMyWebJPEG : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void imageModeDecodes();
    void failedTransferGivesNoPicture();
    void undecodableReply();
    void pixmapMode();
    void getWhileBusyIsDropped();
};

void TestMyWebJPEG::initTestCase()
{
    qRegisterMetaType<QImage>("QImage&");
    qRegisterMetaType<QPixmap>("QPixmap&");
}


void TestMyWebJPEG::imageModeDecodes()
{
    TestHost host;
    QImage picture(64, 48, QImage::Format_RGB32);
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            picture.setPixel(x, y, qRgb(x * 4, y * 5, 128));
    const QByteArray bytes = TestImages::jpeg(picture);
    host->script("iserv:p", [bytes](const HostRequest&) { return HostReply::jpeg(bytes); });

    MyWebJPEG j;
    QSignalSpy images(&j, &MyWebJPEG::newImageAvailable);
    QSignalSpy pixmaps(&j, &MyWebJPEG::newPixmapAvailable);
    QSignalSpy failures(&j, &MyWebJPEG::failed);
    const QString url = host.url("/cgi-bin/iserv?l=a&s=b&f=p&ps=1");
    j.setURL(url);
    j.get();
    QVERIFY(images.wait());
    QCOMPARE(images.count(), 1);
    const QImage got = images.at(0).at(0).value<QImage>();
    QCOMPARE(got, QImage::fromData(bytes, "JPEG"));

    // A second get() after the signal fetches the same URL again.
    j.get();
    QVERIFY(images.wait());
    QCOMPARE(images.count(), 2);
    QCOMPARE(host->count("iserv:p"), 2);
    QCOMPARE(pixmaps.count() + failures.count(), 0);
}

void TestMyWebJPEG::failedTransferGivesNoPicture()
{
    TestHost host;
    // No such file (404), and a 500 carrying perfectly good JPEG bytes: failures in either mode.
    host->script("iserv:bad", [](const HostRequest&) {
        HostReply r = HostReply::jpeg(TestImages::jpeg(TestImages::solid(16, 16, qRgb(200, 10, 10))));
        r.status = 500;
        return r;
    });
    for (int mode : {1, 0})
        for (const char* path : {"/small_slides/none", "/cgi-bin/iserv?f=bad"}) {
            MyWebJPEG j;
            j.setMode(mode);
            QSignalSpy images(&j, &MyWebJPEG::newImageAvailable);
            QSignalSpy pixmaps(&j, &MyWebJPEG::newPixmapAvailable);
            QSignalSpy failures(&j, &MyWebJPEG::failed);
            j.setURL(host.url(path));
            j.get();
            QVERIFY(failures.wait());
            QCOMPARE(failures.count(), 1);
            QCOMPARE(images.count() + pixmaps.count(), 0);
        }
}

void TestMyWebJPEG::undecodableReply()
{
    TestHost host;
    const QByteArray good = TestImages::jpeg(TestImages::solid(32, 32, qRgb(220, 0, 0)));
    QByteArray reply;
    host->script("iserv:p", [&reply](const HostRequest&) { return HostReply::jpeg(reply); });

    // A detailed frame, plain and progressive: cut in half, either would still decode, with
    // its missing part grey.
    QImage frame(640, 480, QImage::Format_RGB32);
    for (int y = 0; y < frame.height(); ++y)
        for (int x = 0; x < frame.width(); ++x)
            frame.setPixel(x, y, qRgb((x * 7) % 256, (y * 3) % 256, (x * y) % 256));
    const QByteArray detailed = TestImages::jpeg(frame);
    QByteArray progressive;
    {
        QBuffer buffer(&progressive);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "jpeg");
        writer.setProgressiveScanWrite(true);
        QVERIFY(writer.write(frame));
    }
    QVERIFY(!QImage::fromData(detailed.left(detailed.size() / 2), "JPEG").isNull());

    // Markup (also as the very first reply), garbage, a JPEG cut short and an empty body each
    // give one signal with a null picture: never the previous one passed off as new, nor a
    // picture with a part missing.
    MyWebJPEG j;
    QSignalSpy images(&j, &MyWebJPEG::newImageAvailable);
    j.setURL(host.url("/cgi-bin/iserv?f=p&ps=1"));
    const QList<QPair<QByteArray, bool>> replies = {
        {"<html>not a picture</html>", false}, {good, true}, {"garbage", false},
        {good.left(good.size() / 3), false}, {QByteArray(), false}, {detailed, true},
        {detailed.left(detailed.size() / 2), false}, {progressive, true},
        {progressive.left(progressive.size() * 3 / 4), false}, {detailed + QByteArray(16, '\0'), true},
    };
    for (const auto& [r, whole] : replies) {
        reply = r;
        const int before = int(images.count());
        j.get();
        QVERIFY(images.wait());
        QCOMPARE(images.count(), before + 1);
        const QImage got = images.last().at(0).value<QImage>();
        QCOMPARE(got, whole ? QImage::fromData(r, "JPEG") : QImage());
    }
}

void TestMyWebJPEG::pixmapMode()
{
    TestHost host;
    const QByteArray bytes = TestImages::jpeg(TestImages::solid(40, 30, qRgb(0, 0, 255)));
    TestImages::scriptFile(*host, "/whole_slides/", "S1", HostReply::jpeg(bytes));
    MyWebJPEG j;
    j.setMode(0);
    QSignalSpy images(&j, &MyWebJPEG::newImageAvailable);
    QSignalSpy pixmaps(&j, &MyWebJPEG::newPixmapAvailable);
    j.setURL(host.url("/whole_slides/S1"));
    j.get();
    QVERIFY(pixmaps.wait());
    QCOMPARE(pixmaps.count(), 1);
    QCOMPARE(images.count(), 0);
    const QPixmap pm = pixmaps.at(0).at(0).value<QPixmap>();
    QCOMPARE(pm.size(), QSize(40, 30));
    QCOMPARE(pm.toImage().convertToFormat(QImage::Format_RGB32),
             QImage::fromData(bytes, "JPEG").convertToFormat(QImage::Format_RGB32));

    // Garbage after a good pixmap: one more signal, with a null pixmap.
    TestImages::scriptFile(*host, "/whole_slides/", "S1", HostReply::jpeg("nope"));
    j.get();
    QVERIFY(pixmaps.wait());
    QCOMPARE(pixmaps.count(), 2);
    QVERIFY(pixmaps.at(1).at(0).value<QPixmap>().isNull());

    // A mode that is neither image nor pixmap hands on nothing.
    j.setMode(7);
    j.get();
    QVERIFY(!pixmaps.wait(500));
    QCOMPARE(images.count(), 0);
}

void TestMyWebJPEG::getWhileBusyIsDropped()
{
    TestHost host;
    const QByteArray bytes = TestImages::jpeg(TestImages::solid(8, 8, qRgb(9, 9, 9)));
    host->script("iserv:p", [bytes](const HostRequest&) {
        HostReply r = HostReply::jpeg(bytes);
        r.delayMs = 200;
        return r;
    });
    MyWebJPEG j;
    QSignalSpy images(&j, &MyWebJPEG::newImageAvailable);
    j.setURL(host.url("/cgi-bin/iserv?f=p&ps=1"));
    j.get();
    j.get();
    QVERIFY(images.wait());
    QVERIFY(!images.wait(600));
    QCOMPARE(images.count(), 1);
    QCOMPARE(host->count("iserv:p"), 1);
}

QTEST_MAIN(TestMyWebJPEG)
#include "tst_mywebjpeg.moc"
