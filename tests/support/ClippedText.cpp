#include "ClippedText.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLayout>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>
#include <QWidget>

#include <algorithm>

namespace {

// The width a tab asks for, its whole text included.
struct TabPeek : QTabBar
{
    using QTabBar::tabSizeHint;
};

void layOut(const QList<QWidget*>& widgets)
{
    for (QWidget* w : widgets)
        if (QLayout* l = w->layout())
            l->activate();
}

// The texts cut among `widgets` that `top` shows now.
void addClipped(QWidget* top, const QList<QWidget*>& widgets, QStringList& clipped)
{
    for (QWidget* w : widgets) {
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
                           .arg(w->objectName(), text.size() > 40 ? text.left(37) + QStringLiteral("...") : text)
                           .arg(hint.width())
                           .arg(wraps ? w->heightForWidth(w->width()) : w->fontMetrics().height())
                           .arg(w->width())
                           .arg(w->height());
    }
}

// Tabs that cannot be reached with one click, or whose text is cut with no tool tip to read it.
void addHiddenTabs(QTabWidget* tabs, QStringList& clipped)
{
    QTabBar* bar = tabs->tabBar();
    const auto name = [tabs](int i) { return QStringLiteral("%1 tab \"%2\"").arg(tabs->objectName(), tabs->tabText(i)); };
    if (!tabs->rect().contains(bar->geometry()))
        clipped << QStringLiteral("%1: tab bar %2 x %3 wider than the widget").arg(tabs->objectName()).arg(bar->width()).arg(bar->height());
    const QList<QToolButton*> arrows = bar->findChildren<QToolButton*>();
    if (std::any_of(arrows.begin(), arrows.end(), [bar](QToolButton* b) { return b->isVisibleTo(bar); }))
        clipped << QStringLiteral("%1: scroll arrows").arg(tabs->objectName());
    for (int i = 0; i < tabs->count(); ++i) {
        const QRect r = bar->tabRect(i);
        const int needs = (bar->*&TabPeek::tabSizeHint)(i).width();
        if (!bar->rect().contains(r))
            clipped << QStringLiteral("%1: out of view at %2..%3").arg(name(i)).arg(r.left()).arg(r.right());
        else if (r.width() < needs && bar->tabToolTip(i) != tabs->tabText(i))
            clipped << QStringLiteral("%1: needs %2, has %3, no tool tip").arg(name(i)).arg(needs).arg(r.width());
    }
}

} // namespace

QStringList clippedTexts(QWidget* top)
{
    top->ensurePolished();
    QList<QWidget*> all = top->findChildren<QWidget*>();
    all.prepend(top);
    layOut(all);

    QStringList clipped;
    addClipped(top, all, clipped);
    // A tab widget shows one page at a time: each other page is made current for its turn.
    for (QTabWidget* tabs : top->findChildren<QTabWidget*>()) {
        if (!tabs->isVisibleTo(top))
            continue;
        addHiddenTabs(tabs, clipped);
        const int shown = tabs->currentIndex();
        for (int i = 0; i < tabs->count(); ++i) {
            if (i == shown)
                continue;
            tabs->setCurrentIndex(i);
            QList<QWidget*> page = tabs->widget(i)->findChildren<QWidget*>();
            page.prepend(tabs->widget(i));
            layOut(page);
            addClipped(top, page, clipped);
        }
        tabs->setCurrentIndex(shown);
    }
    return clipped;
}
