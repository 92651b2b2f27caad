#include "JpegSynth.h"

#include <QList>

#include <algorithm>
#include <cstdlib>

namespace {

// Bits to bytes, with a 0 stuffed after every 0xFF.
struct BitWriter
{
    QByteArray& out;
    quint32 acc = 0;
    int n = 0;
    void put(quint32 bits, int count)
    {
        for (int i = count - 1; i >= 0; --i) {
            acc = (acc << 1) | ((bits >> i) & 1);
            if (++n == 8) {
                out += char(acc);
                if ((acc & 0xFF) == 0xFF)
                    out += char(0);
                acc = 0;
                n = 0;
            }
        }
    }
    void flush()
    {
        while (n != 0)
            put(1, 1);
    }
};

int category(int v)
{
    int a = std::abs(v), s = 0;
    for (; a; a >>= 1)
        ++s;
    return s;
}

void putValue(BitWriter& w, int v, int s)
{
    if (s)
        w.put(quint32(v < 0 ? v - 1 : v) & ((1u << s) - 1), s);
}

// DC: category 0 is the one-bit code 0, categories 1..11 the five-bit codes 16 + category - 1.
void putDc(BitWriter& w, int diff)
{
    const int s = category(diff);
    if (s == 0)
        w.put(0, 1);
    else
        w.put(quint32(16 + s - 1), 5);
    putValue(w, diff, s);
}

// AC: end of block (symbol 0) and run 0 of sizes 1..6, three bits each, code = size.
QByteArray huffmanTables()
{
    QByteArray p;
    p += char(0x00);            // DC table 0
    QByteArray dcBits(16, 0);
    dcBits[0] = 1;
    dcBits[4] = 11;
    p += dcBits;
    for (int s = 0; s <= 11; ++s)
        p += char(s);
    p += char(0x10);            // AC table 0
    QByteArray acBits(16, 0);
    acBits[2] = 7;
    p += acBits;
    for (int s = 0; s <= 6; ++s)
        p += char(s);
    return JpegSynth::segment(0xC4, p);
}

QByteArray scanHeader(const QList<int>& comps, int ss, int se)
{
    QByteArray p;
    p += char(comps.size());
    for (int c : comps) {
        p += char(c + 1);
        p += char(0x00);
    }
    p += char(ss);
    p += char(se);
    p += char(0);
    return JpegSynth::segment(0xDA, p);
}

} // namespace

QByteArray JpegSynth::segment(int marker, const QByteArray& payload)
{
    const int len = int(payload.size()) + 2;
    QByteArray s;
    s += char(0xFF);
    s += char(marker);
    s += char(len >> 8);
    s += char(len & 0xFF);
    return s + payload;
}

QByteArray JpegSynth::comments(qint64 total, char fill)
{
    QByteArray out;
    const QByteArray full(65533, fill);
    for (; total > 0; total -= std::min<qint64>(total, full.size()))
        out += segment(0xFE, full.left(int(std::min<qint64>(total, full.size()))));
    return out;
}

QByteArray JpegSynth::adobe(int transform)
{
    QByteArray p("Adobe");
    p += char(0);
    p += char(100);             // version 100
    p += QByteArray(4, 0);      // flags
    p += char(transform);
    return segment(0xEE, p);
}

QByteArray JpegSynth::insertAfterSoi(const QByteArray& jpeg, const QByteArray& segments)
{
    return jpeg.left(2) + segments + jpeg.mid(2);
}

QByteArray JpegSynth::write(const Spec& spec)
{
    const int nc = spec.components;
    const int bw = (spec.width + 7) / 8, bh = (spec.height + 7) / 8;
    const int terms = std::clamp(spec.acTerms, 0, 63);

    QByteArray out("\xFF\xD8", 2);
    out += spec.afterSoi;
    out += segment(0xDB, QByteArray(1, 0) + QByteArray(64, 1));    // every step 1
    QByteArray frame;
    frame += char(8);
    frame += char(spec.height >> 8);
    frame += char(spec.height & 0xFF);
    frame += char(spec.width >> 8);
    frame += char(spec.width & 0xFF);
    frame += char(nc);
    for (int c = 0; c < nc; ++c) {
        frame += char(c + 1);
        frame += char(0x11);
        frame += char(0);
    }
    out += segment(spec.progressive ? 0xC2 : 0xC0, frame);
    out += huffmanTables();

    auto dcOf = [&](int c, int bx, int by) {
        const int v = spec.level ? std::clamp(spec.level(c, bx, by), 0, 255) : 128;
        return (v - 128) * 8;
    };
    auto termOf = [&](int c, int bx, int by, int k) {
        quint32 h = quint32(c) * 73856093u ^ quint32(bx) * 19349663u ^ quint32(by) * 83492791u
                    ^ quint32(k) * 2654435761u ^ spec.seed;
        h ^= h >> 13;
        h *= 0x5bd1e995u;
        h ^= h >> 15;
        const int v = int(h % 63) - 31;
        return v == 0 ? 1 : v;
    };
    auto putTerms = [&](BitWriter& w, int c, int bx, int by) {
        for (int k = 1; k <= terms; ++k) {
            const int v = termOf(c, bx, by, k);
            const int s = category(v);
            w.put(quint32(s), 3);
            putValue(w, v, s);
        }
        if (terms < 63)
            w.put(0, 3);        // end of block
    };

    QList<int> all;
    for (int c = 0; c < nc; ++c)
        all << c;
    out += scanHeader(all, 0, spec.progressive ? 0 : 63);
    {
        BitWriter w{out};
        QList<int> pred(nc, 0);
        for (int by = 0; by < bh; ++by)
            for (int bx = 0; bx < bw; ++bx)
                for (int c = 0; c < nc; ++c) {
                    const int dc = dcOf(c, bx, by);
                    putDc(w, dc - pred[c]);
                    pred[c] = dc;
                    if (!spec.progressive)
                        putTerms(w, c, bx, by);
                }
        w.flush();
    }
    if (spec.progressive && terms > 0)
        for (int c = 0; c < nc; ++c) {
            out += scanHeader({c}, 1, 63);
            BitWriter w{out};
            for (int by = 0; by < bh; ++by)
                for (int bx = 0; bx < bw; ++bx)
                    putTerms(w, c, bx, by);
            w.flush();
        }
    out += "\xFF\xD9";
    return out;
}
