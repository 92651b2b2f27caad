#pragma once

#include <QApplication>
#include <QImage>
#include <QPoint>
#include <QString>
#include <QWidget>

#include <functional>
#include <optional>

class QTabWidget;

// What a user does with the windows, for walks through a whole session.

// The visible top-level window of type T, or null.
template <class T>
T* shownWindow()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* t = qobject_cast<T*>(w); t && t->isVisible())
            return t;
    return nullptr;
}

// Clicks the tab titled `title` and waits until its page is current; false if there is none.
bool pickTab(QTabWidget* tabs, const QString& title, int timeoutMs);

// A left click on a visible widget once it is enabled; false, with a warning, if it is hidden or
// stays disabled.
bool clickWhenEnabled(QWidget* w, int timeoutMs);

// A left-button drag from `from` through the midpoint to `to`; false if the widget is hidden.
bool mouseDrag(QWidget* w, QPoint from, QPoint to);

// Waits until `settled` holds and still holds after `settleMs` more of handled events.
bool waitSettled(const std::function<bool()>& settled, int settleMs, int timeoutMs);

// The darkest 15 x 15 patch of an overview at least 40 pixels (Manhattan) from every red, green
// or blue marker drawn on it; none if every patch is near a marker.
std::optional<QPoint> tissueSpot(const QImage& overview);
