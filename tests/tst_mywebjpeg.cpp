// JPEG fetcher: one picture signal per successful transfer, none on failure, both modes.
#include "JpegSynth.h"
#include "MyHTTP.h"
#include "MyWebJPEG.h"
#include "TestHost.h"
#include "TestImages.h"

#include <QBuffer>
#include <QColorSpace>
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
    void requestWhileBusyIsDropped();
    void decoderMemoryCounted();
    void hostSegmentsLeftOut();
    void largeReplyGivesBackItsBuffer();
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

void TestMyWebJPEG::requestWhileBusyIsDropped()
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
    const QString first = host.url("/cgi-bin/iserv?f=p&ps=1");
    j.setURL(first);
    j.get();
    j.get();
    // A URL set meanwhile is dropped too: url() still names what the next get() fetches.
    j.setURL(host.url("/cgi-bin/iserv?f=p&ps=4"));
    QCOMPARE(j.url(), first);
    QVERIFY(images.wait());
    QVERIFY(!images.wait(600));
    QCOMPARE(images.count(), 1);
    QCOMPARE(host->count("iserv:p"), 1);
    j.get();
    QVERIFY(images.wait());
    QCOMPARE(host.queries("iserv:p"), QList<QByteArray>(2, "f=p&ps=1"));
    QCOMPARE(j.url(), first);
}

namespace {

QImage decoded(const QByteArray& bytes)
{
    return MyWebJPEG::decode(reinterpret_cast<const uchar*>(bytes.constData()), int(bytes.size()));
}

int levels(int c, int bx, int by)
{
    return (bx * 37 + by * 11 + c * 90) % 256;
}

} // namespace

void TestMyWebJPEG::decoderMemoryCounted()
{
    // 3800 x 3800 decodes to 55 MiB. In one scan that is all the decoder holds; coded in
    // several scans it also holds every coefficient, 2 bytes a sample of each component:
    // 138 MiB without subsampling, 165 MiB for CMYK. Those are refused from the header.
    JpegSynth::Spec spec;
    spec.width = spec.height = 3800;
    spec.level = levels;
    const QImage plain = decoded(JpegSynth::write(spec));
    QCOMPARE(plain.size(), QSize(3800, 3800));
    spec.progressive = true;
    QVERIFY(decoded(JpegSynth::write(spec)).isNull());
    spec.components = 4;
    QVERIFY(decoded(JpegSynth::write(spec)).isNull());
    // A smaller picture of each kind is still shown, as the decoder gives it.
    for (int components : {3, 4}) {
        spec.width = spec.height = 1500;
        spec.components = components;
        const QByteArray bytes = JpegSynth::write(spec);
        const QImage small = decoded(bytes);
        QVERIFY(!small.isNull());
        QCOMPARE(small, QImage::fromData(bytes, "JPEG"));
    }
}

