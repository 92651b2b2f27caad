#pragma once

#include <QList>
#include <QPair>
#include <QString>

// One microscope's control window as the reservation watch knows it.
struct ScopeTimer
{
    QString name;               // as shown; entries are found by it
    QByteArray wireName;        // as the host sent it: what "f=cwt" asks about
    qint64 start = -1;          // first second of the window; -1: none known
    qint64 end = -1;            // second at which it closes; -1: none
    bool active = false;        // the user may control the microscope now
    bool announced = false;     // the start has been handled
    bool ended = false;         // the end has been handled
    // Bookings that begin after the stored window, earliest first: each is taken in when the
    // window before it ends.
    QList<QPair<qint64, qint64>> later;

    void queue(qint64 s, qint64 e)
    {
        int i = 0;
        while (i < later.size() && later[i].first <= s)
            ++i;
        later.insert(i, {s, e});
    }

    // A new window: its start and end events are due again.
    void setWindow(qint64 s, qint64 e)
    {
        start = s;
        end = e;
        announced = false;
        ended = false;
    }
};
