#pragma once

// A program timer the test drives itself: it starts, stops and reports its state as before, but
// never fires by itself, so nothing a test reads can change under it however slow the machine.
// The test gives each tick by invoking the timer's slot (or its timeout) when it chooses.
#include <QEvent>
#include <QObject>
#include <QTimer>

class HeldTimer : public QObject
{
public:
    // Held for the timer's lifetime (the filter is its child).
    static void hold(QTimer& timer) { timer.installEventFilter(new HeldTimer(timer)); }

protected:
    bool eventFilter(QObject*, QEvent* event) override { return event->type() == QEvent::Timer; }

private:
    explicit HeldTimer(QTimer& timer) : QObject(&timer) {}
};
