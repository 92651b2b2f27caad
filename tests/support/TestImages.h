#pragma once

#include "SimHost.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageWriter>

// Pictures for tests, and the JPEG bytes a scripted host route answers with.
namespace TestImages {

inline QByteArray jpeg(const QImage& image, int quality = 95, bool progressive = false)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "JPEG");
    writer.setQuality(quality);
    writer.setProgressiveScanWrite(progressive);
    writer.write(image);
    return bytes;
}

inline QImage solid(int w, int h, QRgb colour)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(colour);
    return img;
}

// Answers a slide-file request under `prefix` ("/small_slides/") for `name` only.
inline void scriptFile(SimHost& host, const QString& prefix, const QString& name, const HostReply& reply)
{
    host.script(prefix + name, [reply](const HostRequest&) { return reply; });
}

}
