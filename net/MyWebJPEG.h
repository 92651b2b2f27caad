#pragma once

#include <QImage>
#include <QObject>
#include <QPixmap>
#include <QString>

class MyHTTP;

// Fetches a JPEG through its own MyHTTP and hands it on as an image (mode 1) or a pixmap (mode 0).
// Every successful transfer gives exactly one picture signal. A reply that is not a whole JPEG
// (it does not decode, or its data ends before the image's end marker), or whose header gives
// a picture larger than MaxPictureBytes, is handed on as a null picture. The fetcher keeps no
// picture: a receiver that needs it keeps its own (shared) copy. A failed transfer gives
// failed() instead.
class MyWebJPEG : public QObject
{
    Q_OBJECT
public:
    MyWebJPEG();
    ~MyWebJPEG() override;

    void setURL(const char* text);
    void setURL(const QString& text);
    QString url() const { return m_url; }
    void setMode(int m) { mode = m; }
    MyHTTP* request() const { return http; }

    // Whether the bytes hold a JPEG to its end marker: every segment complete and the scan
    // data followed by the end of image (trailing bytes after it are allowed).
    static bool isComplete(const uchar* data, int size);

    // The largest decoded picture (32-bit pixels) that a reply may give; read from the header.
    static constexpr qint64 MaxPictureBytes = qint64(128) << 20;
    // Decodes whole JPEG bytes, refusing from the header a picture above MaxPictureBytes.
    static QImage decode(const uchar* data, int size);

public slots:
    void dataReady();
    void get();

signals:
    void newImageAvailable(QImage& image);
    void newPixmapAvailable(QPixmap& pixmap);
    // The transfer failed (no connection, an HTTP error status): no picture follows.
    void failed();

private:
    MyHTTP* http;
    QString m_url;
    int mode = 1;
};
