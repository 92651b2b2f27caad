#include "MyWebJPEG.h"
#include "MyHTTP.h"

MyWebJPEG::MyWebJPEG() : http(new MyHTTP)
{
    connect(http, qOverload<>(&MyHTTP::done), this, &MyWebJPEG::dataReady);
}

MyWebJPEG::~MyWebJPEG()
{
    delete http;
}

void MyWebJPEG::setURL(const char* text)
{
    setURL(QString::fromLatin1(text));
}

void MyWebJPEG::setURL(const QString& text)
{
    http->setUrl(text);
    m_url = text;
}

void MyWebJPEG::get()
{
    http->fetch();
}

void MyWebJPEG::dataReady()
{
    if (!http->succeeded())
        return;
    const auto* bytes = reinterpret_cast<const uchar*>(http->data());
    // Decode into a temporary: a failed decode must leave the previous picture in place.
    if (mode == 1) {
        QImage decoded;
        if (decoded.loadFromData(bytes, http->length(), "JPEG"))
            image = decoded;
        emit newImageAvailable(image);
    } else if (mode == 0) {
        QPixmap decoded;
        if (decoded.loadFromData(bytes, uint(http->length()), "JPEG", Qt::AutoColor))
            pixmap = decoded;
        emit newPixmapAvailable(pixmap);
    }
}