void TestMyWebJPEG::hostSegmentsLeftOut()
{
    // Comments and metadata segments from the host reach neither the picture's text nor the
    // decoder, wherever they stand; every pixel (and a colour profile) comes out as the
    // decoder gives it from the whole file.
    QImage detailed(97, 61, QImage::Format_RGB32);
    for (int y = 0; y < detailed.height(); ++y)
        for (int x = 0; x < detailed.width(); ++x)
            detailed.setPixel(x, y, qRgb((x * 7) % 256, (y * 13) % 256, (x * y) % 256));
    const QByteArray comment = JpegSynth::segment(0xFE, "Description: from the host")
                               + JpegSynth::comments(70000, 'k');
    QByteArray exif("Exif\0\0MM\0*\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0\x06\0\0\0\0\0\0", 32);
    const QByteArray metadata = JpegSynth::segment(0xE1, exif) + JpegSynth::segment(0xE2, QByteArray("FPXR\0", 5) + QByteArray(300, 'f'));

    QImage profiled = detailed;
    profiled.setColorSpace(QColorSpace::ProPhotoRgb);
    QByteArray betweenScans = TestImages::jpeg(detailed, 95, true);
    betweenScans.insert(betweenScans.indexOf("\xFF\xDA", betweenScans.indexOf("\xFF\xDA") + 2), comment + metadata);

    JpegSynth::Spec cmyk;
    cmyk.width = 45;
    cmyk.height = 30;
    cmyk.components = 4;
    cmyk.acTerms = 9;
    cmyk.level = levels;
    JpegSynth::Spec ycck = cmyk;
    cmyk.afterSoi = comment + JpegSynth::adobe(0) + metadata;
    ycck.afterSoi = metadata + JpegSynth::adobe(2) + comment;
    JpegSynth::Spec grey = cmyk;
    grey.components = 1;
    grey.progressive = true;
    grey.afterSoi = comment;

    const QList<QByteArray> pictures = {
        JpegSynth::insertAfterSoi(TestImages::jpeg(detailed), comment + metadata),
        betweenScans,
        JpegSynth::insertAfterSoi(TestImages::jpeg(profiled), comment),
        JpegSynth::write(cmyk),
        JpegSynth::write(ycck),
        JpegSynth::write(grey),
    };
    for (const QByteArray& bytes : pictures) {
        const QImage asWhole = QImage::fromData(bytes, "JPEG");
        QVERIFY(!asWhole.isNull());
        const QImage got = decoded(bytes);
        QCOMPARE(got.textKeys(), QStringList());
        QCOMPARE(got, asWhole);
        QCOMPARE(got.colorSpace(), asWhole.colorSpace());
    }
    QVERIFY(!QImage::fromData(pictures.at(0), "JPEG").textKeys().isEmpty());     // what a decoder keeps
    QVERIFY(decoded(pictures.at(2)).colorSpace().isValid());
}

void TestMyWebJPEG::largeReplyGivesBackItsBuffer()
{
    // A picture followed by 20 MiB: shown, and its request holds no such buffer afterwards,
    // in either mode.
    TestHost host;
    const QByteArray picture = TestImages::jpeg(TestImages::solid(64, 48, qRgb(30, 60, 90)));
    host->script("iserv:p", [&](const HostRequest&) { return HostReply::jpeg(picture + QByteArray(20 << 20, 'x')); });
    for (int mode : {1, 0}) {
        MyWebJPEG j;
        j.setMode(mode);
        QSignalSpy images(&j, &MyWebJPEG::newImageAvailable);
        QSignalSpy pixmaps(&j, &MyWebJPEG::newPixmapAvailable);
        j.setURL(host.url("/cgi-bin/iserv?f=p&ps=1"));
        for (int round = 1; round <= 2; ++round) {
            j.get();
            QTRY_COMPARE(images.count() + pixmaps.count(), round);
            const QImage got = mode == 1 ? images.last().at(0).value<QImage>()
                                         : pixmaps.last().at(0).value<QPixmap>().toImage().convertToFormat(QImage::Format_RGB32);
            QCOMPARE(got, QImage::fromData(picture, "JPEG").convertToFormat(QImage::Format_RGB32));
            QVERIFY(j.request()->bufferCapacity() <= MyHTTP::KeptCapacity);
        }
    }

    // A failed reply as large gives its buffer back as well, before failed() is told: a
    // receiver starting the next transfer there would keep it.
    host->script("iserv:p", [&](const HostRequest&) {
        HostReply r = HostReply::jpeg(picture + QByteArray(20 << 20, 'x'));
        r.status = 500;
        return r;
    });
    MyWebJPEG j;
    int grown = 0;
    int atFailure = -1;
    connect(j.request(), &MyHTTP::progress, &j, [&] { grown = qMax(grown, j.request()->bufferCapacity()); });
    connect(&j, &MyWebJPEG::failed, &j, [&] { atFailure = j.request()->bufferCapacity(); });
    j.setURL(host.url("/cgi-bin/iserv?f=p&ps=1"));
    j.get();
    QTRY_VERIFY_WITH_TIMEOUT(atFailure >= 0, 30000);
    QVERIFY(grown > MyHTTP::KeptCapacity);
    QVERIFY(atFailure <= MyHTTP::KeptCapacity);
    QVERIFY(j.request()->bufferCapacity() <= MyHTTP::KeptCapacity);
}

QTEST_MAIN(TestMyWebJPEG)
#include "tst_mywebjpeg.moc"
