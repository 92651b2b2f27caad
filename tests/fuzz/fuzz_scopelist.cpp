// Any bytes as a microscope list: the parse stays inside them and its results are consistent.
#include "ScopeList.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20))
        return 0;
    const ScopeList list = parseScopeList(reinterpret_cast<const char*>(data), int(size));
    qsizetype total = list.banner.size();
    qsizetype wire = 0;                 // record bytes taken from the reply
    for (const ScopeRecord& r : list.records) {
        total += r.name.size() + r.description.size() + r.maxMinutesText.size();
        if (r.wireSlides.size() != r.slides.size() || r.wireName.size() < r.name.size())
            std::abort();               // every name shown has its wire bytes
        for (const QString& s : r.slides)
            if (s.isEmpty())
                std::abort();           // an empty slide name is never produced
        wire += r.wireName.size() + r.maxMinutesText.size() + r.description.size();
        for (const QByteArray& s : r.wireSlides)
            wire += s.size();
    }
    if (total > qsizetype(size) * 2)
        std::abort();
    if (wire > qsizetype(size))
        std::abort();                   // a byte read into two records, or twice into one
    return 0;
}
