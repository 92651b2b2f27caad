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

// A frame from the microscope's camera at its stage position.
QImage frame(TestHost& host, const QString& scope, const QString& tail = QStringLiteral("p&ps=1"))
{
    return get(host, frameUrl(scope, tail)).image();
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
    for (int i = 0; i < 10; ++i) {
        std::optional<double> n;
        if (i >= 8)
            n = s.real();
        else if (const auto d = s.decimal())    // the marks: decimal integers
            n = double(*d);
        if (!n)
            return false;
        v[i] = *n;
    }
    s.skipSpace();
    m = {{v[0], v[1]}, {v[2], v[3]}, {v[4], v[5]}, {v[6], v[7]}, v[8], v[9]};
    return s.atEnd();
}

Marks baseMarks(TestHost& host, const QString& slide)
{
    Marks m;
    if (!parseFiducials(get(host, "/fiducials/" + slide).body, m))
        qFatal("unreadable fiducial file");
    return m;
}

// Stage (0.1 um) to whole-slide pixel through the marks: the corners of the slide area.
QPoint toPixel(const Marks& m, QPointF stage)
{
    const double u = stage.x() / (m.w * 10000.0), v = stage.y() / (m.h * 10000.0);
    const QPointF p = m.tl + (m.tr - m.tl) * u + (m.bl - m.tl) * v;
    return {int(std::floor(p.x())), int(std::floor(p.y()))};
}

// Stacks on tissue, null stacks on glass, at the whole-slide pixels the marks give.
void checkStacks(const QImage& ws, const Marks& m, const QList<QPointF>& stacks, const QList<QPointF>& nulls)
{
    QVERIFY(stacks.size() >= 5 && nulls.size() >= 5);
    for (const QPointF& p : stacks)
        QVERIFY2(meanSum(ws, toPixel(m, p)) <= 675, qPrintable(QStringLiteral("%1 %2").arg(p.x()).arg(p.y())));
    for (const QPointF& p : nulls)
        QVERIFY2(meanSum(ws, toPixel(m, p)) > 675, qPrintable(QStringLiteral("%1 %2").arg(p.x()).arg(p.y())));
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
    void slideFiles();
    void fiducialFiles();
    void pointListsOnTissue();
    void frameSizesAndInsets();
    void frameFieldFollowsStage();
    void videoAgreesWithCalibration();
    void systemInformationAndFocus();
};

