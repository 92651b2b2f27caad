#include "MyWebJPEG.h"
#include "MyHTTP.h"

#include <QBuffer>
#include <QDebug>
#include <QImageReader>

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

bool MyWebJPEG::isComplete(const uchar* d, int n)
{
    if (n < 4 || d[0] != 0xFF || d[1] != 0xD8)
        return false;
    int i = 2;
    for (;;) {
        // The next marker: bytes that are not one are skipped, as the decoder does, and so
        // are fill bytes.
        while (i < n && d[i] != 0xFF)
            ++i;
        while (i < n && d[i] == 0xFF)
            ++i;
        if (i >= n)
            return false;
        const uchar marker = d[i++];
        if (marker == 0xD9)
            return true;                        // end of image
        if (marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8))
            continue;                           // no segment of its own
        if (i + 2 > n)
            return false;
        const int length = (d[i] << 8) | d[i + 1];
        if (length < 2 || i + length > n)
            return false;
        i += length;
        if (marker == 0xDA) {
            // Scan data runs to the next marker other than a stuffed 0xFF or a restart marker.
            for (;;) {
                while (i < n && d[i] != 0xFF)
                    ++i;
                if (i + 1 >= n)
                    return false;
                const uchar next = d[i + 1];
                if (next == 0xFF)
                    ++i;                        // a fill byte before a marker
                else if (next == 0x00 || (next >= 0xD0 && next <= 0xD7))
                    i += 2;                     // a stuffed 0xFF, or a restart marker
                else
                    break;                      // the marker after the scan
            }
        }
    }
}

QImage MyWebJPEG::decode(const uchar* data, int size)
{
    if (!isComplete(data, size))
        return {};
    QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), size);
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "JPEG");
    reader.setAllocationLimit(int(MaxPictureBytes >> 20));
    const QSize pictureSize = reader.size();
    if (!pictureSize.isValid() || qint64(pictureSize.width()) * pictureSize.height() * 4 > MaxPictureBytes) {
        qDebug() << "MyWebJPEG: picture of" << pictureSize << "refused";
        return {};
    }
    return reader.read();
}

void MyWebJPEG::dataReady()
{
    if (!http->succeeded()) {
        emit failed();
        return;
    }
    // A reply that does not decode is announced as a null picture, so that no receiver shows
    // the previous picture as the new one. A JPEG cut short would decode with its missing part
    // grey: it is no picture either.
    QImage decoded = decode(reinterpret_cast<const uchar*>(http->data()), http->length());
    if (decoded.isNull())
        qDebug() << "MyWebJPEG: reply of" << http->length() << "bytes is not a JPEG:" << m_url;
    if (mode == 1) {
        emit newImageAvailable(decoded);
    } else if (mode == 0) {
        QPixmap pixmap = decoded.isNull() ? QPixmap() : QPixmap::fromImage(std::move(decoded), Qt::AutoColor);
        emit newPixmapAvailable(pixmap);
    }
}
