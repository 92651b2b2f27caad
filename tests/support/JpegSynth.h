#pragma once

#include <QByteArray>
#include <functional>

// JPEG files written from scratch, in forms that Qt's writer does not make: four components
// (CMYK, or YCCK by the Adobe segment), no chroma subsampling, progressive scans, segments of
// any kind after SOI. Every 8 x 8 block has one level per component plus, if asked, `acTerms`
// frequency terms of a fixed pseudo-random pattern; every sampling factor is 1.
namespace JpegSynth {

struct Spec
{
    int width = 64;
    int height = 64;
    int components = 3;         // 1 grey, 3 YCbCr (RGB by an Adobe segment), 4 CMYK / YCCK
    bool progressive = false;   // the levels in one scan, then one scan of terms per component
    int acTerms = 0;            // 0..63
    // The level of component c in block (bx, by), 0..255; 128 everywhere when empty.
    std::function<int(int c, int bx, int by)> level;
    QByteArray afterSoi;        // whole segments put right after SOI
    quint32 seed = 1;
};

QByteArray write(const Spec& spec);

// A segment 0xFF <marker> with this payload (at most 65533 bytes).
QByteArray segment(int marker, const QByteArray& payload);
// `total` bytes of comment text, in as few comment segments as hold it.
QByteArray comments(qint64 total, char fill = 'c');
// The Adobe segment; transform 0 = none (RGB or CMYK), 1 = YCbCr, 2 = YCCK.
QByteArray adobe(int transform);
// `jpeg` with `segments` put right after its SOI.
QByteArray insertAfterSoi(const QByteArray& jpeg, const QByteArray& segments);

}
