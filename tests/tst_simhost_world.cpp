// The simulated host's slide world over loopback: slide pictures and their calibration files,
// video frames and insets, the system information and the point lists.
#include "ReplyText.h"
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
    Got g;
    g.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    g.body = reply->readAll();
    reply->deleteLater();
    return g;
}

QString frameUrl(const QString& scope, const QString& tail)
{
    return QStringLiteral("/cgi-bin/iserv?l=guest&s=") + scope + QStringLiteral("&f=") + tail;
}

int sum(QRgb c) { return qRed(c) + qGreen(c) + qBlue(c); }

// Mean R+G+B of the 3 x 3 pixels around p.
double meanSum(const QImage& img, QPoint p)
{
    double s = 0;
    int n = 0;
    for (int dy = -1; dy <= 1; ++dy)
        for (int dx = -1; dx <= 1; ++dx)
            if (img.valid(p.x() + dx, p.y() + dy)) {
                s += sum(img.pixel(p.x() + dx, p.y() + dy));
                ++n;
            }
    return n ? s / n : 0;
}

// The ten values of a fiducial file, read the way the client reads them.
struct Marks
{
    QPointF tl, tr, bl, br;
    double w = 0, h = 0;
};

bool parseFiducials(const QByteArray& text, Marks& m)
{
    ReplyText r(text);
    auto s = r.scan();
    double v[10];
    for (int i = 0; i < 8; ++i) {
        const auto n = s.decimal();
        if (!n)
            return false;
        v[i] = double(*n);
    }
    for (int i = 8; i < 10; ++i) {
        const auto n = s.real();
        if (!n)
            return false;
        v[i] = *n;
    }
    s.skipSpace();
    if (!s.atEnd())
        return false;
    m = {{v[0], v[1]}, {v[2], v[3]}, {v[4], v[5]}, {v[6], v[7]}, v[8], v[9]};
    return true;
}

// Stage (0.1 um) to whole-slide pixel through the marks: the corners of the slide area.
QPoint toPixel(const Marks& m, QPointF stage)
{
    const double u = stage.x() / (m.w * 10000.0), v = stage.y() / (m.h * 10000.0);
    const QPointF p = m.tl + (m.tr - m.tl) * u + (m.bl - m.tl) * v;
    return {int(std::floor(p.x())), int(std::floor(p.y()))};
}

QList<QPointF> parsePoints(const QByteArray& body, QString* firstName = nullptr)
{
    QList<QPointF> out;
    for (const QByteArray& line : body.split('\n')) {
        if (line.isEmpty())
            continue;
        const QList<QByteArray> f = line.split(' ');
        if (f.size() != 3)
            return {};
        if (firstName && out.isEmpty())
            *firstName = QString::fromUtf8(f[0]);
        out.append({f[1].toDouble(), f[2].toDouble()});
    }
    return out;
}

// Mean absolute difference of horizontal neighbours in the green channel: the frame's fine detail.
double detail(const QImage& img)
{
    double s = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 1; x < img.width(); ++x)
            s += std::abs(qGreen(img.pixel(x, y)) - qGreen(img.pixel(x - 1, y)));
    return s / (double(img.height()) * (img.width() - 1));
}

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
    void slideFilesAndUnknownNames();
    void fiducialFiles();
    void wholeSlideAgreesWithOverview();
    void pointListsOnTissue();
    void frameSizesAndInsets();
    void frameFieldFollowsStage();
    void videoAgreesWithCalibration();
    void blurGrowsWithDefocus();
    void systemInformation();
    void stageStartsInFocus();
};

