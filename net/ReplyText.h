#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

class MyHTTP;

// A reply's received bytes, read only inside them. Reads that find nothing at their place
// say so instead of picking up an earlier reply's bytes or leaving a value unset.
class ReplyText
{
public:
    static constexpr qint64 MaxDecimal = qint64(1) << 40;

    explicit ReplyText(const QByteArray& bytes) : b(bytes) {}
    explicit ReplyText(MyHTTP* http);

    int size() const { return int(b.size()); }
    const QByteArray& bytes() const { return b; }
    // The reply as text up to its first NUL, as a C reader would see it.
    QByteArray text() const { return QByteArray(b.constData()); }

    char at(int i) const { return i >= 0 && i < b.size() ? b.at(i) : '\0'; }
    bool startsWith(char c) const { return !b.isEmpty() && b.at(0) == c; }

    // Hexadecimal number from offset on (white space skipped, "0x" allowed), as "%x".
    std::optional<quint32> hexAt(int offset) const;

    // Sequential reads from a position, like scanf conversions.
    class Scanner
    {
    public:
        Scanner(const ReplyText& r, int pos = 0) : s(r.text()), p(pos < 0 ? 0 : pos) {}
        void skipSpace();
        bool atEnd() const { return p >= s.size(); }
        int pos() const { return p; }
        std::optional<QByteArray> word();           // "%s"
        std::optional<qint64> decimal();            // "%ld", base 10, |v| <= MaxDecimal
        std::optional<quint32> hex();               // "%x"
        std::optional<double> real();               // "%f", finite values only
    private:
        QByteArray s;
        int p;
    };

    Scanner scan(int pos = 0) const { return Scanner(*this, pos); }

private:
    QByteArray b;
};
