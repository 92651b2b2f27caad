#include "SimHost.h"

#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QPointer>
#include <QTcpSocket>
#include <QTimer>
#include <memory>

QString HostRequest::value(const QString& key) const
{
    for (const auto& kv : items)
        if (kv.first == key)
            return kv.second;
    return QString();
}

bool HostRequest::has(const QString& key) const
{
    for (const auto& kv : items)
        if (kv.first == key)
            return true;
    return false;
}

QString SimHost::LogEntry::value(const QString& key) const
{
    for (const auto& kv : items)
        if (kv.first == key)
            return kv.second;
    return QString();
}

HostReply HostReply::jpeg(const QByteArray& body)
{
    HostReply r;
    r.body = body;
    r.contentType = "image/jpeg";
    return r;
}

SimHost::SimHost(QObject* parent) : QAbstractHttpServer(parent)
{
    addLoginRoutes(*this);
    addImageRoutes(*this);
    addPointListRoutes(*this);
    addScheduleRoutes(*this);
    addStageRoutes(*this);
    addJobRoutes(*this);
}

quint16 SimHost::listen(quint16 port, const QHostAddress& address)
{
    m_port = QAbstractHttpServer::listen(address, port);
    return m_port;
}

QString SimHost::hostField() const
{
    return QStringLiteral("127.0.0.1:%1").arg(m_port);
}

void SimHost::addRoute(const QString& route, Handler handler)
{
    routes.insert(route, std::move(handler));
    if (route.startsWith(QLatin1Char('/')) && !prefixes.contains(route))
        prefixes.append(route);
}

void SimHost::script(const QString& route, Handler handler)
{
    scripts.insert(route, std::move(handler));
}

void SimHost::scriptReply(const QString& route, int status, const QByteArray& body, int delayMs)
{
    script(route, [status, body, delayMs](const HostRequest&) {
        HostReply r;
        r.status = status;
        r.body = body;
        r.delayMs = delayMs;
        return r;
    });
}

void SimHost::setDelay(const QString& route, int delayMs)
{
    delays.insert(route, delayMs);
}

void SimHost::clearScripts()
{
    scripts.clear();
    delays.clear();
}

QList<SimHost::LogEntry> SimHost::requests(const QString& route) const
{
    QList<LogEntry> out;
    for (const LogEntry& e : m_log)
        if (e.route == route)
            out.append(e);
    return out;
}

bool SimHost::frameFollowsBlockingMove() const
{
    qsizetype i = m_log.size() - 1;
    for (; i >= 0; --i) {
        if (m_log[i].route == QLatin1String("iserv:p"))
            return false;
        if (m_log[i].route == QLatin1String("iserv:m")) {
            if (m_log[i].value(QStringLiteral("b")) != QLatin1String("y"))
                return false;
            break;
        }
    }
    if (i < 0)
        return false;
    // A blocking move after an inset is a focus stack's way back to its centre.
    for (; i >= 0; --i)
        if (m_log[i].route == QLatin1String("iserv:p"))
            return m_log[i].value(QStringLiteral("inset")) != QLatin1String("1");
    return true;
}

HostRequest SimHost::decode(const QHttpServerRequest& request) const
{
    HostRequest r;
    const QUrl url = request.url();
    r.path = url.path(QUrl::FullyDecoded);
    r.rawPath = url.path(QUrl::FullyEncoded).toLatin1();
    r.rawQuery = url.query(QUrl::FullyEncoded).toLatin1();
    // Split on '&' only and percent-decode; '+' stays '+'.
    if (!r.rawQuery.isEmpty()) {
        for (const QByteArray& part : r.rawQuery.split('&')) {
            const int eq = part.indexOf('=');
            const QByteArray k = eq < 0 ? part : part.left(eq);
            const QByteArray v = eq < 0 ? QByteArray() : part.mid(eq + 1);
            r.items.append({QString::fromUtf8(QByteArray::fromPercentEncoding(k)),
                            QString::fromUtf8(QByteArray::fromPercentEncoding(v))});
        }
    }
    const QString f = r.value(QStringLiteral("f"));
    if (r.path == QLatin1String("/cgi-bin/iserv"))
        r.route = QStringLiteral("iserv:") + f;
    else if (r.path == QLatin1String("/cgi-bin/icount"))
        r.route = QStringLiteral("icount:") + f;
    else {
        for (const QString& p : prefixes)
            if (r.path.startsWith(p)) {
                r.route = p;
                r.rest = r.path.mid(p.size());
            }
        if (r.route.isEmpty())
            r.route = r.path;
    }
    return r;
}

bool SimHost::handleRequest(const QHttpServerRequest& request, QTcpSocket* socket)
{
    const HostRequest r = decode(request);
    HostReply reply;
    // A script for one file's own path comes before one for its whole route.
    if (const auto p = scripts.constFind(r.path); p != scripts.constEnd() && r.path != r.route)
        reply = (*p)(r);
    else if (const auto s = scripts.constFind(r.route); s != scripts.constEnd())
        reply = (*s)(r);
    else if (const auto h = routes.constFind(r.route); h != routes.constEnd())
        reply = (*h)(r);
    else
        reply = HostReply::notFound();
    if (reply.delayMs == 0)
        reply.delayMs = delays.value(r.route, 0);

    LogEntry e;
    e.route = r.route;
    e.path = r.path;
    e.rawPath = r.rawPath;
    e.rawQuery = r.rawQuery;
    e.items = r.items;
    e.status = reply.status;
    m_log.append(e);

    respond(request, socket, reply);
    emit requestServed(r.route);
    return true;
}

void SimHost::missingHandler(const QHttpServerRequest& request, QTcpSocket* socket)
{
    respond(request, socket, HostReply::notFound());
}

namespace {

// How often a waiting reply asks the world again.
constexpr int kWaitPollMs = 5;

void write(QHttpServerResponder& responder, const HostReply& reply)
{
    responder.write(reply.body, reply.contentType, static_cast<QHttpServerResponder::StatusCode>(reply.status));
}

} // namespace

void SimHost::respond(const QHttpServerRequest& request, QTcpSocket* socket, const HostReply& reply)
{
    auto responder = std::make_shared<QHttpServerResponder>(makeResponder(request, socket));
    if (reply.delayMs <= 0 && !reply.ready) {
        write(*responder, reply);
        return;
    }
    QPointer<QTcpSocket> alive(socket);
    auto* timer = new QTimer(this);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this, [timer, responder, alive, reply]() {
        if (!alive) {
            timer->deleteLater();
            return;
        }
        HostReply out = reply;
        if (reply.ready && !reply.ready(out)) {
            timer->start(kWaitPollMs);
            return;
        }
        write(*responder, out);
        timer->deleteLater();
    });
    timer->start(qMax(0, reply.delayMs));
}
