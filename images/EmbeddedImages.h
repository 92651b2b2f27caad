#pragma once

#include "ImageSourceFactory.h"

#include <QImage>
#include <QString>
#include <QtGui/qrgb.h>

// One picture compiled into the program. `data` holds the qCompress form (4-byte big-endian
// length, then a zlib stream) of `height` rows of `width` pixels, each pixel the bytes
// blue, green, red, alpha.
struct EmbeddedImage
{
    int width;
    int height;
    int depth;
    const unsigned char* data;
    unsigned long compressed;
    int numColors;
    const QRgb* colorTable;
    bool alpha;
    const char* name;
};

// Twelve entries, then one whose `data` is null.
extern const EmbeddedImage embeddedImageTable[];

// The first entry named exactly `name`, freshly unpacked; a null image when there is none.
QImage findEmbeddedImage(const QString& name);

// The entry's pixels; a null image when they do not unpack to a full width × height picture
// of 32-bit pixels.
QImage unpackEmbeddedImage(const EmbeddedImage& entry);

// How many entries have been unpacked since the program started.
int embeddedImageUnpackCount();

// Offers the table by name through the default factory. Each image is unpacked on its first
// request and kept in this factory's store afterwards.
class EmbeddedImageFactory : public ImageSourceFactory
{
public:
    ~EmbeddedImageFactory() override;
    QImage data(const QString& name) const override;
};

// Install the one factory into the default factory, and take it out again. Both run by
// themselves around main(); a repeated call does nothing.
void initEmbeddedImages();
void cleanupEmbeddedImages();
