// Any bytes as a JPEG reply: the segment walk stays inside them, and the bytes it gives a
// decoder are a whole JPEG with the same frame and first scan and nothing more to leave out.
#include "JpegSegments.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

bool sameHeader(const JpegSegments& a, const JpegSegments& b)
{
    if (a.haveFrame != b.haveFrame || a.progressive != b.progressive || a.width != b.width || a.height != b.height
        || a.components != b.components || a.firstScanComponents != b.firstScanComponents
        || a.sampling.size() != b.sampling.size())
        return false;
    for (qsizetype c = 0; c < a.sampling.size(); ++c)
        if (a.sampling[c].h != b.sampling[c].h || a.sampling[c].v != b.sampling[c].v)
            return false;
    return a.decoderBytes() == b.decoderBytes();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > 65536)
        return 0;
    const JpegSegments jpeg = JpegSegments::read(data, qsizetype(size));
    const qint64 cost = jpeg.decoderBytes();
    if (cost < -1 || (cost >= 0 && cost < qint64(jpeg.width) * jpeg.height * 4))
        std::abort();
    if (!jpeg.whole) {
        if (!jpeg.leftOut.isEmpty() || jpeg.end != 0)
            std::abort();
        return 0;
    }
    // The picture ends with its end marker; what is left out lies before it, in order.
    if (jpeg.end < 4 || qsizetype(size) < jpeg.end || data[jpeg.end - 2] != 0xFF || data[jpeg.end - 1] != 0xD9)
        std::abort();
    qsizetype at = 2, leftOut = 0;
    for (const auto& [from, to] : jpeg.leftOut) {
        if (from < at || to <= from || to > jpeg.end - 2 || data[from] != 0xFF)
            std::abort();
        leftOut += to - from;
        at = to;
    }
    const QByteArray input = jpeg.decoderInput(data);
    if (input.size() != jpeg.end - leftOut
        || (jpeg.leftOut.isEmpty() && input.constData() != reinterpret_cast<const char*>(data)))
        std::abort();
    const JpegSegments again = JpegSegments::read(reinterpret_cast<const uchar*>(input.constData()), input.size());
    if (!again.whole || again.end != input.size() || !again.leftOut.isEmpty() || !sameHeader(jpeg, again))
        std::abort();
    return 0;
}
