#pragma once

#include <QImage>
#include <QObject>
#include <QPixmap>
#include <QString>

class MyHTTP;

// Fetches a JPEG through its own MyHTTP and hands it on as an image (mode 1) or a pixmap (mode 0).
// Every successful transfer gives exactly one picture signal; a reply that does not decode leaves
// the previous picture in place and hands that on again. A failed transfer gives failed() instead.
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
    QImage image;
    QPixmap pixmap;
    int mode = 1;
};
