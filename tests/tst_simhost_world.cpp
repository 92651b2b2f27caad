// The simulated host's slide world over loopback: what client tests rely on. Picture sizes, the
// tissue/glass brightness rule, calibration files, frames against stage and focus, point lists.
#include "TestHost.h"

#include <QEventLoop>
#include <QImage>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QTest>
#include <cmath>

namespace {

struct Got
{
    int status = 0;
    QByteArray body;
    QImage image() const { return QImage::fromData(body, "JPEG").convertToFormat(QImage::Format_RGB32); }
};

Got get(TestHost& host, const QString& path)
{
    static QNetworkAccessManager nam;
    QNetworkReply* reply = nam.get(QNetworkRequest(QUrl(host.url(path))));
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    reply->deleteLater();
    return {reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), reply->readAll()};
}

QString frameUrl(const QString& scope, const QString& tail = QStringLiteral("p&ps=1"))
{
    return QStringLiteral("/cgi-bin/iserv?l=guest&s=") + scope + QStringLiteral("&f=") + tail;
}

QImage frame(TestHost& host, const QString& scope) { return get(host, frameUrl(scope)).image(); }

// Mean R+G+B over `r`, every `step`th pixel each way: glass is above 675, tissue is not.
double meanSum(const QImage& img, QRect r, int step = 1)
{
    double s = 0, n = 0;
    for (int y = r.top(); y <= r.bottom(); y += step)
        for (int x = r.left(); x <= r.right(); x += step, ++n)
            s += qRed(img.pixel(x, y)) + qGreen(img.pixel(x, y)) + qBlue(img.pixel(x, y));
    return s / n;
}

// A fiducial file: eight marks in plain decimal (a leading 0 would read as octal to "%i"), then
// the slide's size in mm.
struct Marks { QPointF tl, tr, bl, br; };

bool readMarks(const QByteArray& text, Marks& m)
{
    static const QRegularExpression form(
        QStringLiteral("^(?:(?:0|-?[1-9][0-9]*)\\s+){8}75\\.67\\s+50\\.325\\s*$"));
    if (!form.match(QString::fromLatin1(text)).hasMatch())
        return false;
    const QList<QByteArray> v = text.simplified().split(' ');
    auto at = [&v](int i) { return QPointF(v[i].toInt(), v[i + 1].toInt()); };
    m = {at(0), at(2), at(4), at(6)};
    return true;
}

// Stage (0.1 um) to whole-slide pixel through the marks.
QPoint toPixel(const Marks& m, QPointF stage)
{
    const double u = stage.x() / 756700.0, v = stage.y() / 503250.0;
    const QPointF p = m.tl + (m.tr - m.tl) * u + (m.bl - m.tl) * v;
    return {int(std::floor(p.x())), int(std::floor(p.y()))};
}

QList<QPointF> parsePoints(const QByteArray& body)
{
    QList<QPointF> out;
    for (const QByteArray& line : body.split('\n'))
        if (const QList<QByteArray> f = line.split(' '); f.size() == 3)
            out.append({f[1].toDouble(), f[2].toDouble()});
    return out;
}

// Mean absolute difference per component of `ra` in `a` and the same-sized area at `pb` in `b`.
double meanDiff(const QImage& a, QRect ra, const QImage& b, QPoint pb)
{
    double s = 0;
    for (int y = 0; y < ra.height(); ++y)
        for (int x = 0; x < ra.width(); ++x) {
            const QRgb p = a.pixel(ra.x() + x, ra.y() + y), q = b.pixel(pb.x() + x, pb.y() + y);
            s += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) + std::abs(qBlue(p) - qBlue(q));
        }
    return s / (3.0 * ra.width() * ra.height());
}

