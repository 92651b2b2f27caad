#include "MyWebJPEG.h"
#include "JpegSegments.h"
#include "MyHTTP.h"

#include <QBuffer>
#include <QDebug>
#include <QImageReader>
#include <QPointer>

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
    // The request object ignores a URL while a transfer runs: so does url().
    if (http->isBusy())
        return;
    http->setUrl(text);
    m_url = text;
}

void MyWebJPEG::get()
{
    http->fetch();
}

bool MyWebJPEG::isComplete(const uchar* d, int n)
{
    return JpegSegments::read(d, n).whole;
}

namespace {

// Whether a reply is a whole JPEG whose decode takes no more than MyWebJPEG::MaxDecodeBytes.
bool accepted(const JpegSegments& jpeg)
{
    if (!jpeg.whole)
        return false;
    const qint64 cost = jpeg.decoderBytes();
    if (cost < 0 || cost > MyWebJPEG::MaxDecodeBytes) {
        qDebug() << "MyWebJPEG: picture of" << jpeg.width << "x" << jpeg.height << "refused: its decode takes"
                 << cost << "bytes";
        return false;
    }
    return true;
}

QImage decodeAccepted(const JpegSegments& jpeg, const uchar* data)
{
    QByteArray bytes = jpeg.decoderInput(data);
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "JPEG");
    reader.setAllocationLimit(int(MyWebJPEG::MaxDecodeBytes >> 20));
    const QSize pictureSize = reader.size();
    if (!pictureSize.isValid() || qint64(pictureSize.width()) * pictureSize.height() * 4 > MyWebJPEG::MaxDecodeBytes) {
        qDebug() << "MyWebJPEG: picture of" << pictureSize << "refused";
        return {};
    }
    return reader.read();
}

} // namespace

QImage MyWebJPEG::decode(const uchar* data, int size)
{
    const JpegSegments jpeg = JpegSegments::read(data, size);
    return accepted(jpeg) ? decodeAccepted(jpeg, data) : QImage();
}

void MyWebJPEG::dataReady()
{
    if (!http->succeeded()) {
        // Nothing reads a failed reply's bytes. Given back before failed(), whose receiver may
        // start the next transfer, which would keep the buffer.
        http->trimBuffer();
        emit failed();
        return;
    }
    // A reply that does not decode is announced as a null picture, so that no receiver shows
    // the previous picture as the new one. A JPEG cut short would decode with its missing part
    // grey: it is no picture either.
    const QPointer<MyWebJPEG> alive(this);
    const auto* bytes = reinterpret_cast<const uchar*>(http->data());
    const JpegSegments jpeg = JpegSegments::read(bytes, http->length());
    QImage decoded;
    if (accepted(jpeg)) {
        emit decoding();
        if (!alive)
            return;
        decoded = decodeAccepted(jpeg, bytes);
    }
    if (decoded.isNull())
        qDebug() << "MyWebJPEG: reply of" << http->length() << "bytes is not a JPEG:" << m_url;
    if (mode == 1) {
        emit newImageAvailable(decoded);
    } else if (mode == 0) {
        QPixmap pixmap = decoded.isNull() ? QPixmap() : QPixmap::fromImage(std::move(decoded), Qt::AutoColor);
        emit newPixmapAvailable(pixmap);
    }
    // Nothing reads the reply's bytes once its picture is handed on; a receiver may have
    // started the next transfer already.
    if (alive)
        http->trimBuffer();
}
