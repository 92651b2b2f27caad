#include "MyWebJPEG.h"
#include "MyHTTP.h"

#include <QDebug>

MyWebJPEG::MyWebJPEG() : http(new MyHTTP)
{
    connect(http, qOverload<>(&MyHTTP::done), this, &MyWebJPEG::dataReady);
}

MyWebJPEG::~MyWebJPEG()
{
    delete http;            // a running transfer is abandoned and reports nothing
}

void MyWebJPEG::setURL(const char* text)
{
    setURL(QString::fromLatin1(text));
}

void MyWebJPEG::setURL(const QString& text)
{
    http->setUrl(text);     // ignored while a transfer runs
    m_url = text;
}

void MyWebJPEG::get()
{
    http->fetch();
}

void MyWebJPEG::dataReady()
{
    if (!http->succeeded()) {
        emit failed();
        return;
    }
    const auto* bytes = reinterpret_cast<const uchar*>(http->data());
    const int n = http->length();
    // Decode into a temporary: a failed decode would null its target. The fetcher keeps its
    // last picture, but announces a reply that does not decode as a null picture, so that no
    // receiver shows the previous picture as the new one.
    if (mode == 1) {
        QImage decoded;
        if (decoded.loadFromData(bytes, n, "JPEG")) {
            image = decoded;
            emit newImageAvailable(image);
        } else {
            qDebug() << "MyWebJPEG: reply of" << n << "bytes is not a JPEG:" << m_url;
            QImage none;
            emit newImageAvailable(none);
        }
    } else if (mode == 0) {
        QPixmap decoded;
        if (decoded.loadFromData(bytes, uint(n), "JPEG", Qt::AutoColor)) {
            pixmap = decoded;
            emit newPixmapAvailable(pixmap);
        } else {
            qDebug() << "MyWebJPEG: reply of" << n << "bytes is not a JPEG:" << m_url;
            QPixmap none;
            emit newPixmapAvailable(none);
        }
    }
}