void TestSimHostWorld::slideFilesAndUnknownNames()
{
    TestHost host;
    for (const QString& slide : {QStringLiteral("liver01"), QStringLiteral("L0003")}) {
        const Got small = get(host, "/small_slides/" + slide);
        QCOMPARE(small.status, 200);
        const QImage ov = small.image();
        QCOMPARE(ov.size(), QSize(757, 503));
        QVERIFY(std::abs(double(ov.width()) / ov.height() - 75.67 / 50.325) < 0.005);
        QCOMPARE(get(host, "/small_slides/" + slide).body, small.body);

        const Got whole = get(host, "/whole_slides/" + slide);
        QCOMPARE(whole.status, 200);
        const QImage ws = whole.image();
        QCOMPARE(ws.size(), QSize(3060, 2036));
        QCOMPARE(get(host, "/whole_slides/" + slide).body, whole.body);

        // Mostly glass above the tissue threshold, with a clearly darker section somewhere.
        int glass = 0, tissue = 0;
        for (int y = 0; y < ov.height(); y += 3)
            for (int x = 0; x < ov.width(); x += 3)
                (sum(ov.pixel(x, y)) > 675 ? glass : tissue)++;
        QVERIFY2(glass > tissue && tissue > (glass + tissue) / 50, qPrintable(QStringLiteral("%1 %2").arg(glass).arg(tissue)));
        QVERIFY(sum(ov.pixel(5, 250)) > 700);
    }

    // Another slide shows another specimen.
    QVERIFY(get(host, "/small_slides/heart21").body != get(host, "/small_slides/liver01").body);

    for (const QString& path : {QStringLiteral("/small_slides/nosuch"), QStringLiteral("/whole_slides/nosuch"),
                                QStringLiteral("/fiducials/nosuch"), QStringLiteral("/small_slides/"),
                                QStringLiteral("/whole_slides/liver01.tall")}) {
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
    QSet<QString> distinct;
    static const QRegularExpression plainInt(QStringLiteral("^(0|-?[1-9][0-9]*)$"));
    for (const QString& slide : slides) {
        const Got g = get(host, "/fiducials/" + slide);
        QCOMPARE(g.status, 200);
        const QList<QByteArray> tokens = g.body.simplified().split(' ');
        QCOMPARE(tokens.size(), 10);
        for (int i = 0; i < 8; ++i)         // "%i" would read a leading 0 as octal
            QVERIFY2(plainInt.match(QString::fromLatin1(tokens[i])).hasMatch(), tokens[i].constData());
        Marks m;
        QVERIFY(parseFiducials(g.body, m));
        QCOMPARE(m.w, 75.67);
        QCOMPARE(m.h, 50.325);
        // The marks frame the slide area inside the 3060 x 2036 picture.
        QVERIFY(m.tl.x() > 50 && m.tl.y() > 40 && m.br.x() < 3010 && m.br.y() < 2000);
        QVERIFY(std::abs(m.tr.x() - m.tl.x() - 2860) < 20 && std::abs(m.bl.y() - m.tl.y() - 1900) < 20);
        distinct.insert(QString::fromLatin1(g.body));
    }
    QVERIFY(distinct.size() > slides.size() / 2);

    // Corrected files exist for some slide and microscope pairs only; a missing one is a 404.
    int present = 0, absent = 0;
    for (const SimScope& s : host->world().scopes) {
        const Got g = get(host, "/fiducials/" + s.slides.first() + "." + s.name + ".new");
        if (g.status == 200) {
            Marks m;
            QVERIFY(parseFiducials(g.body, m));
            ++present;
        } else {
            QCOMPARE(g.status, 404);
            QVERIFY(g.body.isEmpty());
            ++absent;
        }
    }
    QVERIFY(present > 0 && absent > 0);
    QCOMPARE(get(host, "/fiducials/liver01.tall.new").status, 200);
    QCOMPARE(get(host, "/fiducials/liver01.dark.new").status, 404);
    QCOMPARE(get(host, "/fiducials/.new").status, 404);
}

void TestSimHostWorld::wholeSlideAgreesWithOverview()
{
    TestHost host;
    for (const QString& slide : {QStringLiteral("L0003"), QStringLiteral("liver01")}) {
        Marks m;
        QVERIFY(parseFiducials(get(host, "/fiducials/" + slide).body, m));
        const QImage ws = get(host, "/whole_slides/" + slide).image();
        const QImage ov = get(host, "/small_slides/" + slide).image();
        int agree = 0, total = 0, tissue = 0;
        for (int j = 1; j < 34; ++j)
            for (int i = 1; i < 50; ++i) {
                const QPointF stage(i * SlideGeometry::kWidthUnits / 50, j * SlideGeometry::kHeightUnits / 34);
                const QPoint po(int(stage.x() / SlideGeometry::kWidthUnits * ov.width()),
                                int(stage.y() / SlideGeometry::kHeightUnits * ov.height()));
                const bool inOverview = meanSum(ov, po) <= 675;
                const bool inWhole = meanSum(ws, toPixel(m, stage)) <= 675;
                agree += inOverview == inWhole;
                tissue += inOverview;
                ++total;
            }
        QVERIFY2(tissue > total / 20, qPrintable(QString::number(tissue)));
        QVERIFY2(agree >= total * 97 / 100, qPrintable(QStringLiteral("%1 of %2").arg(agree).arg(total)));

        // The marks are drawn where the file puts them: dark, on light glass around.
        for (const QPointF& mark : {m.tl, m.tr, m.bl, m.br}) {
            QVERIFY(sum(ws.pixel(mark.toPoint())) < 300);
            QVERIFY(sum(ws.pixel(mark.toPoint() + QPoint(25, 25))) > 675);
        }
    }
}

void TestSimHostWorld::pointListsOnTissue()
{
    TestHost host;
    // Library slides: stacks on tissue, null stacks on glass, all named by the slide.
    for (const QString& id : {QStringLiteral("L0001"), QStringLiteral("L0004")}) {
        Marks m;
        QVERIFY(parseFiducials(get(host, "/fiducials/" + id).body, m));
        const QImage ws = get(host, "/whole_slides/" + id).image();
        const Got sl = get(host, "/cgi-bin/icount?f=sl&s=" + id);
        const Got sbl = get(host, "/cgi-bin/icount?f=sbl&s=" + id + "&c=2");
        QCOMPARE(sl.status, 200);
        QCOMPARE(sbl.status, 200);
        QVERIFY(sl.body.endsWith('\n') && sbl.body.endsWith('\n'));
        QString name;
        const QList<QPointF> stacks = parsePoints(sl.body, &name);
        QCOMPARE(name, id);
        const QList<QPointF> nulls = parsePoints(sbl.body);
        QVERIFY(stacks.size() >= 10);
        QVERIFY(nulls.size() >= 5);
        for (const QPointF& p : stacks)
            QVERIFY2(meanSum(ws, toPixel(m, p)) <= 675, qPrintable(QStringLiteral("%1 %2").arg(p.x()).arg(p.y())));
        for (const QPointF& p : nulls)
            QVERIFY2(meanSum(ws, toPixel(m, p)) > 675, qPrintable(QStringLiteral("%1 %2").arg(p.x()).arg(p.y())));
    }

    // A job: its stacks name its slide first and lie on that slide's tissue; its null stacks
    // ("sbl" with the job's name and c=1) on glass.
    QString slide;
    const QList<QPointF> stacks = parsePoints(get(host, "/cgi-bin/icount?f=jl&j=J1001&c=1").body, &slide);
    QCOMPARE(slide, QStringLiteral("kidney02"));
    const QList<QPointF> nulls = parsePoints(get(host, "/cgi-bin/icount?f=sbl&s=J1001&c=1").body);
    QVERIFY(stacks.size() >= 5 && nulls.size() >= 5);
    Marks m;
    QVERIFY(parseFiducials(get(host, "/fiducials/kidney02").body, m));
    const QImage ws = get(host, "/whole_slides/kidney02").image();
    for (const QPointF& p : stacks)
        QVERIFY(meanSum(ws, toPixel(m, p)) <= 675);
    for (const QPointF& p : nulls)
        QVERIFY(meanSum(ws, toPixel(m, p)) > 675);
    // Demo jobs of both demo owners, each on a slide the host serves.
    QSet<QString> owners;
    for (const SimJob& j : host->world().jobs) {
        owners.insert(j.owner);
        QCOMPARE(get(host, "/cgi-bin/icount?f=jl&j=" + j.name + "&c=1").body.split(' ').first(), j.slide.toUtf8());
    }
    QVERIFY(owners.contains("guest") && owners.contains("library"));

    // Lists without points are empty 200 replies, never 404s.
    for (const QString& path : {QStringLiteral("/cgi-bin/icount?f=sl&s=liver01"), QStringLiteral("/cgi-bin/icount?f=sl&s=nosuch"),
                                QStringLiteral("/cgi-bin/icount?f=sbl&s=nosuch&c=1"), QStringLiteral("/cgi-bin/icount?f=jl&j=nosuch&c=1"),
                                QStringLiteral("/cgi-bin/icount?f=sbl&s=L0001&c=1")}) {
        const Got g = get(host, path);
        QCOMPARE(g.status, 200);
        QVERIFY2(g.body.isEmpty(), qPrintable(path));
    }
}

void TestSimHostWorld::frameSizesAndInsets()
{
    TestHost host;
    const QList<QPair<QString, QSize>> sizes = {
        {"1", {640, 480}}, {"2", {800, 600}}, {"3", {1024, 768}}, {"4", {1280, 960}},
        {"0", {640, 480}}, {"5", {640, 480}}, {"x", {640, 480}}, {"-3", {640, 480}}};
    for (const auto& s : sizes) {
        const Got g = get(host, frameUrl("tall", "p&ps=" + s.first));
        QCOMPARE(g.status, 200);
        QCOMPARE(g.image().size(), s.second);
    }
    QCOMPARE(get(host, frameUrl("tall", "p")).image().size(), QSize(640, 480));
    QCOMPARE(get(host, frameUrl("nosuch", "p&ps=1")).status, 404);

    // The same frame twice: the same bytes.
    const Got a = get(host, frameUrl("dark", "p&ps=2"));
    QCOMPARE(get(host, frameUrl("dark", "p&ps=2")).body, a.body);

    // An inset is the 168 x 140 part of that frame at (x, y), moved inside the frame.
    const QImage frame = get(host, frameUrl("tall", "p&ps=2")).image();
    struct Case { int x, y; QPoint at; };
    for (const Case& c : {Case{16, 30, {16, 30}}, Case{500, 300, {500, 300}}, Case{9999, -40, {800 - 168, 0}},
                          Case{-5, 9999, {0, 600 - 140}}}) {
        const Got g = get(host, frameUrl("tall", QStringLiteral("p&ps=2&x=%1&y=%2&inset=1").arg(c.x).arg(c.y)));
        QCOMPARE(g.status, 200);
        const QImage inset = g.image();
        QCOMPARE(inset.size(), QSize(168, 140));
        const double same = meanDiff(inset, inset.rect(), frame, c.at);
        const double moved = meanDiff(inset, inset.rect(), frame, c.at.x() > 200 ? c.at - QPoint(84, 0) : c.at + QPoint(84, 0));
        QVERIFY2(same < 4 && moved > 3 * same, qPrintable(QStringLiteral("%1 %2").arg(same).arg(moved)));
    }

    // Defocused, the inset still matches its part of the frame.
    SimStage& st = host->world().scope("tall")->stage;
    st.z += 120;
    const QImage soft = get(host, frameUrl("tall", "p&ps=1")).image();
    const QImage softInset = get(host, frameUrl("tall", "p&ps=1&x=300&y=200&inset=1")).image();
    QVERIFY(meanDiff(softInset, softInset.rect(), soft, {300, 200}) < 3);

    // Far beyond the slide: bare stage, no failure.
    for (const QPointF& far : {QPointF(-1e12, 1e15), QPointF(qInf(), -qInf())}) {
        st.x = far.x();
        st.y = far.y();
        const QImage bare = get(host, frameUrl("tall", "p&ps=1")).image();
        QCOMPARE(bare.size(), QSize(640, 480));
        QVERIFY(sum(bare.pixel(320, 240)) > 675);
    }
}

void TestSimHostWorld::frameFieldFollowsStage()
{
    TestHost host;
    World& w = host->world();
    for (const QString& scope : {QStringLiteral("handsome"), QStringLiteral("dark")}) {
        SimStage& st = w.scope(scope)->stage;
        const QPointF p = tissuePoint(*w.slide(w.mountedSlide(scope)));
        QVERIFY(!p.isNull());
        st.x = p.x();
        st.y = p.y();
        st.z = w.focusUnderStage(scope, st.x, st.y);
        const QPointF field = w.cameraField(scope);
        const QImage a = get(host, frameUrl(scope, "p&ps=1")).image();

        // Half a field to the right and a quarter down: the frame moves by 320 and 120 pixels.
        st.x += field.x() / 2;
        st.y += field.y() / 4;
        const QImage b = get(host, frameUrl(scope, "p&ps=1")).image();
        const double overlap = meanDiff(a, QRect(320, 120, 320, 360), b, {0, 0});
        const double unshifted = meanDiff(a, QRect(320, 120, 320, 360), a, {0, 0});
        QVERIFY2(overlap < 4 && unshifted > 4 * overlap, qPrintable(QStringLiteral("%1 %2").arg(overlap).arg(unshifted)));

        // A larger size code shows the same field more finely.
        st.x -= field.x() / 2;
        st.y -= field.y() / 4;
        const QImage big = get(host, frameUrl(scope, "p&ps=4")).image();
        QCOMPARE(big.size(), QSize(1280, 960));
        const QImage down = big.scaled(640, 480, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        const double sameField = meanDiff(down, down.rect(), a, {0, 0});
        const double otherField = meanDiff(down, QRect(0, 0, 600, 480), a, {40, 0});
        QVERIFY2(sameField < 8 && otherField > 2 * sameField,
                 qPrintable(QStringLiteral("%1 %2").arg(sameField).arg(otherField)));
    }
}

// The field under the stage is what the whole-slide picture shows at the stage's pixel under
// the calibration the client takes: the corrected file where there is one, else the base file.
void TestSimHostWorld::videoAgreesWithCalibration()
{
    TestHost host;
    World& w = host->world();
    for (const QString& scope : {QStringLiteral("tall"), QStringLiteral("dark")}) {
        const QString slide = w.mountedSlide(scope);
        Marks base, used;
        QVERIFY(parseFiducials(get(host, "/fiducials/" + slide).body, base));
        const Got corrected = get(host, "/fiducials/" + slide + "." + scope + ".new");
        QVERIFY(parseFiducials(corrected.status == 200 ? corrected.body : get(host, "/fiducials/" + slide).body, used));
        const QImage ws = get(host, "/whole_slides/" + slide).image();
        // Sure tissue or sure glass: every pixel of a square a little wider than the field agrees.
        const int half = int(std::ceil(w.cameraField(scope).x() / (10000.0 * used.w) * (used.tr.x() - used.tl.x()) / 2));
        auto kind = [&ws, half](QPoint c) {
            int tissue = 0;
            for (int dy = -half; dy <= half; ++dy)
                for (int dx = -half; dx <= half; ++dx)
                    tissue += sum(ws.pixel(c + QPoint(dx, dy))) <= 675;
            return tissue == (2 * half + 1) * (2 * half + 1) ? 1 : (tissue == 0 ? 0 : -1);
        };
        const bool differs = corrected.status == 200 && used.tl != base.tl;
        int plain[2] = {0, 0}, discriminating = 0;
        SimStage& st = w.scope(scope)->stage;
        for (double y = 200000; y <= 300000; y += 1100)
            for (double x = 200000; x <= 560000; x += 1300) {
                if (plain[0] == 6 && plain[1] == 6 && (discriminating == 8 || !differs))
                    break;
                const int k = kind(toPixel(used, {x, y}));
                const int other = kind(toPixel(base, {x, y}));
                if (k < 0 || (other == k ? plain[k] >= 6 : (other < 0 || discriminating >= 8)))
                    continue;
                (other == k ? plain[k] : discriminating)++;
                st.x = x;
                st.y = y;
                st.z = w.focusUnderStage(scope, x, y);
                const QImage frame = get(host, frameUrl(scope, "p&ps=1")).image();
                double total = 0;
                for (int j = 0; j < frame.height(); j += 4)
                    for (int i = 0; i < frame.width(); i += 4)
                        total += sum(frame.pixel(i, j));
                const double mean = total / ((frame.height() / 4) * (frame.width() / 4));
                QVERIFY2(k ? mean <= 675 : mean > 675, qPrintable(QStringLiteral("%1 at %2 %3: %4").arg(scope).arg(x).arg(y).arg(mean)));
            }
        QCOMPARE(plain[0], 6);
        QCOMPARE(plain[1], 6);
        // On "tall" the corrected file differs from the base one, and the video follows it.
        QCOMPARE(differs, scope == QLatin1String("tall"));
        if (differs)
            QVERIFY(discriminating >= 3);
    }
}

void TestSimHostWorld::blurGrowsWithDefocus()
{
    TestHost host;
    World& w = host->world();
    for (const QString& scope : {QStringLiteral("handsome"), QStringLiteral("dark")}) {
        SimStage& st = w.scope(scope)->stage;
        const QPointF p = tissuePoint(*w.slide(w.mountedSlide(scope)));
        st.x = p.x();
        st.y = p.y();
        const double focus = w.focusUnderStage(scope, st.x, st.y);
        double previous = 1e9;
        for (double dz : {0.0, 60.0, 150.0, 400.0}) {
            st.z = focus + dz;
            const double above = detail(get(host, frameUrl(scope, "p&ps=1")).image());
            st.z = focus - dz;
            const double below = detail(get(host, frameUrl(scope, "p&ps=1")).image());
            QVERIFY2(dz == 0 ? above > 1.5 : above < previous * 0.8,
                     qPrintable(QStringLiteral("%1 at %2: %3 after %4").arg(scope).arg(dz).arg(above).arg(previous)));
            QVERIFY(std::abs(above - below) < 0.25 * above + 0.2);     // blur depends on |z - focus|
            previous = above;
        }
        st.z = focus + 2000;            // far out of focus: nothing but a smooth wash
        QVERIFY(detail(get(host, frameUrl(scope, "p&ps=1")).image()) < 0.2);
    }
}

void TestSimHostWorld::systemInformation()
{
    TestHost host;
    for (const auto& c : {qMakePair(QStringLiteral("tall"), 0.19608), qMakePair(QStringLiteral("handsome"), 0.19608),
                          qMakePair(QStringLiteral("dark"), 0.8)}) {
        const Got g = get(host, frameUrl(c.first, "d"));
        QCOMPARE(g.status, 200);
        auto s = ReplyText(g.body).scan();
        const auto x = s.real(), y = s.real();
        QVERIFY(x && y);
        QCOMPARE(*x, c.second);
        QCOMPARE(*y, c.second);
        const int nl = int(g.body.indexOf('\n'));
        QVERIFY(nl > 0 && g.body.size() > nl + 10);
        // The pixel size is the camera field over 640 x 480.
        const QPointF field = host->world().cameraField(c.first);
        QVERIFY(std::abs(*x * 6400 - field.x()) < 0.01 && std::abs(*y * 4800 - field.y()) < 0.01);
    }
    QCOMPARE(host->world().cameraField("tall"), QPointF(1254.912, 941.184));
    QCOMPARE(host->world().cameraField("dark"), QPointF(5120, 3840));
}

void TestSimHostWorld::stageStartsInFocus()
{
    TestHost host;
    World& w = host->world();
    for (const SimScope& s : w.scopes) {
        QCOMPARE(w.mountedSlide(s.name), s.slides.first());
        QCOMPARE(s.stage.x, 378350.0);
        QCOMPARE(s.stage.y, 251625.0);
        QVERIFY(std::abs(s.stage.z - w.focusUnderStage(s.name, s.stage.x, s.stage.y)) <= 0.5);
        // The default focus stack (8 steps of 130 below the centre) stays above z = 0.
        QVERIFY(s.stage.z - 8 * 130 > 0 && s.stage.z < 30000);
        QVERIFY(!s.stage.moving);
    }
    // The focus surface is smooth and stays within 15000 +- 1500 over the slide.
    const auto slide = w.slide("liver01");
    double lo = 1e9, hi = -1e9;
    for (double y = 0; y <= SlideGeometry::kHeightUnits; y += 25000)
        for (double x = 0; x <= SlideGeometry::kWidthUnits; x += 25000) {
            const double f = slide->focusAt(x, y);
            lo = std::min(lo, f);
            hi = std::max(hi, f);
            QVERIFY(std::abs(slide->focusAt(x + 1000, y) - f) < 30);
        }
    QVERIFY(lo >= 13500 && hi <= 16500 && hi - lo > 500);
}

QTEST_MAIN(TestSimHostWorld)
#include "tst_simhost_world.moc"
