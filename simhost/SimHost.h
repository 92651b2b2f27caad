#pragma once

#include "World.h"

#include <QAbstractHttpServer>
#include <QHash>
#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QUrlQuery>
#include <functional>
#include <optional>

// One request as the host decoded it.
struct HostRequest
{
    QString route;              // "iserv:i", "icount:sl", "/small_slides/", ...
    QString path;               // "/cgi-bin/iserv"
    QByteArray rawPath;         // as sent, percent-encoded
    QByteArray rawQuery;        // as sent, percent-encoded
    QList<QPair<QString, QString>> items;   // decoded keys and values in order

    QString value(const QString& key) const;
    bool has(const QString& key) const;
    QString rest;               // for file routes: the path after the prefix, decoded
};

struct HostReply
{
    int status = 200;
    QByteArray body;
    QByteArray contentType = "text/plain";
    int delayMs = 0;
    // A reply that waits for the world: asked first after delayMs, then every few milliseconds,
    // until it fills in the reply and returns true. The event loop runs meanwhile.
    std::function<bool(HostReply&)> ready;

    static HostReply text(const QByteArray& body) { HostReply r; r.body = body; return r; }
    static HostReply jpeg(const QByteArray& body);
    static HostReply notFound() { HostReply r; r.status = 404; return r; }
};

// The simulated service host: routes for the protocol's requests over a World, a request log,
// and per-route scripting for tests (status, body, delay, or a whole handler).
class SimHost : public QAbstractHttpServer
{
    Q_OBJECT
public:
    using Handler = std::function<HostReply(const HostRequest&)>;

    explicit SimHost(QObject* parent = nullptr);

    quint16 listen(quint16 port = 0, const QHostAddress& address = QHostAddress::LocalHost);
    quint16 port() const { return m_port; }
    QString hostField() const;              // "127.0.0.1:<port>", for the client's Server field

    World& world() { return m_world; }

    // "iserv:<f>" and "icount:<f>" for the CGI programs, a path prefix ending in '/' for files.
    void addRoute(const QString& route, Handler handler);

    // Test scripting: replace a route's answer, or delay it. A script may also name one file's
    // path ("/small_slides/S1"): it then answers for that file only.
    void script(const QString& route, Handler handler);
    void scriptReply(const QString& route, int status, const QByteArray& body, int delayMs = 0);
    void setDelay(const QString& route, int delayMs);
    void clearScripts();

    struct LogEntry
    {
        QString route;
        QString path;
        QByteArray rawPath;
        QByteArray rawQuery;
        QList<QPair<QString, QString>> items;
        int status = 0;
        QString value(const QString& key) const;
    };
    const QList<LogEntry>& log() const { return m_log; }
    QList<LogEntry> requests(const QString& route) const;
    int count(const QString& route) const { return int(requests(route).size()); }
    void clearLog() { m_log.clear(); }
    // Whether a frame ("iserv:p") asked for now is the first since a move with "b=y" that did
    // not follow an inset: a neighbour tile, not the frame after a focus stack. Read from the
    // log of the requests before it.
    bool frameFollowsBlockingMove() const;

signals:
    void requestServed(const QString& route);

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override;
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override;

private:
    HostRequest decode(const QHttpServerRequest& request) const;
    void respond(const QHttpServerRequest& request, QTcpSocket* socket, const HostReply& reply);

    World m_world;
    quint16 m_port = 0;
    QHash<QString, Handler> routes;
    QList<QString> prefixes;
    QHash<QString, Handler> scripts;
    QHash<QString, int> delays;
    QList<LogEntry> m_log;
};

// The refusal of a control-window command on the prefix "l=<login>&s=<scope>&" with "&auth=":
// "-N" when no session ticket of the login on the microscope fits, "-U" when the login holds no
// control time there now; none when it may act.
std::optional<HostReply> controlRefusal(const World& w, const HostRequest& r);

// Route groups, each in its own file.
void addLoginRoutes(SimHost& host);       // LoginRoutes.cpp
void addImageRoutes(SimHost& host);       // ImageRoutes.cpp: slide files, video frames, "f=d"
void addPointListRoutes(SimHost& host);   // PointListRoutes.cpp: "/cgi-bin/icount" point lists
void addScheduleRoutes(SimHost& host);    // ScheduleRoutes.cpp: clock, schedule, booking
void addStageRoutes(SimHost& host);       // StageRoutes.cpp: stage, control time, cancellation
void addJobRoutes(SimHost& host);         // JobRoutes.cpp: job creation, job and library lists
