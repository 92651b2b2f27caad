// Built-in images: offered by name from before the application object exists until the
// collection is removed, each unpacked once; broken entries give null images.
#include "EmbeddedImages.h"

#include <QGuiApplication>
#include <QTest>
#include <cstdio>
#include <iterator>

namespace {

struct Row
{
    const char* name;
    int width;
    int height;
    bool alpha;
};

const Row rows[] = {
    {"editcopy", 22, 22, true},   {"editcut", 22, 22, true},    {"editpaste", 22, 22, true},
    {"filenew", 22, 22, true},    {"fileopen", 22, 22, true},   {"filesave", 22, 22, true},
    {"print", 22, 22, true},      {"redo", 22, 22, true},       {"searchfind", 22, 22, true},
    {"undo", 22, 22, true},       {"Up.png", 13, 19, true},     {"backdrop.jpg", 640, 480, false},
};

} // namespace

class TestEmbeddedImages : public QObject
{
    Q_OBJECT
private slots:
    void secondRequestFromStore();
    void names_data();
    void names();
    void pictures_data();
    void pictures();
    void brokenEntries_data();
    void brokenEntries();
};

void TestEmbeddedImages::secondRequestFromStore()
{
    ImageSourceFactory* lookup = ImageSourceFactory::defaultFactory();
    const int before = embeddedImageUnpackCount();
    const QImage first = lookup->data(QStringLiteral("filenew"));
    QCOMPARE(first.size(), QSize(22, 22));
    QVERIFY(first.hasAlphaChannel());
    QCOMPARE(embeddedImageUnpackCount(), before + 1);
    const QImage second = lookup->data(QStringLiteral("filenew"));
    QCOMPARE(embeddedImageUnpackCount(), before + 1);
    QCOMPARE(second.cacheKey(), first.cacheKey());
}

void TestEmbeddedImages::names_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("found");
    QTest::newRow("exact") << QStringLiteral("Up.png") << true;
    QTest::newRow("other case") << QStringLiteral("up.png") << false;
    QTest::newRow("no extension") << QStringLiteral("Up") << false;
    QTest::newRow("prefix of a name") << QStringLiteral("file") << false;
    QTest::newRow("empty") << QString(QLatin1String("")) << false;
    QTest::newRow("null") << QString() << false;
}

void TestEmbeddedImages::names()
{
    QFETCH(QString, name);
    QFETCH(bool, found);
    QCOMPARE(!ImageSourceFactory::defaultFactory()->data(name).isNull(), found);
    QCOMPARE(!findEmbeddedImage(name).isNull(), found);
}

void TestEmbeddedImages::pictures_data()
{
    QTest::addColumn<int>("row");
    for (int i = 0; i < int(std::size(rows)); ++i)
        QTest::newRow(rows[i].name) << i;
}

void TestEmbeddedImages::pictures()
{
    QFETCH(int, row);
    const Row& want = rows[row];
    QCOMPARE(embeddedImageTable[row].name, want.name);
    if (row == int(std::size(rows)) - 1)
        QVERIFY(!embeddedImageTable[row + 1].data);

    const QImage image = findEmbeddedImage(QString::fromUtf8(want.name));
    QCOMPARE(image.size(), QSize(want.width, want.height));
    QCOMPARE(image.hasAlphaChannel(), want.alpha);
    int transparent = 0, opaque = 0, partial = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const int a = qAlpha(image.pixel(x, y));
            (a == 0 ? transparent : a == 255 ? opaque : partial)++;
        }
    }
    QCOMPARE(partial, 0);
    QVERIFY(opaque > 0);
    if (want.alpha) {
        QVERIFY(transparent > 0);
    } else {
        QCOMPARE(transparent, 0);
        QVERIFY(qGray(image.pixel(0, image.height() - 1)) > qGray(image.pixel(image.width() - 1, 0)));
    }
}

void TestEmbeddedImages::brokenEntries_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("bytes");
    QTest::addColumn<bool>("valid");
    QTest::newRow("whole") << 3 << 2 << 24 << true;
    QTest::newRow("one byte short") << 3 << 2 << 23 << false;
    QTest::newRow("no pixels") << 3 << 2 << 0 << false;
}

void TestEmbeddedImages::brokenEntries()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, bytes);
    QFETCH(bool, valid);
    QByteArray pixels;
    for (int i = 0; i < bytes; ++i)
        pixels.append("\x10\x20\x30\xff"[i % 4]);
    const QByteArray packed = qCompress(pixels);
    const EmbeddedImage entry = {width, height, 32, reinterpret_cast<const unsigned char*>(packed.constData()),
                                 static_cast<unsigned long>(packed.size()), 0, nullptr, true, "test"};
    const QImage image = unpackEmbeddedImage(entry);
    QCOMPARE(!image.isNull(), valid);
    if (valid)
        QCOMPARE(image.pixel(width - 1, height - 1), qRgba(0x30, 0x20, 0x10, 0xff));
}

int main(int argc, char** argv)
{
    // The library's static initialiser has installed the collection; no application exists yet.
    const bool early = !QCoreApplication::instance()
        && ImageSourceFactory::defaultFactory()->data(QStringLiteral("Up.png")).size() == QSize(13, 19);
    if (!early) {
        std::fprintf(stderr, "FAIL: no image by name before the application object\n");
        return 1;
    }

    int rc;
    {
        QGuiApplication app(argc, argv);
        TestEmbeddedImages t;
        rc = QTest::qExec(&t, argc, argv);
    }
    if (rc != 0)
        return rc;

    // Installing again while installed adds nothing, so one removal takes every name away.
    initEmbeddedImages();
    cleanupEmbeddedImages();
    for (const Row& r : rows) {
        if (!ImageSourceFactory::defaultFactory()->data(QString::fromUtf8(r.name)).isNull()) {
            std::fprintf(stderr, "FAIL: \"%s\" still found after clean-up\n", r.name);
            return 1;
        }
    }
    cleanupEmbeddedImages();
    std::printf("PASS: images by name before the application and none after clean-up\n");
    return 0;
}

#include "tst_embeddedimages.moc"
