#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>

// JPEG bytes from a host, walked segment by segment without decoding: whether they hold a whole
// picture, what its frame header says, what a decoder holds in memory for it, and the bytes a
// decoder is given. Every read stays inside the bytes.
struct JpegSegments
{
    // SOI, every segment complete and each scan's data followed by a marker, up to EOI.
    bool whole = false;
    qsizetype end = 0;              // just after EOI when whole; later bytes are not the picture's

    // The first frame header (the one a decoder uses), if one was read in full.
    bool haveFrame = false;
    bool progressive = false;       // SOF2, SOF6, SOF10, SOF14
    int width = 0;
    int height = 0;
    int components = 0;
    int firstScanComponents = 0;    // components of the first scan; 0 before any scan
    struct Sampling
    {
        int h = 0;
        int v = 0;
    };
    QList<Sampling> sampling;       // of each component of the frame

    // Byte ranges left out of decoderInput(): comment segments and the application segments
    // whose contents a decoder would keep (APP1, and APP2 other than an ICC profile of at
    // most MaxProfileBytes before the first scan). Leaving them out changes no pixel.
    QList<QPair<qsizetype, qsizetype>> leftOut;

    static constexpr qint64 MaxProfileBytes = qint64(4) << 20;

    static JpegSegments read(const uchar* data, qsizetype size);

    // What a decode holds at its peak, in bytes: the picture at 4 bytes a pixel and, for a
    // picture coded in more than one scan, a 2-byte coefficient of every sample of every
    // component, in whole blocks. -1 without a usable frame header (no decoder takes it).
    qint64 decoderBytes() const;

    // The bytes a decoder is given: up to the end marker, without the segments left out. The
    // bytes themselves (not copied) where nothing is left out.
    QByteArray decoderInput(const uchar* data) const;
};
