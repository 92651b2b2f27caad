#include "JpegSegments.h"

#include <algorithm>
#include <cstring>

namespace {

bool isFrameHeader(uchar marker)
{
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

qint64 ceilDiv(qint64 a, qint64 b)
{
    return (a + b - 1) / b;
}

qint64 roundUp(qint64 a, qint64 b)
{
    return ceilDiv(a, b) * b;
}

} // namespace

JpegSegments JpegSegments::read(const uchar* d, qsizetype n)
{
    JpegSegments s;
    if (n < 4 || d[0] != 0xFF || d[1] != 0xD8)
        return s;
    // ICC profile segments before the first scan: kept unless together they exceed the bound.
    QList<QPair<qsizetype, qsizetype>> profile;
    qint64 profileBytes = 0;
    bool sawFrame = false;
    bool inScans = false;
    qsizetype i = 2;
    for (;;) {
        // The next marker: bytes that are not one are skipped, as the decoder does, and so
        // are fill bytes.
        while (i < n && d[i] != 0xFF)
            ++i;
        const qsizetype from = i;
        while (i < n && d[i] == 0xFF)
            ++i;
        if (i >= n)
            return JpegSegments();
        const uchar marker = d[i++];
        if (marker == 0xD9) {
            s.whole = true;
            s.end = i;
            break;
        }
        if (marker == 0x00 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8))
            continue;                           // no segment of its own
        if (n - i < 2)
            return JpegSegments();
        const int length = (d[i] << 8) | d[i + 1];
        if (length < 2 || length > n - i)
            return JpegSegments();
        const uchar* p = d + i + 2;
        const int size = length - 2;
        const QPair<qsizetype, qsizetype> segment(from, i + length);
        if (isFrameHeader(marker) && !sawFrame) {
            sawFrame = true;
            const int nf = size >= 6 ? p[5] : 0;
            if (size >= 6 && size >= 6 + 3 * nf) {
                s.haveFrame = true;
                s.progressive = marker == 0xC2 || marker == 0xC6 || marker == 0xCA || marker == 0xCE;
                s.height = (p[1] << 8) | p[2];
                s.width = (p[3] << 8) | p[4];
                s.components = nf;
                for (int c = 0; c < nf; ++c)
                    s.sampling.append({p[6 + 3 * c + 1] >> 4, p[6 + 3 * c + 1] & 0x0F});
            }
        } else if (marker == 0xDA && !inScans) {
            inScans = true;
            s.firstScanComponents = size >= 1 ? p[0] : 0;
        } else if (marker == 0xFE || marker == 0xE1) {
            s.leftOut.append(segment);          // comment text, Exif and other metadata
        } else if (marker == 0xE2) {
            if (!inScans && size >= 12 && std::memcmp(p, "ICC_PROFILE\0", 12) == 0) {
                profile.append(segment);
                profileBytes += size;
            } else {
                s.leftOut.append(segment);
            }
        }
        i += length;
        if (marker == 0xDA) {
            // Scan data runs to the next marker other than a stuffed 0xFF or a restart marker;
            // i is left on the first of the 0xFF bytes before that marker.
            for (;;) {
                while (i < n && d[i] != 0xFF)
                    ++i;
                qsizetype j = i + 1;            // past fill bytes
                while (j < n && d[j] == 0xFF)
                    ++j;
                if (j >= n)
                    return JpegSegments();
                if (d[j] != 0x00 && !(d[j] >= 0xD0 && d[j] <= 0xD7))
                    break;                      // the marker after the scan
                i = j + 1;                      // a stuffed 0xFF, or a restart marker
            }
        }
    }
    if (profileBytes > MaxProfileBytes) {
        s.leftOut += profile;
        std::sort(s.leftOut.begin(), s.leftOut.end());
    }
    return s;
}

qint64 JpegSegments::decoderBytes() const
{
    if (!haveFrame || width <= 0 || height <= 0 || components <= 0 || sampling.size() != components)
        return -1;
    int maxH = 1, maxV = 1;
    for (const Sampling& f : sampling) {
        if (f.h < 1 || f.h > 4 || f.v < 1 || f.v > 4)
            return -1;                          // no decoder takes these
        maxH = std::max(maxH, f.h);
        maxV = std::max(maxV, f.v);
    }
    qint64 bytes = qint64(width) * height * 4;
    // One scan holding every component is decoded a row of blocks at a time; otherwise every
    // coefficient of the picture is kept until the last scan.
    const bool oneScan = !progressive && firstScanComponents >= components;
    if (oneScan)
        return bytes;
    for (const Sampling& f : sampling) {
        const qint64 blocksWide = ceilDiv(qint64(width) * f.h, 8 * maxH);
        const qint64 blocksHigh = ceilDiv(qint64(height) * f.v, 8 * maxV);
        bytes += roundUp(blocksWide, f.h) * roundUp(blocksHigh, f.v) * 64 * 2;
    }
    return bytes;
}

QByteArray JpegSegments::decoderInput(const uchar* data) const
{
    const char* bytes = reinterpret_cast<const char*>(data);
    if (leftOut.isEmpty())
        return QByteArray::fromRawData(bytes, end);
    qsizetype kept = end;
    for (const auto& [from, to] : leftOut)
        kept -= to - from;
    QByteArray out;
    out.reserve(kept);
    qsizetype at = 0;
    for (const auto& [from, to] : leftOut) {
        out.append(bytes + at, from - at);
        at = to;
    }
    out.append(bytes + at, end - at);
    return out;
}
