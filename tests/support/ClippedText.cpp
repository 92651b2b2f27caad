#include "ClippedText.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLayout>
#include <QWidget>

QStringList clippedTexts(QWidget* top)
{
    top->ensurePolished();
    QList<QWidget*> all = top->findChildren<QWidget*>();
    all.prepend(top);
    for (QWidget* w : all)
        if (QLayout* l = w->layout())
            l->activate();

    QStringList clipped;
    for (QWidget* w : std::as_const(all)) {
        QString text;
        bool wraps = false;
        if (auto* label = qobject_cast<QLabel*>(w)) {
            text = label->text();
            wraps = label->wordWrap();
        } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            text = button->text();
        } else {
            continue;
        }
        if (text.isEmpty() || (w != top && !w->isVisibleTo(top)))
            continue;
        const QSize hint = w->sizeHint();
        const bool tooNarrow = wraps ? w->heightForWidth(w->width()) > w->height() : hint.width() > w->width();
        const bool tooLow = w->fontMetrics().height() > w->height();
        if (tooNarrow || tooLow)
            clipped << QStringLiteral("%1 \"%2\": needs %3 x %4, has %5 x %6")
                           .arg(w->objectName(), text)
                           .arg(hint.width())
                           .arg(wraps ? w->heightForWidth(w->width()) : w->fontMetrics().height())
                           .arg(w->width())
                           .arg(w->height());
    }
    return clipped;
}
