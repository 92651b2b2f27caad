#include "HostText.h"

#include <QByteArray>

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
