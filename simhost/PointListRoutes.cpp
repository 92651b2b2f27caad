// Point lists on "/cgi-bin/icount": a library slide's stacks ("f=sl&s=<slide>"), null stacks
// of a library slide ("f=sbl&s=<slide>&c=2") or of a job ("f=sbl&s=<job>&c=1"), and a job's
// stacks ("f=jl&j=<job>&c=1"). Every line is "<slide> <x> <y>\n" with x and y in 0.1 um, so
// a job list's first word is the job's slide. A list without points is an empty 200 reply.
#include "SimHost.h"

namespace {

QByteArray lines(const QString& slide, const QList<QPointF>& points)
{
    QByteArray out;
    const QByteArray name = slide.toUtf8();
    for (const QPointF& p : points)
        out += name + ' ' + QByteArray::number(p.x(), 'f', 1) + ' ' + QByteArray::number(p.y(), 'f', 1) + '\n';
    return out;
}

} // namespace

void addPointListRoutes(SimHost& host)
{
    World& w = host.world();

    host.addRoute(QStringLiteral("icount:sl"), [&w](const HostRequest& r) {
        const LibrarySlide* lib = w.librarySlide(r.value(QStringLiteral("s")));
        return HostReply::text(lib ? lines(lib->id, lib->stacks) : QByteArray());
    });

    host.addRoute(QStringLiteral("icount:sbl"), [&w](const HostRequest& r) {
        const QString s = r.value(QStringLiteral("s"));
        const QString c = r.value(QStringLiteral("c"));
        if (c == QLatin1String("1")) {
            const SimJob* job = w.job(s);
            return HostReply::text(job ? lines(job->slide, job->nullStacks) : QByteArray());
        }
        if (c == QLatin1String("2")) {
            const LibrarySlide* lib = w.librarySlide(s);
            return HostReply::text(lib ? lines(lib->id, lib->nullStacks) : QByteArray());
        }
        return HostReply::text(QByteArray());
    });

    host.addRoute(QStringLiteral("icount:jl"), [&w](const HostRequest& r) {
        const SimJob* job = w.job(r.value(QStringLiteral("j")));
        return HostReply::text(job ? lines(job->slide, job->stacks) : QByteArray());
    });
}
