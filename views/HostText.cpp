#include "HostText.h"

#include <QTextDocument>

#include <cstring>

namespace {

using namespace HostMarkup;

// An element still open, by its (lower-case, possibly shortened) name.
struct OpenElement
{
    char name[12];
    int length;
    bool is(const char* n) const { return int(std::strlen(n)) == length && std::memcmp(name, n, size_t(length)) == 0; }
    bool same(const OpenElement& o) const { return o.length == length && std::memcmp(name, o.name, size_t(length)) == 0; }
};

bool among(const OpenElement& e, std::initializer_list<const char*> names)
{
    for (const char* n : names)
        if (e.is(n))
            return true;
    return false;
}

bool isVoid(const OpenElement& e)
{
    return among(e, {"area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta", "param",
                     "source", "track", "wbr"});
}

// Elements whose start closes a paragraph still open.
bool isBlock(const OpenElement& e)
{
    return among(e, {"address", "blockquote", "center", "dd", "div", "dl", "dt", "form", "h1", "h2", "h3", "h4",
                     "h5", "h6", "hr", "li", "ol", "p", "pre", "table", "td", "th", "tr", "ul"});
}

bool isLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isNameChar(char c) { return isLetter(c) || (c >= '0' && c <= '9'); }
char lower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

// The nesting of the elements, with the ends that markup may leave out (a paragraph, a list
// item, a table row or cell ends where the next one starts).
class Nesting
{
public:
    bool overflow = false;
    int tables = 0;

    void open(const OpenElement& e)
    {
        if (isBlock(e) && depth > 0 && stack[depth - 1].is("p"))
            pop();
        if (e.is("li"))
            closeWithin({"li"}, {"ul", "ol", "table"});
        else if (e.is("dt") || e.is("dd"))
            closeWithin({"dt", "dd"}, {"dl", "table"});
        else if (e.is("tr"))
            closeWithin({"tr"}, {"table"});
        else if (e.is("td") || e.is("th"))
            closeWithin({"td", "th"}, {"tr", "table"});
        else if (e.is("option") && depth > 0 && stack[depth - 1].is("option"))
            pop();
        if (depth == MaxElementDepth) {
            overflow = true;
            return;
        }
        stack[depth++] = e;
        if (e.is("table") && ++tables > MaxTableDepth)
            overflow = true;
    }

    void close(const OpenElement& e)
    {
        for (int i = depth - 1; i >= 0; --i)
            if (stack[i].same(e)) {
                while (depth > i)
                    pop();
                return;
            }
    }

private:
    void pop()
    {
        if (stack[--depth].is("table"))
            --tables;
    }
    // Closes the innermost of `names` unless one of `bounds` is open inside it.
    void closeWithin(std::initializer_list<const char*> names, std::initializer_list<const char*> bounds)
    {
        for (int i = depth - 1; i >= 0; --i) {
            if (among(stack[i], bounds))
                return;
            if (among(stack[i], names)) {
                while (depth > i)
                    pop();
                return;
            }
        }
    }

    OpenElement stack[MaxElementDepth];
    int depth = 0;
};

} // namespace

bool HostMarkup::layoutSafe(QByteArrayView text)
{
    if (text.size() > MaxMarkupBytes)
        return false;
    enum State { Text, TagStart, Name, CloseName, Attributes, Quoted, Bang, BangDash, Comment, Declaration };
    State state = Text;
    Nesting nesting;
    OpenElement element{};
    bool closing = false;
    bool selfClosing = false;
    char quote = 0;
    int dashes = 0;
    qsizetype line = 0;
    qsizetype cost = 0;

    const auto endTag = [&] {
        if (closing)
            nesting.close(element);
        else if (!selfClosing && !isVoid(element))
            nesting.open(element);
        state = Text;
    };

    for (const char c : text) {
        line = c == '\n' ? 0 : line + 1;
        cost += qsizetype(1) << nesting.tables;
        if (line > MaxLineBytes || cost > MaxMarkupCost || nesting.overflow)
            return false;
        switch (state) {
        case Text:
            if (c == '<')
                state = TagStart;
            break;
        case TagStart:
            closing = false;
            selfClosing = false;
            element.length = 0;
            if (c == '/') {
                closing = true;
                state = CloseName;
            } else if (c == '!') {
                state = Bang;
            } else if (c == '?') {
                state = Declaration;
            } else if (isLetter(c)) {
                element.name[element.length++] = lower(c);
                state = Name;
            } else {
                state = c == '<' ? TagStart : Text;     // a '<' that starts no tag is text
            }
            break;
        case Name:
        case CloseName:
            if (isNameChar(c)) {
                if (element.length < int(sizeof element.name) - 1)
                    element.name[element.length++] = lower(c);
                break;
            }
            element.name[element.length] = 0;
            if (c == '>')
                endTag();
            else
                state = Attributes;
            break;
        case Attributes:
            if (c == '"' || c == '\'') {
                quote = c;
                state = Quoted;
            } else if (c == '>') {
                endTag();
            } else if (c == '/') {
                selfClosing = true;
            } else if (c != ' ' && c != '\t' && c != '\n' && c != '\r') {
                selfClosing = false;
            }
            break;
        case Quoted:
            if (c == quote)
                state = Attributes;
            break;
        case Bang:
            state = c == '-' ? BangDash : (c == '>' ? Text : Declaration);
            break;
        case BangDash:
            state = c == '-' ? Comment : (c == '>' ? Text : Declaration);
            dashes = 0;
            break;
        case Comment:
            if (c == '>' && dashes >= 2)
                state = Text;
            dashes = c == '-' ? dashes + 1 : 0;
            break;
        case Declaration:
            if (c == '>')
                state = Text;
            break;
        }
    }
    return !nesting.overflow;
}

QByteArray HostMarkup::plainFallback(QByteArrayView text)
{
    qsizetype end = text.size();
    const bool cut = end > MaxTotalBytes;
    if (cut) {
        end = MaxTotalBytes;
        while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
            --end;              // not inside a character
    }
    QByteArray out;
    out.reserve(end + end / MaxLineBytes + qsizetype(sizeof CutMark));
    qsizetype line = 0;
    for (qsizetype i = 0; i < end; ++i) {
        const char c = text[i];
        if (c == '\n') {
            line = 0;
        } else if (line >= MaxLineBytes && (static_cast<unsigned char>(c) & 0xC0) != 0x80) {
            out += '\n';
            line = 0;
        }
        out += c;
        if (c != '\n')
            ++line;
    }
    if (cut)
        out += CutMark;
    return out;
}

// The document reads a file itself when the view gives back nothing, so the view gives back
// empty data: an image that does not decode, an empty style sheet.
QVariant HostTextEdit::loadResource(int, const QUrl&)
{
    return QVariant(QByteArray());
}

void HostTextEdit::setHostText(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    if (HostMarkup::layoutSafe(bytes))
        setText(text);
    else
        setPlainText(QString::fromUtf8(HostMarkup::plainFallback(bytes)));
}

void HostTextEdit::appendHostText(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    if (HostMarkup::layoutSafe(bytes))
        append(text);
    else
        append(Qt::convertFromPlainText(QString::fromUtf8(HostMarkup::plainFallback(bytes)), Qt::WhiteSpacePre));
}

QVariant HostTextBrowser::loadResource(int, const QUrl&)
{
    return QVariant(QByteArray());
}

void HostTextBrowser::setHostHtml(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    if (HostMarkup::layoutSafe(bytes))
        setHtml(text);
    else
        setPlainText(QString::fromUtf8(HostMarkup::plainFallback(bytes)));
}
