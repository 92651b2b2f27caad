// Jobs and lists. On the control window's prefix, after its "&auth=":
//   "f=cj&ld=<d>&tlx=..&tly=..&brx=..&bry=..&n=<name>&sli=<slide>": the host lays the grid;
//   "f=cjf&stl1=<n1>&stl2=<n2>&sts1=<x,y;...>&sts2=<x,y;...>&n=<name>&sli=<slide>": the client's
//   tissue and blank points.
// Replies: "+OK" stored, "-D" the name exists, "-E" nonsense (no tissue point, bad numbers or
// lengths, unknown slide), "<" more points than World::maxJobPoints, "-N"/"-U" as the stage.
// On "/cgi-bin/icount": "f=ja&c=2" the library's slide ids, "f=ju&l=<login>" the login's jobs,
// one a line.
#include "SimHost.h"

#include <cmath>

namespace {

// Stage coordinates beyond a metre are no points of any slide.
constexpr double kMaxCoordinate = 1e7;

HostReply jobReply(World::JobResult result)
{
    switch (result) {
    case World::JobResult::Stored:
        return HostReply::text("+OK");
    case World::JobResult::Duplicate:
        return HostReply::text("-D");
    case World::JobResult::TooLarge:
        return HostReply::text("<");
    case World::JobResult::Nonsense:
        break;
    }
    return HostReply::text("-E");
}

bool real(const QString& text, double* out)
{
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (!ok || !std::isfinite(v) || std::abs(v) > kMaxCoordinate)
        return false;
    *out = v;
    return true;
}

// "x,y;" items, each ended by ';'; an empty text is no point.
bool readPoints(const QString& text, QList<QPointF>* out)
{
    if (text.isEmpty())
        return true;
    if (!text.endsWith(QLatin1Char(';')))
        return false;
    for (const QStringView item : QStringView(text).chopped(1).split(QLatin1Char(';'))) {
        const qsizetype comma = item.indexOf(QLatin1Char(','));
        double x = 0, y = 0;
        if (comma < 0 || !real(item.left(comma).toString(), &x) || !real(item.mid(comma + 1).toString(), &y))
            return false;
        out->append({x, y});
    }
    return true;
}

QByteArray lines(const QStringList& entries)
{
    QByteArray out;
    for (const QString& e : entries)
        out += e.toUtf8() + '\n';
    return out;
}

} // namespace

void addJobRoutes(SimHost& host)
{
    World& w = host.world();

    host.addRoute(QStringLiteral("iserv:cj"), [&w](const HostRequest& r) {
        if (auto no = controlRefusal(w, r))
            return *no;
        bool ok = false;
        const int density = r.value(QStringLiteral("ld")).toInt(&ok);
        double c[4];
        const char* keys[4] = {"tlx", "tly", "brx", "bry"};
        for (int i = 0; i < 4; ++i)
            ok = ok && real(r.value(QLatin1String(keys[i])), &c[i]);
        if (!ok || density < 1 || density > 10)
            return HostReply::text("-E");
        return jobReply(w.createGridJob(r.value(QStringLiteral("s")), r.value(QStringLiteral("l")),
                                        r.value(QStringLiteral("n")), r.value(QStringLiteral("sli")), c[0], c[1],
                                        c[2], c[3], density));
    });

    host.addRoute(QStringLiteral("iserv:cjf"), [&w](const HostRequest& r) {
        if (auto no = controlRefusal(w, r))
            return *no;
        const QString good = r.value(QStringLiteral("sts1")), bad = r.value(QStringLiteral("sts2"));
        QList<QPointF> tissue, blank;
        if (r.value(QStringLiteral("stl1")) != QString::number(good.size())
            || r.value(QStringLiteral("stl2")) != QString::number(bad.size()) || !readPoints(good, &tissue)
            || !readPoints(bad, &blank))
            return HostReply::text("-E");
        return jobReply(w.createListJob(r.value(QStringLiteral("l")), r.value(QStringLiteral("n")),
                                        r.value(QStringLiteral("sli")), tissue, blank));
    });

    host.addRoute(QStringLiteral("icount:ja"), [&w](const HostRequest& r) {
        QStringList ids;
        if (r.value(QStringLiteral("c")) == QLatin1String("2"))
            for (const LibrarySlide& l : w.library)
                ids.append(l.id);
        return HostReply::text(lines(ids));
    });

    host.addRoute(QStringLiteral("icount:ju"), [&w](const HostRequest& r) {
        return HostReply::text(lines(w.jobNames(r.value(QStringLiteral("l")))));
    });
}
