#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QTcpServer>

// A scripted HTTP peer on 127.0.0.1 for transports no HTTP server produces: it answers every
// connection with `response` (raw bytes: status line, headers, body), optionally cut off after
// `cutAfter` bytes, or drops the connection without answering.
class RawPeer : public QObject
{
    Q_OBJECT
public:
    RawPeer();
    quint16 port() const { return server.serverPort(); }
    QString hostField() const { return QStringLiteral("127.0.0.1:%1").arg(port()); }

    QByteArray response;
    QList<QByteArray> firstResponses;   // the answers to the first requests, in turn; then `response`
    int cutAfter = -1;          // close after this many bytes; -1: send everything
    bool dropAtOnce = false;    // close as soon as the request has arrived
    QList<QByteArray> requests; // request heads received

    // An HTTP/1.1 200 reply of `body` whose Content-Length is `declared` (default: the size).
    static QByteArray reply200(const QByteArray& body, qint64 declared = -1);

private:
    QTcpServer server;
};
