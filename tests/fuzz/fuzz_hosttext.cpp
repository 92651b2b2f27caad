// Any bytes as host text (banner, description, System Info line): the markup check and the plain
// fallback stay inside them; a text passed as markup is within the size and line limits, and no
// text added after an unsafe one makes it safe; the fallback keeps the text's bytes in order,
// breaks only over-long lines, between characters, and cuts a text past the size limit, between
// characters, with its mark.
#include "HostText.h"

#include <QString>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

using namespace HostMarkup;

bool continuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

qsizetype longestLine(QByteArrayView text)
{
    qsizetype longest = 0, line = 0;
    for (const char c : text) {
        line = c == '\n' ? 0 : line + 1;
        longest = qMax(longest, line);
    }
    return longest;
}

void checkMarkup(QByteArrayView text)
{
    if (!layoutSafe(text))
        return;
    if (text.size() > MaxMarkupBytes || longestLine(text) > MaxLineBytes)
        std::abort();                   // passed as markup beyond the limits
    for (const qsizetype n : {text.size() / 2, text.size() - 1})
        if (n >= 0 && !layoutSafe(text.first(n)))
            std::abort();               // an unsafe text made safe by what follows it
}

// `text` is valid UTF-8, as the views hand it over.
void checkFallback(QByteArrayView text)
{
    const QByteArray shown = plainFallback(text);
    const QByteArrayView mark(CutMark);
    const bool cut = text.size() > MaxTotalBytes;
    if (cut && !shown.endsWith(mark))
        std::abort();
    const QByteArrayView body = cut ? QByteArrayView(shown).chopped(mark.size()) : QByteArrayView(shown);
    // The text's bytes in order, with breaks added (an added break is never followed by one of
    // the text's own).
    qsizetype i = 0;
    qsizetype added = 0;
    for (qsizetype j = 0; j < body.size(); ++j) {
        if (i < text.size() && body[j] == text[i]) {
            ++i;
            continue;
        }
        if (body[j] != '\n' || (i < text.size() && continuation(text[i])))
            std::abort();               // a byte not of the text, or a break inside a character
        ++added;
    }
    if (cut ? (i < MaxTotalBytes - 3 || i > MaxTotalBytes || continuation(text[i])) : i != text.size())
        std::abort();                   // kept too little or too much, or cut inside a character
    // A character that straddles the limit stays whole on its line.
    if (longestLine(body) > MaxLineBytes + 3 || added > i / MaxLineBytes)
        std::abort();                   // a line over the limit, or a break where none was due
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20))
        return 0;
    const QByteArrayView raw(reinterpret_cast<const char*>(data), qsizetype(size));
    checkMarkup(raw);
    (void)plainFallback(raw);
    // As the views see it: decoded and encoded again.
    const QByteArray text = QString::fromUtf8(raw).toUtf8();
    checkMarkup(text);
    checkFallback(text);
    // A larger input is also taken repeated past the size limit, where the fallback cuts.
    if (text.size() > 8 * 1024)
        checkFallback(text.repeated(MaxTotalBytes / text.size() + 1));
    return 0;
}
