#pragma once

#include <QString>
#include <QStringList>

// One microscope of the host's list.
struct ScopeRecord
{
    QString name;
    QString description;        // rich text
    QStringList slides;         // in list order
    bool reservable = false;    // '$' marker: immediate reservation allowed
    int maxMinutes = 0;
    QString maxMinutesText;
};
