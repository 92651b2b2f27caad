#pragma once

#include <QLineEdit>
#include <QTextCursor>
#include <QTextEdit>
#include <cmath>
#include <limits>
#include <optional>

// A number typed into a coordinate field: a finite float in the C locale's notation, blanks
// around it allowed. Nothing for an empty field, other text, or a value no float holds.
inline std::optional<float> fieldNumber(const QLineEdit* field)
{
    bool ok = false;
    const double v = field->text().trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(v) || std::fabs(v) > double(std::numeric_limits<float>::max()))
        return std::nullopt;
    return float(v);
}

// Appends text at the end of a log view, as it stands (line breaks included).
inline void appendLogText(QTextEdit* view, const QString& text)
{
    QTextCursor cursor(view->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
}
