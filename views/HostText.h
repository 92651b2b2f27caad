#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QTextBrowser>
#include <QTextEdit>

// Host text is bounded before it is laid out. Qt's layout time grows about twofold with each
// level of nested tables and steeply with deep nesting, long unbroken lines and size; deep enough
// nesting overflows its stack. A text within the limits below is laid out as markup as before;
// any other is shown as plain text, cut at MaxTotalBytes with CutMark and its over-long lines
// broken. Sizes count the text's UTF-8 bytes.
namespace HostMarkup {
constexpr int MaxTableDepth = 6;
constexpr int MaxElementDepth = 32;
constexpr qsizetype MaxLineBytes = 16 * 1024;
constexpr qsizetype MaxMarkupBytes = 32 * 1024;     // larger texts are not laid out as markup
constexpr qsizetype MaxMarkupCost = 128 * 1024;     // a byte weighs 2^(tables open around it)
constexpr qsizetype MaxTotalBytes = 256 * 1024;     // no more is shown at all
constexpr char CutMark[] = "\n[...]";

// Whether the text may be laid out as markup: one pass over the bytes, nothing allocated.
bool layoutSafe(QByteArrayView text);
// The text as it is shown when it may not: cut at MaxTotalBytes (on a character boundary) with
// CutMark, each line longer than MaxLineBytes broken into lines of at most that.
QByteArray plainFallback(QByteArrayView text);
}

// Text views for markup that comes from the service host. The host's markup is shown as rich
// text, but it never makes the program read a resource: an image or style sheet it names is
// simply not shown (a local path could otherwise block the program or exhaust its memory).
class HostTextEdit : public QTextEdit
{
    Q_OBJECT
public:
    explicit HostTextEdit(QWidget* parent = nullptr) : QTextEdit(parent) {}
    QVariant loadResource(int type, const QUrl& name) override;

    // setText (rich text when it looks like markup) for a text within HostMarkup's bounds,
    // else its plain fallback.
    void setHostText(const QString& text);
    // append, as a paragraph of its own, under the same bounds.
    void appendHostText(const QString& text);
};

class HostTextBrowser : public QTextBrowser
{
    Q_OBJECT
public:
    explicit HostTextBrowser(QWidget* parent = nullptr) : QTextBrowser(parent) {}
    QVariant loadResource(int type, const QUrl& name) override;

    // setHtml for a text within HostMarkup's bounds, else its plain fallback.
    void setHostHtml(const QString& text);
};
