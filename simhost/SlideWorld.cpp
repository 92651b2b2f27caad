#include "SlideWorld.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <thread>

namespace {

constexpr double kPi = 3.14159265358979323846;

// ---- hashing and noise -------------------------------------------------------------------

inline quint32 mix32(quint32 h)
{
    h ^= h >> 16;
    h *= 0x7feb352du;
    h ^= h >> 15;
    h *= 0x846ca68bu;
    h ^= h >> 16;
    return h;
}

inline quint32 hash3(qint32 x, qint32 y, quint32 s)
{
    return mix32(quint32(x) * 0x8da6b343u ^ quint32(y) * 0xd8163841u ^ mix32(s));
}

inline float unitOf(quint32 h) { return float(h >> 8) * (1.0f / 16777216.0f); }

inline float fade(float t) { return t * t * (3.0f - 2.0f * t); }

// Value noise in 0..1 with one lattice point per unit.
float vnoise(double x, double y, quint32 s)
{
    const double fx = std::floor(x), fy = std::floor(y);
    const qint32 ix = qint32(fx), iy = qint32(fy);
    const float tx = fade(float(x - fx)), ty = fade(float(y - fy));
    const float a = unitOf(hash3(ix, iy, s)), b = unitOf(hash3(ix + 1, iy, s));
    const float c = unitOf(hash3(ix, iy + 1, s)), d = unitOf(hash3(ix + 1, iy + 1, s));
    const float top = a + (b - a) * tx, bottom = c + (d - c) * tx;
    return top + (bottom - top) * ty;
}

float fbm3(double x, double y, quint32 s)
{
    return (vnoise(x, y, s) * 4.0f + vnoise(x * 2.03, y * 2.03, s + 1) * 2.0f
            + vnoise(x * 4.07, y * 4.07, s + 2)) / 7.0f;
}

inline float clamp01(float v) { return v < 0.0f ? 0.0f : (v > 1.0f ? 1.0f : v); }

inline float smoothstep(float e0, float e1, float v) { return fade(clamp01((v - e0) / (e1 - e0))); }

struct Rng
{
    quint32 s;
    double next() { s = mix32(s + 0x9e3779b9u); return double(s) / 4294967296.0; }
    double range(double lo, double hi) { return lo + (hi - lo) * next(); }
};

quint32 nameSeed(const QString& name)
{
    quint32 h = 2166136261u;               // FNV-1a over the UTF-8 bytes
    for (const char c : name.toUtf8()) {
        h ^= quint8(c);
        h *= 16777619u;
    }
    return mix32(h);
}

// ---- colours --------------------------------------------------------------------------------

struct Rgb
{
    float r, g, b;
};

inline Rgb lerp(const Rgb& a, const Rgb& b, float t)
{
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

// Eosin-pink stroma and cytoplasm, purple haematoxylin nuclei, near-white glass.
constexpr Rgb kGlass{238.0f, 237.0f, 242.0f};
constexpr Rgb kStroma{226.0f, 140.0f, 186.0f};
constexpr Rgb kCytoplasm{238.0f, 172.0f, 206.0f};
constexpr Rgb kMembrane{200.0f, 118.0f, 168.0f};
constexpr Rgb kNucleus{98.0f, 66.0f, 154.0f};
constexpr Rgb kChromatin{62.0f, 36.0f, 112.0f};
constexpr Rgb kMark{38.0f, 38.0f, 44.0f};

constexpr int kTile = 32;                  // pictures are rendered in tiles of this many pixels
constexpr float kCellUm = 9.0f;            // cell spacing
constexpr float kMembraneUm = 0.5f;        // half-width of the cell borders
constexpr double kMarkArmUm = 1000.0;      // fiducial cross: half length of an arm
constexpr double kMarkHalfUm = 40.0;       // and half its thickness

inline float nucleusChance(float mix) { return 0.35f + 0.6f * mix; }

inline Rgb glassColour(float tone)
{
    return {kGlass.r + 3.0f * tone, kGlass.g + 3.0f * tone, kGlass.b + 2.0f * tone};
}

// The tissue's colour where cells are too small to see: their average.
inline Rgb meanTissue(float mix)
{
    const Rgb cyto = lerp(kStroma, kCytoplasm, mix);
    const float nf = 0.26f * nucleusChance(mix), mf = 0.10f;
    const float cf = 1.0f - nf - mf;
    return {cyto.r * cf + kNucleus.r * nf + kMembrane.r * mf, cyto.g * cf + kNucleus.g * nf + kMembrane.g * mf,
            cyto.b * cf + kNucleus.b * nf + kMembrane.b * mf};
}

inline uchar byteOf(float v)
{
    return uchar(v <= 0.0f ? 0 : (v >= 255.0f ? 255 : int(v + 0.5f)));
}

struct Cell
{
    float x, y;             // centre, um relative to the tile's cell origin
    float nx, ny;           // nucleus centre
    float rn;               // nucleus radius; 0 when the cut misses the nucleus
    float tint;             // brightness of its cytoplasm, about 1
    quint32 seed;
};

// ---- box blur on RGB888 -------------------------------------------------------------------

inline uchar divide(quint32 sum, quint64 inv)
{
    return uchar((sum * inv + (quint64(1) << 31)) >> 32);
}

void boxRows(const QImage& in, QImage& out, int r)
{
    const int w = in.width(), h = in.height();
    const quint64 inv = (quint64(1) << 32) / quint64(2 * r + 1);
    for (int y = 0; y < h; ++y) {
        const uchar* s = in.constScanLine(y);
        uchar* d = out.scanLine(y);
        quint32 sr = 0, sg = 0, sb = 0;
        for (int k = -r; k <= r; ++k) {
            const int x = std::clamp(k, 0, w - 1) * 3;
            sr += s[x]; sg += s[x + 1]; sb += s[x + 2];
        }
        for (int x = 0; x < w; ++x) {
            d[3 * x] = divide(sr, inv);
            d[3 * x + 1] = divide(sg, inv);
            d[3 * x + 2] = divide(sb, inv);
            const int add = std::min(x + r + 1, w - 1) * 3, sub = std::max(x - r, 0) * 3;
            sr += s[add] - s[sub];
            sg += s[add + 1] - s[sub + 1];
            sb += s[add + 2] - s[sub + 2];
        }
    }
}

void boxColumns(const QImage& in, QImage& out, int r)
{
    const int w = in.width(), h = in.height(), n = 3 * w;
    const quint64 inv = (quint64(1) << 32) / quint64(2 * r + 1);
    std::vector<quint32> acc(size_t(n), 0);
    for (int k = -r; k <= r; ++k) {
        const uchar* s = in.constScanLine(std::clamp(k, 0, h - 1));
        for (int i = 0; i < n; ++i)
            acc[size_t(i)] += s[i];
    }
    for (int y = 0; y < h; ++y) {
        uchar* d = out.scanLine(y);
        for (int i = 0; i < n; ++i)
            d[i] = divide(acc[size_t(i)], inv);
        const uchar* add = in.constScanLine(std::min(y + r + 1, h - 1));
        const uchar* sub = in.constScanLine(std::max(y - r, 0));
        for (int i = 0; i < n; ++i)
            acc[size_t(i)] += quint32(add[i]) - quint32(sub[i]);
    }
}

// Three box passes each way: close to a Gaussian of the given sigma.
void gaussianish(QImage& img, int r)
{
    QImage tmp(img.size(), img.format());
    for (int pass = 0; pass < 3; ++pass) {
        boxRows(img, tmp, r);
        boxColumns(tmp, img, r);
    }
}

} // namespace

// ---- geometry ---------------------------------------------------------------------------------

QSize SlideGeometry::videoSize(int code)
{
    switch (code) {
    case 2: return {800, 600};
    case 3: return {1024, 768};
    case 4: return {1280, 960};
    default: return {640, 480};
    }
}

QByteArray Fiducials::text() const
{
    QByteArray out;
    for (const QPoint& p : {tl, tr, bl, br})
        out += QByteArray::number(p.x()) + '\n' + QByteArray::number(p.y()) + '\n';
    out += QByteArray::number(widthMm, 'g', 10) + '\n' + QByteArray::number(heightMm, 'g', 10) + '\n';
    return out;
}

Fiducials Fiducials::shifted(QPoint d) const
{
    Fiducials f = *this;
    f.tl += d;
    f.tr += d;
    f.bl += d;
    f.br += d;
    return f;
}

Fiducials::Calibration Fiducials::calibration() const
{
    auto dist = [](QPoint a, QPoint b) { return std::hypot(double(a.x() - b.x()), double(a.y() - b.y())); };
    auto rowAngle = [](QPoint a, QPoint b) { return std::atan(double(b.y() - a.y()) / double(b.x() - a.x())); };
    auto colAngle = [](QPoint a, QPoint b) { return std::atan(-double(b.x() - a.x()) / double(b.y() - a.y())); };
    Calibration c;
    c.pixelWidth = (dist(tl, tr) + dist(bl, br)) * 0.5;
    c.pixelHeight = (dist(tl, bl) + dist(tr, br)) * 0.5;
    c.originX = tl.x();
    c.originY = tl.y();
    c.angle = (rowAngle(tl, tr) + rowAngle(bl, br)) * 0.5;
    c.angle = ((colAngle(tl, bl) + colAngle(tr, br)) * 0.5 + c.angle) * 0.5;
    return c;
}

QPointF Fiducials::stageToPixel(QPointF stage) const
{
    const Calibration c = calibration();
    const double sx = c.pixelWidth / widthMm * (stage.x() * 0.0001);
    const double sy = c.pixelHeight / heightMm * (stage.y() * 0.0001);
    const double co = std::cos(-c.angle), si = std::sin(-c.angle);
    return {co * sx + si * sy + c.originX, co * sy - si * sx + c.originY};
}

QPoint Fiducials::imagePixel(QPointF stage) const
{
    const Calibration c = calibration();
    auto scaled = [](double pixels, double mm, double units) {
        const double v = pixels / double(float(mm)) * (double(float(std::clamp(units, -1e9, 1e9))) * 0.0001);
        return double(float(std::clamp(v, -1e9, 1e9)));
    };
    const double sx = scaled(c.pixelWidth, widthMm, stage.x());
    const double sy = scaled(c.pixelHeight, heightMm, stage.y());
    const double co = std::cos(-c.angle), si = std::sin(-c.angle);
    auto pixel = [](double v) { return std::isfinite(v) ? int(std::clamp(v, -1e6, 1e6)) : 0; };
    return {pixel(std::trunc(co * sx + si * sy) + std::trunc(c.originX)),
            pixel(std::trunc(co * sy - si * sx) + std::trunc(c.originY))};
}

QPointF Fiducials::pixelToStage(QPointF pixel) const
{
    const Calibration c = calibration();
    const double dx = pixel.x() - c.originX, dy = pixel.y() - c.originY;
    const double rx = std::cos(c.angle) * dx + std::sin(c.angle) * dy;
    const double ry = std::cos(c.angle) * dy - std::sin(c.angle) * dx;
    return {widthMm / c.pixelWidth * rx * 10000.0, heightMm / c.pixelHeight * ry * 10000.0};
}

// ---- the specimen -----------------------------------------------------------------------------

SlideWorld::SlideWorld(const QString& name) : m_name(name), m_seed(nameSeed(name))
{
    Rng rng{m_seed};

    // Marks near (100, 80) and (2960, 1980), a few pixels off and slightly turned per slide.
    const int ox = 100 + int(rng.range(-6, 7)), oy = 80 + int(rng.range(-6, 7));
    const int spanX = 2860 + int(rng.range(-8, 9)), spanY = 1900 + int(rng.range(-8, 9));
    const int turn = int(rng.range(-2, 3));
    m_fiducials.tl = {ox, oy};
    m_fiducials.tr = {ox + spanX, oy + turn};
    m_fiducials.bl = {ox - turn, oy + spanY};
    m_fiducials.br = {ox + spanX - turn, oy + spanY + turn};

    // Sections: a large one near the slide centre, up to two more beside it. Micrometres.
    const int count = 1 + int(m_seed % 3);
    for (int i = 0; i < count; ++i) {
        Section s;
        if (i == 0) {
            s.cx = 37835.0 + rng.range(-2500, 2500);
            s.cy = 25162.0 + rng.range(-2000, 2000);
            s.a = rng.range(10000, 15000);
            s.b = rng.range(7000, 11000);
        } else {
            s.cx = rng.range(22000, 66000);
            s.cy = rng.range(10000, 40000);
            s.a = rng.range(4000, 8000);
            s.b = rng.range(3000, 6000);
        }
        // Keep every section on the glass, clear of the edges and of the label end.
        const double room = std::min({s.cx - 16000.0, 72000.0 - s.cx, s.cy - 3500.0, 46800.0 - s.cy}) / 1.2;
        s.a = std::min(s.a, room);
        s.b = std::min(s.b, room);
        const double t = rng.range(-0.7, 0.7);
        s.cosT = std::cos(t);
        s.sinT = std::sin(t);
        const double reach = std::max(s.a, s.b) * 1.55;
        s.minX = s.cx - reach;
        s.maxX = s.cx + reach;
        s.minY = s.cy - reach;
        s.maxY = s.cy + reach;
        s.seed = m_seed + 101u * quint32(i + 1);
        m_sections.push_back(s);
    }
    for (double& p : m_focusPhase)
        p = rng.range(0, 2 * kPi);
}

double SlideWorld::focusAt(double x, double y) const
{
    return 15000.0 + 900.0 * std::sin(2 * kPi * x / 420000.0 + m_focusPhase[0])
           + 450.0 * std::cos(2 * kPi * y / 310000.0 + m_focusPhase[1])
           + 120.0 * std::sin(2 * kPi * (x + y) / 150000.0 + m_focusPhase[2]);
}

SlideWorld::Macro SlideWorld::macroAt(double xu, double yu) const
{
    Macro m{0.0f, 0.0f, 2.0f * vnoise(xu / 6000.0, yu / 6000.0, m_seed + 15) - 1.0f};
    float density = 0.0f;
    for (const Section& s : m_sections) {
        if (xu < s.minX || xu > s.maxX || yu < s.minY || yu > s.maxY)
            continue;
        const double dx = xu - s.cx, dy = yu - s.cy;
        const double qx = (dx * s.cosT + dy * s.sinT) / s.a, qy = (dy * s.cosT - dx * s.sinT) / s.b;
        const double e = std::sqrt(qx * qx + qy * qy);
        if (e > 1.5)
            continue;
        const double ragged = 0.32 * (fbm3(xu / 3000.0, yu / 3000.0, s.seed) - 0.5)
                              + 0.07 * (vnoise(xu / 380.0, yu / 380.0, s.seed + 7) - 0.5);
        const double signedUm = (e - 1.0 + ragged) * std::min(s.a, s.b);
        density = std::max(density, clamp01(float(0.5 - signedUm / 25.0)));
    }
    if (density > 0.0f) {
        // Lumens and tears, then the balance of cellular and stromal tissue.
        const float h = 0.65f * vnoise(xu / 650.0, yu / 650.0, m_seed + 11)
                        + 0.35f * vnoise(xu / 230.0, yu / 230.0, m_seed + 12);
        density *= 1.0f - smoothstep(0.70f, 0.74f, h);
        m.mix = smoothstep(0.3f, 0.75f, 0.7f * vnoise(xu / 1100.0, yu / 1100.0, m_seed + 13)
                                            + 0.3f * vnoise(xu / 140.0, yu / 140.0, m_seed + 14));
    }
    m.density = density;
    return m;
}

double SlideWorld::tissueAt(double x, double y) const
{
    return macroAt(x / 10.0, y / 10.0).density;
}

void SlideWorld::render(QImage& out, const SlideView& view) const
{
    const double pixelUm = std::max(std::hypot(view.du.x(), view.du.y()), std::hypot(view.dv.x(), view.dv.y())) / 10.0;
    uchar* bits = out.bits();
    const qsizetype bpl = out.bytesPerLine();
    const int tileRows = (out.height() + kTile - 1) / kTile;
    auto band = [&](int first, int stride) {
        for (int t = first; t < tileRows; t += stride) {
            const int y0 = t * kTile;
            for (int x0 = 0; x0 < out.width(); x0 += kTile)
                renderTile(bits, bpl, x0, y0, std::min(kTile, out.width() - x0), std::min(kTile, out.height() - y0),
                           view, pixelUm);
        }
    };
    // Tiles are independent: large pictures are shared among a few threads.
    const int threads = out.width() * out.height() < 200000
                            ? 1
                            : int(std::clamp(std::thread::hardware_concurrency(), 1u, 4u));
    std::vector<std::thread> helpers;
    for (int k = 1; k < threads; ++k)
        helpers.emplace_back(band, k, threads);
    band(0, threads);
    for (std::thread& t : helpers)
        t.join();
}

void SlideWorld::renderTile(uchar* rows, qsizetype bpl, int x0, int y0, int w, int h, const SlideView& v,
                            double pixelUm) const
{
    // Pixel centre (i, j) of the picture lies at origin + i du + j dv; work in micrometres.
    const double ox = v.origin.x() / 10.0, oy = v.origin.y() / 10.0;
    const double ux = v.du.x() / 10.0, uy = v.du.y() / 10.0, vx = v.dv.x() / 10.0, vy = v.dv.y() / 10.0;
    auto at = [&](double i, double j) { return QPointF(ox + i * ux + j * vx, oy + i * uy + j * vy); };

    // Large-scale structure on a coarse lattice of pixels (about 6 um apart), interpolated.
    int step = 1;
    while (step < 16 && double(step * 2) * pixelUm <= 6.0)
        step *= 2;
    const int nx = (w - 1) / step + 2, ny = (h - 1) / step + 2;
    Macro lattice[(kTile + 1) * (kTile + 1)];
    float maxDensity = 0.0f;
    for (int b = 0; b < ny; ++b)
        for (int a = 0; a < nx; ++a) {
            const QPointF p = at(x0 + a * step, y0 + b * step);
            const Macro m = macroAt(p.x(), p.y());
            lattice[b * nx + a] = m;
            maxDensity = std::max(maxDensity, m.density);
        }

    // The tile's extent on the slide.
    double minX = 1e300, maxX = -1e300, minY = 1e300, maxY = -1e300;
    for (const QPointF& c : {at(x0 - 0.5, y0 - 0.5), at(x0 + w + 0.5, y0 - 0.5), at(x0 - 0.5, y0 + h + 0.5),
                             at(x0 + w + 0.5, y0 + h + 0.5)}) {
        minX = std::min(minX, c.x());
        maxX = std::max(maxX, c.x());
        minY = std::min(minY, c.y());
        maxY = std::max(maxY, c.y());
    }

    // Fiducial crosses at the slide's corners.
    const double markReach = kMarkArmUm + 2 * pixelUm;
    bool marks = false;
    for (double cx : {0.0, SlideGeometry::kWidthUnits / 10.0})
        for (double cy : {0.0, SlideGeometry::kHeightUnits / 10.0})
            if (maxX > cx - markReach && minX < cx + markReach && maxY > cy - markReach && minY < cy + markReach)
                marks = true;

    const float aa = float(std::max(0.25, pixelUm * 0.75));
    // Cells show while they span a few pixels and fade into their average below that.
    const float detail = clamp01(float((kCellUm / pixelUm - 1.5) / 3.0));

    // The cells around the tile, with positions relative to its first cell for precision.
    std::vector<Cell> cells;
    int gx0 = 0, gy0 = 0, cw = 0, ch = 0;
    if (detail > 0.0f && maxDensity > 0.0f) {
        gx0 = int(std::floor(minX / kCellUm)) - 1;
        gy0 = int(std::floor(minY / kCellUm)) - 1;
        cw = int(std::floor(maxX / kCellUm)) + 2 - gx0;
        ch = int(std::floor(maxY / kCellUm)) + 2 - gy0;
        cells.resize(size_t(cw) * size_t(ch));
        const quint32 cellSeed = m_seed ^ 0x51ed270bu;
        // A cell's centre within its grid square, in grid units relative to the square.
        auto centre = [cellSeed](int gx, int gy) {
            const quint32 h = hash3(gx, gy, cellSeed);
            return QPointF(0.15 + 0.7 * unitOf(h), 0.15 + 0.7 * unitOf(mix32(h + 1)));
        };
        for (int b = 0; b < ch; ++b)
            for (int a = 0; a < cw; ++a) {
                const int gx = gx0 + a, gy = gy0 + b;
                const QPointF own = centre(gx, gy);
                // The nucleus stays inside its cell: under half the distance to the nearest neighbour.
                double nearest = 2.0;
                for (int nb = -1; nb <= 1; ++nb)
                    for (int na = -1; na <= 1; ++na)
                        if (na != 0 || nb != 0) {
                            const QPointF o = centre(gx + na, gy + nb) + QPointF(na, nb) - own;
                            nearest = std::min(nearest, std::hypot(o.x(), o.y()));
                        }
                const quint32 hs = hash3(gx, gy, cellSeed + 7);
                Rng r{hs};
                Cell& c = cells[size_t(b) * size_t(cw) + size_t(a)];
                c.x = float((a + own.x()) * kCellUm);
                c.y = float((b + own.y()) * kCellUm);
                c.rn = float(std::min(0.22 + 0.12 * r.next(), 0.42 * nearest) * kCellUm);
                const double slack = std::max(0.0, 0.45 * nearest * kCellUm - c.rn);
                c.nx = c.x + float((r.next() - 0.5) * slack);
                c.ny = c.y + float((r.next() - 0.5) * slack);
                c.tint = float(0.95 + 0.1 * r.next());
                c.seed = hs;
            }
    }
    const double refX = double(gx0) * kCellUm, refY = double(gy0) * kCellUm;

    const float invAa = 1.0f / aa;
    std::vector<Macro> row(static_cast<size_t>(nx));
    for (int j = 0; j < h; ++j) {
        uchar* d = rows + (y0 + j) * bpl + qsizetype(x0) * 3;
        // The lattice interpolated down to this row, then along it per pixel.
        const int bj = j / step;
        const float ty = float(j % step) / float(step);
        for (int a = 0; a < nx; ++a) {
            const Macro& m0 = lattice[bj * nx + a];
            const Macro& m1 = lattice[(bj + 1) * nx + a];
            row[size_t(a)] = {m0.density + (m1.density - m0.density) * ty, m0.mix + (m1.mix - m0.mix) * ty,
                              m0.glass + (m1.glass - m0.glass) * ty};
        }
        const QPointF rowStart = at(x0, y0 + j);
        for (int i = 0; i < w; ++i, d += 3) {
            const int ai = i / step;
            const float tx = float(i % step) / float(step);
            const Macro& m0 = row[size_t(ai)];
            const Macro& m1 = row[size_t(ai) + 1];
            Rgb colour = glassColour(m0.glass + (m1.glass - m0.glass) * tx);
            const float density = m0.density + (m1.density - m0.density) * tx;
            const QPointF p = rowStart + QPointF(i * ux, i * uy);
            if (density > 0.0f) {
                const float mix = m0.mix + (m1.mix - m0.mix) * tx;
                Rgb tissue = meanTissue(mix);
                if (!cells.empty()) {
                    const float px = float(p.x() - refX), py = float(p.y() - refY);
                    const int ci = std::clamp(int(px / kCellUm), 1, cw - 2);
                    const int cj = std::clamp(int(py / kCellUm), 1, ch - 2);
                    // Nearest and second-nearest cell centre, without branches.
                    float f1 = 1e30f, f2 = 1e30f;
                    size_t bestIndex = 0;
                    for (int b = cj - 1; b <= cj + 1; ++b)
                        for (int a = ci - 1; a <= ci + 1; ++a) {
                            const size_t k = size_t(b) * size_t(cw) + size_t(a);
                            const float ddx = cells[k].x - px, ddy = cells[k].y - py;
                            const float d2 = ddx * ddx + ddy * ddy;
                            const bool closer = d2 < f1;
                            f2 = closer ? f1 : std::min(f2, d2);
                            f1 = closer ? d2 : f1;
                            bestIndex = closer ? k : bestIndex;
                        }
                    const Cell* best = &cells[bestIndex];
                    Rgb cell = lerp(kStroma, kCytoplasm, mix);
                    cell = {cell.r * best->tint, cell.g * best->tint, cell.b * best->tint};
                    const float border = (std::sqrt(f2) - std::sqrt(f1)) * 0.5f;
                    cell = lerp(cell, kMembrane, 0.7f * clamp01((kMembraneUm - border) * invAa + 0.5f));
                    if (unitOf(best->seed) < nucleusChance(mix)) {
                        const float ndx = best->nx - px, ndy = best->ny - py;
                        const float dn = std::sqrt(ndx * ndx + ndy * ndy);
                        const float cover = clamp01((best->rn - dn) * invAa + 0.5f);
                        if (cover > 0.0f) {
                            // Chromatin: a speckle that darkens towards the nuclear rim.
                            const float grain = vnoise(p.x() / 0.7, p.y() / 0.7, best->seed);
                            const float dark = clamp01(0.25f + 0.55f * grain + 0.35f * smoothstep(0.6f, 1.0f, dn / best->rn));
                            cell = lerp(cell, lerp(kNucleus, kChromatin, dark), cover);
                        }
                    }
                    tissue = lerp(tissue, cell, detail);
                }
                colour = lerp(colour, tissue, density);
            }
            if (marks) {
                float cover = 0.0f;
                for (double cx : {0.0, SlideGeometry::kWidthUnits / 10.0})
                    for (double cy : {0.0, SlideGeometry::kHeightUnits / 10.0}) {
                        const float ax = float(std::abs(p.x() - cx)), ay = float(std::abs(p.y() - cy));
                        const float arm = float(kMarkArmUm), half = float(kMarkHalfUm);
                        const float hor = clamp01((half - ay) / aa + 0.5f) * clamp01((arm - ax) / aa + 0.5f);
                        const float ver = clamp01((half - ax) / aa + 0.5f) * clamp01((arm - ay) / aa + 0.5f);
                        cover = std::max({cover, hor, ver});
                    }
                colour = lerp(colour, kMark, cover);
            }
            d[0] = byteOf(colour.r);
            d[1] = byteOf(colour.g);
            d[2] = byteOf(colour.b);
        }
    }
}

QImage SlideWorld::overview() const
{
    using namespace SlideGeometry;
    QImage out(kOverviewWidth, kOverviewHeight, QImage::Format_RGB888);
    const double sx = kWidthUnits / kOverviewWidth, sy = kHeightUnits / kOverviewHeight;
    render(out, {{0.5 * sx, 0.5 * sy}, {sx, 0}, {0, sy}});
    return out;
}

QImage SlideWorld::wholeSlide() const
{
    using namespace SlideGeometry;
    QImage out(kWholeWidth, kWholeHeight, QImage::Format_RGB888);
    const QPointF o = m_fiducials.pixelToStage({0.5, 0.5});
    const QPointF u = m_fiducials.pixelToStage({1.5, 0.5}) - o;
    const QPointF v = m_fiducials.pixelToStage({0.5, 1.5}) - o;
    render(out, {o, u, v});
    return out;
}

QImage SlideWorld::frame(QPointF centre, double fieldW, double fieldH, QSize frameSize, QRect crop,
                         double blurUm) const
{
    crop = crop.intersected(QRect(QPoint(0, 0), frameSize));
    QImage out(crop.size(), QImage::Format_RGB888);
    if (crop.isEmpty())
        return out;
    // Far off the slide there is only empty stage: keep the noise lattices in integer range.
    auto bounded = [](double v, double span) { return std::isfinite(v) ? std::clamp(v, -span, 2 * span) : -span; };
    centre = {bounded(centre.x(), SlideGeometry::kWidthUnits), bounded(centre.y(), SlideGeometry::kHeightUnits)};
    const double px = fieldW / frameSize.width(), py = fieldH / frameSize.height();    // units per pixel
    const double left = centre.x() - fieldW / 2, top = centre.y() - fieldH / 2;
    const double sigma = std::min(blurUm, 500.0) * 10.0 / px;                          // in pixels

    if (!(sigma >= 0.25)) {
        render(out, {{left + (crop.x() + 0.5) * px, top + (crop.y() + 0.5) * py}, {px, 0}, {0, py}});
        return out;
    }

    // Defocused: render coarser pixels (f frame pixels each), blur them, and resample. The
    // coarse grid is fixed to the frame, so any crop equals the same part of the full frame.
    const int f = std::max(1, int(sigma / 2.5));
    const double s = sigma / f;
    // Three box passes of radius r blur with a variance of r (r + 1). A sigma between two radii
    // is a mix of both blurs, so the blur grows with every step of defocus.
    const double variance = s * s;
    const int r = int(std::floor((std::sqrt(4 * variance + 1) - 1) / 2));
    const int mix = std::clamp(int(std::lround((variance - r * (r + 1)) / (2.0 * (r + 1)) * 256)), 0, 256);
    const int margin = 3 * (r + 1) + 2;
    const int k0 = crop.x() / f - margin, k1 = (crop.x() + crop.width() - 1) / f + 1 + margin;
    const int l0 = crop.y() / f - margin, l1 = (crop.y() + crop.height() - 1) / f + 1 + margin;
    QImage low(k1 - k0 + 1, l1 - l0 + 1, QImage::Format_RGB888);
    render(low, {{left + (k0 + 0.5) * f * px, top + (l0 + 0.5) * f * py}, {f * px, 0}, {0, f * py}});
    QImage lower = low.copy();
    if (r > 0)
        gaussianish(lower, r);
    gaussianish(low, r + 1);
    for (int j = 0; j < low.height(); ++j) {
        uchar* d = low.scanLine(j);
        const uchar* e = lower.constScanLine(j);
        for (int i = 0; i < 3 * low.width(); ++i)
            d[i] = uchar((d[i] * mix + e[i] * (256 - mix) + 128) >> 8);
    }

    // Bilinear resampling in 8-bit fixed point.
    auto axis = [f](int start, int n, int k0, int limit, std::vector<int>& idx, std::vector<int>& frac) {
        idx.resize(size_t(n));
        frac.resize(size_t(n));
        for (int i = 0; i < n; ++i) {
            const double c = (start + i + 0.5) / f - 0.5 - k0;
            int b = int(std::floor(c));
            int t = int(std::lround((c - b) * 256));
            if (t == 256) {
                ++b;
                t = 0;
            }
            if (b >= limit - 1) {
                b = limit - 2;
                t = 256;
            }
            idx[size_t(i)] = std::max(b, 0);
            frac[size_t(i)] = t;
        }
    };
    std::vector<int> xi, xf, yi, yf;
    axis(crop.x(), crop.width(), k0, low.width(), xi, xf);
    axis(crop.y(), crop.height(), l0, low.height(), yi, yf);
    for (int j = 0; j < crop.height(); ++j) {
        const uchar* r0 = low.constScanLine(yi[size_t(j)]);
        const uchar* r1 = low.constScanLine(yi[size_t(j)] + 1);
        const int ty = yf[size_t(j)];
        uchar* d = out.scanLine(j);
        for (int i = 0; i < crop.width(); ++i) {
            const int b = xi[size_t(i)] * 3, tx = xf[size_t(i)];
            for (int c = 0; c < 3; ++c) {
                const int top = r0[b + c] * (256 - tx) + r0[b + 3 + c] * tx;
                const int bottom = r1[b + c] * (256 - tx) + r1[b + 3 + c] * tx;
                d[3 * i + c] = uchar((top * (256 - ty) + bottom * ty + 32768) >> 16);
            }
        }
    }
    return out;
}
