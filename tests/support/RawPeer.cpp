#include "RawPeer.h"

#include <QTcpSocket>

RawPeer::RawPeer()
{
    server.listen(QHostAddress::LocalHost, 0);
    connect(&server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* s = server.nextPendingConnection()) {
            auto* head = new QByteArray;
            connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            connect(s, &QObject::destroyed, [head] { delete head; });
            connect(s, &QTcpSocket::readyRead, this, [this, s, head] {
                head->append(s->readAll());
                if (!head->contains("\r\n\r\n"))
                    return;
                requests.append(*head);
                head->clear();
                if (!dropAtOnce) {
                    const QByteArray& answer = requests.size() <= firstResponses.size()
                        ? firstResponses[requests.size() - 1] : response;
                    const QByteArray out = cutAfter >= 0 ? answer.left(cutAfter) : answer;
                    s->write(out);
                    s->flush();
                }
                s->disconnectFromHost();
            });
        }
    });
}

QByteArray RawPeer::reply200(const QByteArray& body, qint64 declared)
{
    return "HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nContent-Length: "
        + QByteArray::number(declared < 0 ? body.size() : declared)
        + "\r\nConnection: close\r\n\r\n" + body;
}
