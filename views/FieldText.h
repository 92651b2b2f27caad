#pragma once

#include <QLineEdit>
#include <QString>

// Puts a text into a field unless the field already shows it: an unchanged field keeps its
// cursor and undo history and is not laid out and painted again (positions arrive many times a
// second while the stage moves).
inline void showText(QLineEdit* field, const QString& text)
{
    if (field->text() != text)
        field->setText(text);
}
