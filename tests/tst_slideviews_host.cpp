// The picture views against the simulated host's own slide world, end to end over loopback.
#include "HighResPreview.h"
#include "LowResPreview.h"
#include "MyHTTP.h"
#include "MyWebJPEG.h"
#include "TestHost.h"

#include <QSignalSpy>
#include <QTest>

namespace {
// The ten values of a fiducial file as the host serves it.
QList<int> marksOf(TestHost& host, const QString& path)
{
    MyHTTP h;
    QSignalSpy done(&h, qOverload<>(&MyHTTP::done));
    h.setUrl(host.url(path));
    h.fetch();
    if (!done.wait() || !h.succeeded())
        return {};
    QList<int> out;
    for (const QByteArray& v : h.reply().split('\n'))
        if (!v.isEmpty() && out.size() < 8)
            out << v.toInt();
    return out;
}

QList<int> marksIn(const HighResPreview& v)
{
    return {v.fiducialTopLeft.x(), v.fiducialTopLeft.y(), v.fiducialTopRight.x(), v.fiducialTopRight.y(),
            v.fiducialBottomLeft.x(), v.fiducialBottomLeft.y(), v.fiducialBottomRight.x(),
            v.fiducialBottomRight.y()};
}
} // namespace

class TestSlideViewsHost : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        qRegisterMetaType<QImage>("QImage&");
        qRegisterMetaType<QPixmap>("QPixmap&");
    }
    void calibrationRoads();
    void libraryDotsOnTissue();
    void slideChangeWhileOverviewLoads();
};

void TestSlideViewsHost::calibrationRoads()
{
    TestHost host;
    HighResPreview v;
    v.resize(383, 270);
    v.setServer(host.field());
    v.fiducialTag = "tall";

    // A corrected file for this slide on this microscope.
    QString slide = QStringLiteral("liver01");
    v.slideChange(slide);
    QTRY_VERIFY_WITH_TIMEOUT(!v.pixmap.isNull() && v.haveNewFiducials, 10000);
    QCOMPARE(v.pixmap.size(), QSize(3060, 2036));
    QCOMPARE(marksIn(v), marksOf(host, "/fiducials/liver01.tall.new"));
    QVERIFY(marksIn(v) != marksOf(host, "/fiducials/liver01"));

    // No corrected file: the slide's own file.
    slide = QStringLiteral("kidney02");
    v.slideChange(slide);
    QTRY_VERIFY_WITH_TIMEOUT(!v.newFiducials.isBusy() && !v.oldFiducials.isBusy() && marksIn(v) == marksOf(host, "/fiducials/kidney02"), 10000);
    QVERIFY(!v.haveNewFiducials);
    QCOMPARE(host->requests("/fiducials/").last().path, QStringLiteral("/fiducials/kidney02"));
}

void TestSlideViewsHost::libraryDotsOnTissue()
{
    TestHost host;
    const LibrarySlide* lib = host->world().librarySlide("L0002");
    QVERIFY(lib && !lib->stacks.isEmpty());
    HighResPreview v;
    v.resize(383, 270);
    v.setServer(host.field());
    v.fiducialTag = "tall";
    v.slideListMode = true;
    QString slide = QStringLiteral("L0002");
    v.slideChange(slide);
    QTRY_VERIFY_WITH_TIMEOUT(v.list1.size() == lib->stacks.size(), 10000);
    QCOMPARE(v.list2.size(), lib->nullStacks.size());
    // Each stack is drawn where the whole-slide picture shows tissue.
    const QImage img = v.backup.toImage();
    int onTissue = 0;
    for (const QPoint& p : v.list1) {
        QVERIFY(QRect(0, 0, 3060, 2036).contains(p));
        // Look beside the dot, which covers the pixel itself.
        const QRgb c = img.pixel(qBound(0, p.x() + 4, 3059), qBound(0, p.y() + 4, 2035));
        if (qRed(c) + qGreen(c) + qBlue(c) <= 675)
            ++onTissue;
    }
    QVERIFY2(onTissue * 10 >= v.list1.size() * 8, qPrintable(QString::number(onTissue)));
}

void TestSlideViewsHost::slideChangeWhileOverviewLoads()
{
    TestHost host;
    MyWebJPEG direct;
    QSignalSpy got(&direct, &MyWebJPEG::newImageAvailable);
    direct.setURL(host.url("/small_slides/kidney02"));
    direct.get();
    QVERIFY(got.wait(10000));
    const QImage kidney = got.at(0).at(0).value<QImage>();
    host->clearLog();

    // The first overview is still on its way when the second slide is chosen: the view ends on
    // the second slide's overview, fetched once the first reply is in.
    host->setDelay("/small_slides/", 300);
    LowResPreview low;
    low.resize(383, 255);
    low.setServer(host.field());
    bool otherShown = false;        // the first slide's overview is never shown
    QObject::connect(&low.jpeg, &MyWebJPEG::newImageAvailable,
                     [&] { otherShown |= !low.image.isNull() && low.image != kidney; });
    QString first = QStringLiteral("liver01");
    QString second = QStringLiteral("kidney02");
    low.slideChange(first);
    QTest::qWait(50);
    low.slideChange(second);
    QTRY_COMPARE_WITH_TIMEOUT(host->count("/small_slides/"), 2, 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!low.jpeg.request()->isBusy() && !low.image.isNull(), 10000);
    QCOMPARE(host->requests("/small_slides/").last().path, QStringLiteral("/small_slides/kidney02"));
    QCOMPARE(low.image, kidney);
    QVERIFY(!otherShown);
}

QTEST_MAIN(TestSlideViewsHost)
#include "tst_slideviews_host.moc"
