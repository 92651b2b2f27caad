#include "HostText.h"

#include <QByteArray>
#include <QStringList>
#include <QTextDocument>

// The document reads a file itself when the view gives back nothing, so the view gives back
// empty data: an image that does not decode, an empty style sheet.
QVariant HostTextEdit::loadResource(int, const QUrl&)
{
    return QVariant(QByteArray());
}

QVariant HostTextBrowser::loadResource(int, const QUrl&)
{
    return QVariant(QByteArray());
}

namespace {

// Elements that never hold others.
bool isVoid(const QString& tag)
{
    static const QStringList tags = {"area", "base", "br", "col", "embed", "hr", "img", "input",
                                     "link", "meta", "param", "source", "track", "wbr"};
    return tags.contains(tag);
}

// The deepest nesting of elements, counting every start tag that is not closed in place.
int markupDepth(const QString& text)
{
    int depth = 0, deepest = 0;
    for (int i = 0; i + 1 < text.size(); ++i) {
        if (text.at(i) != QLatin1Char('<'))
            continue;
        const QChar next = text.at(i + 1);
        if (next == QLatin1Char('/')) {
            depth = qMax(0, depth - 1);
            continue;
        }
        if (!next.isLetter())
            continue;
        int j = i + 1;
        while (j < text.size() && text.at(j).isLetterOrNumber())
            ++j;
        const QString tag = text.mid(i + 1, j - i - 1).toLower();
        const int close = int(text.indexOf(QLatin1Char('>'), j));
        const bool selfClosed = close > 0 && text.at(close - 1) == QLatin1Char('/');
        if (!selfClosed && !isVoid(tag))
            deepest = qMax(deepest, ++depth);
        if (close < 0)
            break;
        i = close;
    }
    return deepest;
}

} // namespace

QString HostText::bounded(const QString& text)
{
    const QString cut = text.left(MaxChars);
    if (markupDepth(cut) > MaxDepth)
        return Qt::convertFromPlainText(cut, Qt::WhiteSpacePre);
    return cut;
}
