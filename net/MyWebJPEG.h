#pragma once

#include <QImage>
#include <QObject>
#include <QPixmap>
#include <QString>

class MyHTTP;

// Fetches a JPEG through its own MyHTTP and hands it on as an image (mode 1) or a pixmap (mode 0).
// Every successful transfer gives exactly one picture signal. A reply that is not a whole JPEG
// (it does not decode, or its data ends before the image's end marker), or whose header gives
// a picture that takes more than MaxDecodeBytes to decode, is handed on as a null picture.
// Comment and metadata segments never reach the decoder (JpegSegments), so the picture carries
// no text from the host. The fetcher keeps no picture, and a reply's buffer above a few MiB is
// given back once the picture is handed on: a receiver that needs the picture keeps its own
// (shared) copy. A failed transfer gives failed() instead, its buffer given back as well.
class MyWebJPEG : public QObject
{
    Q_OBJECT
public:
    MyWebJPEG();
    ~MyWebJPEG() override;

    // Ignored while a transfer runs, as MyHTTP::setUrl is: an owner that wants another URL at
    // once abandons the transfer first (request()->abandon()).
    void setURL(const char* text);
    void setURL(const QString& text);
    // The URL that the next get() fetches.
    QString url() const { return m_url; }
    void setMode(int m) { mode = m; }
    MyHTTP* request() const { return http; }

    // Whether the bytes hold a JPEG to its end marker: every segment complete and the scan
    // data followed by the end of image (trailing bytes after it are allowed).
    static bool isComplete(const uchar* data, int size);

    // The most memory the decode of one reply may take: the picture at 32 bits a pixel and,
    // for a picture coded in several scans, the coefficients the decoder holds for them all.
    // Read from the header, before anything is decoded.
    static constexpr qint64 MaxDecodeBytes = qint64(128) << 20;
    // Decodes whole JPEG bytes, refusing from the header a picture above MaxDecodeBytes.
    static QImage decode(const uchar* data, int size);

public slots:
    void dataReady();
    void get();

signals:
    void newImageAvailable(QImage& image);
    void newPixmapAvailable(QPixmap& pixmap);
    // The transfer failed (no connection, an HTTP error status): no picture follows.
    void failed();
    // A reply's header has been accepted and its picture is about to be decoded: a receiver
    // may let go of a large earlier picture first, so that the two are not held at once.
    void decoding();

private:
    MyHTTP* http;
    QString m_url;
    int mode = 1;
};