// A slide point of full tissue density near the slide's centre.
QPointF tissuePoint(const SlideWorld& w)
{
    for (double r = 0; r < 200000; r += 2500)
        for (double a = 0; a < 6.28; a += 0.4) {
            const double x = SlideGeometry::kCentreX + r * std::cos(a), y = SlideGeometry::kCentreY + r * std::sin(a);
            bool all = true;
            for (double d : {0.0, 3000.0, -3000.0})
                all = all && w.tissueAt(x + d, y) > 0.99 && w.tissueAt(x, y + d) > 0.99;
            if (all)
                return {x, y};
        }
    return {};
}

} // namespace

class TestSimHostWorld : public QObject
{
    Q_OBJECT
private slots:
    void sizesAndMissingFiles();
    void fiducialFiles();
    void pointListsOnTissue();
    void framesFollowStageAndFocus();
};

void TestSimHostWorld::sizesAndMissingFiles()
{
    TestHost host;
    const QList<QPair<QString, QSize>> sizes = {
        {"/small_slides/L0003", {757, 503}}, {"/whole_slides/L0003", {3060, 2036}},
        {frameUrl("tall"), {640, 480}}, {frameUrl("tall", "p&ps=2"), {800, 600}},
        {frameUrl("tall", "p&ps=3"), {1024, 768}}, {frameUrl("tall", "p&ps=4"), {1280, 960}},
        {frameUrl("tall", "p&ps=5"), {640, 480}}, {frameUrl("tall", "p&ps=x"), {640, 480}},
        {frameUrl("tall", "p"), {640, 480}}, {frameUrl("tall", "p&ps=2&x=9999&y=-40&inset=1"), {168, 140}}};
    for (const auto& s : sizes)
        QCOMPARE(get(host, s.first).image().size(), s.second);

    // The overview: mostly glass, with a clearly darker section somewhere.
    const QImage ov = get(host, "/small_slides/L0003").image();
    int glass = 0, tissue = 0;
    for (int y = 0; y < ov.height(); y += 3)
        for (int x = 0; x < ov.width(); x += 3)
            (meanSum(ov, QRect(x, y, 1, 1)) > 675 ? glass : tissue)++;
    QVERIFY2(glass > tissue && tissue > (glass + tissue) / 50, qPrintable(QStringLiteral("%1 %2").arg(glass).arg(tissue)));

    for (const QString& path : {QStringLiteral("/small_slides/nosuch"), QStringLiteral("/whole_slides/liver01.tall"),
                                QStringLiteral("/fiducials/nosuch"), QStringLiteral("/fiducials/liver01.dark.new"),
                                QStringLiteral("/fiducials/.new"), frameUrl("nosuch")}) {
        const Got g = get(host, path);
        QCOMPARE(g.status, 404);
        QVERIFY(g.body.isEmpty());
    }
}

void TestSimHostWorld::fiducialFiles()
{
    TestHost host;
    QStringList slides;
    for (const SimScope& s : host->world().scopes)
        slides += s.slides;
    for (const LibrarySlide& l : host->world().library)
        slides += l.id;
    QSet<QByteArray> distinct;
    for (const QString& slide : slides) {
        const Got g = get(host, "/fiducials/" + slide);
        Marks m;
        QVERIFY2(g.status == 200 && readMarks(g.body, m), g.body.constData());
        // The marks frame the slide area inside the 3060 x 2036 picture.
        QVERIFY(m.tl.x() > 50 && m.tl.y() > 40 && m.br.x() < 3010 && m.br.y() < 2000);
        QVERIFY(std::abs(m.tr.x() - m.tl.x() - 2860) < 20 && std::abs(m.bl.y() - m.tl.y() - 1900) < 20);
        distinct.insert(g.body);
    }
    QVERIFY(distinct.size() > slides.size() / 2);

    // A corrected file for one slide and microscope pair, off the slide's own.
    Marks base, corrected;
    QVERIFY(readMarks(get(host, "/fiducials/liver01").body, base));
    QVERIFY(readMarks(get(host, "/fiducials/liver01.tall.new").body, corrected));
    QVERIFY(corrected.tl != base.tl);
}

