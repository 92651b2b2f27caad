#pragma once

#include <QString>
#include <QTextBrowser>
#include <QTextEdit>

// Text views for markup that comes from the service host. The host's markup is shown as rich
// text, but it never makes the program read a resource: an image or style sheet it names is
// simply not shown (a local path could otherwise block the program or exhaust its memory).
class HostTextEdit : public QTextEdit
{
    Q_OBJECT
public:
    explicit HostTextEdit(QWidget* parent = nullptr) : QTextEdit(parent) {}
    QVariant loadResource(int type, const QUrl& name) override;
};

class HostTextBrowser : public QTextBrowser
{
    Q_OBJECT
public:
    explicit HostTextBrowser(QWidget* parent = nullptr) : QTextBrowser(parent) {}
    QVariant loadResource(int type, const QUrl& name) override;
};

// Host text made safe to lay out: cut to MaxChars characters, and turned into plain text when
// its markup nests deeper than MaxDepth elements. Text that is neither long nor deep is kept
// as it is, so that the view still shows it as rich text when it looks like markup.
namespace HostText {
constexpr int MaxChars = 16384;
constexpr int MaxDepth = 32;
QString bounded(const QString& text);
}
