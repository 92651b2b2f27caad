#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// One microscope of the host's list.
struct ScopeRecord
{
    QString name;               // as shown
    QString description;        // rich text
    QStringList slides;         // as shown, in list order
    bool reservable = false;    // '$' marker: immediate reservation allowed
    int maxMinutes = 0;
    QString maxMinutesText;

    // The name and the slide names exactly as the host sent them: what requests carry back
    // (Url::value). wireSlides[i] is the name shown as slides[i].
    QByteArray wireName;
    QList<QByteArray> wireSlides;
};
