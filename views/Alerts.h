#pragma once

#include <QString>

class QWidget;

// Modal message boxes with one "OK" button, made on the heap so that a parent destroyed while
// the box runs its nested event loop takes the box with it safely. Each returns false when the
// parent no longer exists after the box has closed: the caller must then return at once.
namespace Alerts {
bool warning(QWidget* parent, const QString& caption, const QString& text);
bool information(QWidget* parent, const QString& caption, const QString& text);

// Number of boxes of Alerts open right now, over all windows.
int openBoxes();

void beep();
int beeps();                    // beeps so far, for tests
}
