#pragma once

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