void TestSimHostWorld::slideFiles()
{
    TestHost host;
    const Got small = get(host, "/small_slides/L0003");
    QCOMPARE(small.status, 200);
    const QImage ov = small.image();
    QCOMPARE(ov.size(), QSize(757, 503));
    QCOMPARE(get(host, "/small_slides/L0003").body, small.body);
    const Got whole = get(host, "/whole_slides/L0003");
    QCOMPARE(whole.image().size(), QSize(3060, 2036));
    QCOMPARE(get(host, "/whole_slides/L0003").body, whole.body);
    QVERIFY(get(host, "/small_slides/heart21").body != small.body);

    // Mostly glass above the tissue threshold, with a clearly darker section somewhere.
    int glass = 0, tissue = 0;
    for (int y = 0; y < ov.height(); y += 3)
        for (int x = 0; x < ov.width(); x += 3)
            (sum(ov.pixel(x, y)) > 675 ? glass : tissue)++;
    QVERIFY2(glass > tissue && tissue > (glass + tissue) / 50, qPrintable(QStringLiteral("%1 %2").arg(glass).arg(tissue)));

    // The whole-slide picture shows the overview's tissue where its marks put the slide.
    const Marks m = baseMarks(host, "L0003");
    const QImage ws = whole.image();
    int agree = 0, total = 0;
    for (int j = 1; j < 34; ++j)
        for (int i = 1; i < 50; ++i) {
            const QPointF stage(i * SlideGeometry::kWidthUnits / 50, j * SlideGeometry::kHeightUnits / 34);
            const QPoint po(int(stage.x() / SlideGeometry::kWidthUnits * ov.width()),
                            int(stage.y() / SlideGeometry::kHeightUnits * ov.height()));
            agree += (meanSum(ov, po) <= 675) == (meanSum(ws, toPixel(m, stage)) <= 675);
            ++total;
        }
    QVERIFY2(agree >= total * 97 / 100, qPrintable(QStringLiteral("%1 of %2").arg(agree).arg(total)));
    // The marks are drawn where the file puts them: dark, on light glass around.
    for (const QPointF& mark : {m.tl, m.tr, m.bl, m.br}) {
        QVERIFY(sum(ws.pixel(mark.toPoint())) < 300);
        QVERIFY(sum(ws.pixel(mark.toPoint() + QPoint(25, 25))) > 675);
    }

    for (const char* path : {"/small_slides/nosuch", "/whole_slides/nosuch", "/fiducials/nosuch",
                             "/whole_slides/liver01.tall", "/fiducials/liver01.dark.new", "/fiducials/.new"}) {
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

    // Corrected files exist for some slide and microscope pairs only.
    Marks m;
    QVERIFY(parseFiducials(get(host, "/fiducials/liver01.tall.new").body, m));
}

void TestSimHostWorld::pointListsOnTissue()
{
    // (The library slides' lists are checked through the client in tst_slideviews_host.)
    TestHost host;
    // A job: its stacks name its slide first and lie on that slide's tissue; its null stacks
    // ("sbl" with the job's name and c=1) on glass.
    QString slide;
    const QList<QPointF> jobStacks = parsePoints(get(host, "/cgi-bin/icount?f=jl&j=J1001&c=1").body, &slide);
    QCOMPARE(slide, QStringLiteral("kidney02"));
    checkStacks(get(host, "/whole_slides/kidney02").image(), baseMarks(host, "kidney02"), jobStacks,
                parsePoints(get(host, "/cgi-bin/icount?f=sbl&s=J1001&c=1").body));

    // Lists without points are empty 200 replies, never 404s.
    for (const char* path : {"/cgi-bin/icount?f=sl&s=liver01", "/cgi-bin/icount?f=sl&s=nosuch",
                             "/cgi-bin/icount?f=jl&j=nosuch&c=1", "/cgi-bin/icount?f=sbl&s=L0001&c=1"}) {
        const Got g = get(host, path);
        QCOMPARE(g.status, 200);
        QVERIFY2(g.body.isEmpty(), path);
    }
}

void TestSimHostWorld::frameSizesAndInsets()
{
    TestHost host;
    const QList<QPair<QString, QSize>> sizes = {
        {"p&ps=2", {800, 600}}, {"p&ps=4", {1280, 960}}, {"p&ps=5", {640, 480}}, {"p&ps=x", {640, 480}}, {"p", {640, 480}}};
    for (const auto& s : sizes)
        QCOMPARE(frame(host, "tall", s.first).size(), s.second);
    QCOMPARE(get(host, frameUrl("nosuch", "p&ps=1")).status, 404);
    QCOMPARE(get(host, frameUrl("dark", "p&ps=2")).body, get(host, frameUrl("dark", "p&ps=2")).body);

    // An inset is the 168 x 140 part of that frame at (x, y), moved inside the frame.
    const QImage full = frame(host, "tall", "p&ps=2");
    struct Case { int x, y; QPoint at; };
    for (const Case& c : {Case{500, 300, {500, 300}}, Case{9999, -40, {800 - 168, 0}}, Case{-5, 9999, {0, 600 - 140}}}) {
        const QImage inset = frame(host, "tall", QStringLiteral("p&ps=2&x=%1&y=%2&inset=1").arg(c.x).arg(c.y));
        QCOMPARE(inset.size(), QSize(168, 140));
        const double same = meanDiff(inset, inset.rect(), full, c.at);
        const double moved = meanDiff(inset, inset.rect(), full, c.at.x() > 200 ? c.at - QPoint(84, 0) : c.at + QPoint(84, 0));
        QVERIFY2(same < 4 && moved > 3 * same, qPrintable(QStringLiteral("%1 %2").arg(same).arg(moved)));
    }

    // Defocused, the inset still matches its part of the frame.
    SimStage& st = host->world().scope("tall")->stage;
    st.z += 120;
    const QImage softInset = frame(host, "tall", "p&ps=1&x=300&y=200&inset=1");
    QVERIFY(meanDiff(softInset, softInset.rect(), frame(host, "tall"), {300, 200}) < 3);

    // Far beyond the slide: bare stage, no failure.
    for (const QPointF& far : {QPointF(-1e12, 1e15), QPointF(qInf(), -qInf())}) {
        st.x = far.x();
        st.y = far.y();
        const QImage bare = frame(host, "tall");
        QCOMPARE(bare.size(), QSize(640, 480));
        QVERIFY(sum(bare.pixel(320, 240)) > 675);
    }
}

// On tissue in focus: the frame moves with the stage, shows the same field at every size, and
// blurs with |z - focus|.
void TestSimHostWorld::frameFieldFollowsStage()
{
    TestHost host;
    World& w = host->world();
    const QString scope = QStringLiteral("handsome");
    SimStage& st = w.scope(scope)->stage;
    const QPointF p = tissuePoint(*w.slide(w.mountedSlide(scope)));
    QVERIFY(!p.isNull());
    st.x = p.x();
    st.y = p.y();
    const double focus = w.focusUnderStage(scope, st.x, st.y);
    st.z = focus;
    const QPointF field = w.cameraField(scope);
    const QImage a = frame(host, scope);

    // Half a field to the right and a quarter down: the frame moves by 320 and 120 pixels.
    st.x += field.x() / 2;
    st.y += field.y() / 4;
    const QImage b = frame(host, scope);
    const double overlap = meanDiff(a, QRect(320, 120, 320, 360), b, {0, 0});
    const double unshifted = meanDiff(a, QRect(320, 120, 320, 360), a, {0, 0});
    QVERIFY2(overlap < 4 && unshifted > 4 * overlap, qPrintable(QStringLiteral("%1 %2").arg(overlap).arg(unshifted)));

    // A larger size code shows the same field more finely.
    st.x = p.x();
    st.y = p.y();
    const QImage down = frame(host, scope, "p&ps=4").scaled(640, 480, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    const double sameField = meanDiff(down, down.rect(), a, {0, 0});
    const double otherField = meanDiff(down, QRect(0, 0, 600, 480), a, {40, 0});
    QVERIFY2(sameField < 8 && otherField > 2 * sameField, qPrintable(QStringLiteral("%1 %2").arg(sameField).arg(otherField)));

    double previous = 1e9;
    for (double dz : {0.0, 60.0, 150.0, 400.0}) {
        st.z = focus + dz;
        const double above = detail(frame(host, scope));
        st.z = focus - dz;
        const double below = detail(frame(host, scope));
        QVERIFY2(dz == 0 ? above > 1.5 : above < previous * 0.8,
                 qPrintable(QStringLiteral("%1: %2 after %3").arg(dz).arg(above).arg(previous)));
        QVERIFY(std::abs(above - below) < 0.25 * above + 0.2);     // blur depends on |z - focus|
        previous = above;
    }
    st.z = focus + 2000;            // far out of focus: nothing but a smooth wash
    QVERIFY(detail(frame(host, scope)) < 0.2);
}

// The field under the stage is what the whole-slide picture shows at the stage's pixel under
// the calibration the client takes: the corrected file where there is one, else the base file.
void TestSimHostWorld::videoAgreesWithCalibration()
{
    TestHost host;
    World& w = host->world();
    for (const QString& scope : {QStringLiteral("tall"), QStringLiteral("dark")}) {
        const QString slide = w.mountedSlide(scope);
        const Marks base = baseMarks(host, slide);
        const Got corrected = get(host, "/fiducials/" + slide + "." + scope + ".new");
        Marks used = base;
        QVERIFY(corrected.status != 200 || parseFiducials(corrected.body, used));
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
                const QImage f = frame(host, scope);
                double total = 0;
                for (int j = 0; j < f.height(); j += 4)
                    for (int i = 0; i < f.width(); i += 4)
                        total += sum(f.pixel(i, j));
                const double mean = total / ((f.height() / 4) * (f.width() / 4));
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

void TestSimHostWorld::systemInformationAndFocus()
{
    TestHost host;
    World& w = host->world();
    for (const auto& c : {qMakePair(QStringLiteral("tall"), 0.19608), qMakePair(QStringLiteral("dark"), 0.8)}) {
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
        const QPointF field = w.cameraField(c.first);
        QVERIFY(std::abs(*x * 6400 - field.x()) < 0.01 && std::abs(*y * 4800 - field.y()) < 0.01);
    }

    for (const SimScope& s : w.scopes) {
        QCOMPARE(w.mountedSlide(s.name), s.slides.first());
        QVERIFY(std::abs(s.stage.z - w.focusUnderStage(s.name, s.stage.x, s.stage.y)) <= 0.5);
        // The default focus stack (8 steps of 130 below the centre) stays above z = 0.
        QVERIFY(s.stage.z - 8 * 130 > 0 && s.stage.z < 30000);
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