void TestSimHostWorld::pointListsOnTissue()
{
    // (The library slides' lists are checked through the client in tst_slideviews_host.)
    TestHost host;
    // A job's stacks name its slide first and lie on its tissue; its null stacks on glass.
    const QByteArray jobList = get(host, "/cgi-bin/icount?f=jl&j=J1001&c=1").body;
    const QList<QPointF> stacks = parsePoints(jobList);
    const QList<QPointF> nulls = parsePoints(get(host, "/cgi-bin/icount?f=sbl&s=J1001&c=1").body);
    QVERIFY(jobList.startsWith("kidney02 "));
    QVERIFY(stacks.size() >= 5 && nulls.size() >= 5);
    const QImage ws = get(host, "/whole_slides/kidney02").image();
    Marks m;
    QVERIFY(readMarks(get(host, "/fiducials/kidney02").body, m));
    for (const QPointF& p : stacks + nulls) {
        const double s = meanSum(ws, QRect(toPixel(m, p) - QPoint(1, 1), QSize(3, 3)));
        QVERIFY2(stacks.contains(p) ? s <= 675 : s > 675, qPrintable(QStringLiteral("%1 %2").arg(p.x()).arg(p.y())));
    }

    // Lists without points are empty 200 replies, never 404s.
    for (const char* path : {"/cgi-bin/icount?f=sl&s=liver01", "/cgi-bin/icount?f=sl&s=nosuch",
                             "/cgi-bin/icount?f=jl&j=nosuch&c=1", "/cgi-bin/icount?f=sbl&s=L0001&c=1"}) {
        const Got g = get(host, path);
        QCOMPARE(g.status, 200);
        QVERIFY2(g.body.isEmpty(), path);
    }
}

// On tissue in focus the frame is dark, moves with the stage and blurs with |z - focus|.
void TestSimHostWorld::framesFollowStageAndFocus()
{
    TestHost host;
    World& w = host->world();
    const QString scope = QStringLiteral("handsome");
    const QPointF p = tissuePoint(*w.slide(w.mountedSlide(scope)));
    QVERIFY(!p.isNull());
    const double focus = w.focusUnderStage(scope, p.x(), p.y());
    w.placeStage(scope, {p.x(), p.y(), focus});
    const QImage a = frame(host, scope);
    QVERIFY(meanSum(a, a.rect(), 4) <= 675);

    // Half a field to the right and a quarter down: the frame moves by 320 and 120 pixels.
    const QPointF field = w.cameraField(scope);
    w.placeStage(scope, {p.x() + field.x() / 2, p.y() + field.y() / 4, focus});
    const QImage b = frame(host, scope);
    const double overlap = meanDiff(a, QRect(320, 120, 320, 360), b, {0, 0});
    const double unshifted = meanDiff(a, QRect(320, 120, 320, 360), a, {0, 0});
    QVERIFY2(overlap < 4 && unshifted > 4 * overlap, qPrintable(QStringLiteral("%1 %2").arg(overlap).arg(unshifted)));

    // Blur grows with |z - focus|, alike above and below.
    auto detailAt = [&](double dz) {
        w.placeStage(scope, {p.x(), p.y(), focus + dz});
        const QImage f = frame(host, scope);
        return meanDiff(f, QRect(1, 0, 639, 480), f, {0, 0});      // the frame's fine detail
    };
    const double sharp = detailAt(0), soft = detailAt(150), below = detailAt(-150), softer = detailAt(400);
    QVERIFY2(sharp > 1.5 && soft < 0.8 * sharp && softer < 0.8 * soft && std::abs(soft - below) < 0.25 * soft + 0.2,
             qPrintable(QStringLiteral("%1 %2 %3 %4").arg(sharp).arg(soft).arg(below).arg(softer)));
}

QTEST_MAIN(TestSimHostWorld)
#include "tst_simhost_world.moc"
