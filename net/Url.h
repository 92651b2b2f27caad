#pragma once

#include <QString>

// Builds "http://" + host + the request text. Literal pieces go in as written; values
// (logins, names, numbers) are percent-encoded only where they would change the URL's
// structure, so a value of letters, digits, '-', '_' and '.' goes out unchanged.
class Url
{
public:
    explicit Url(const QString& host) : text(QStringLiteral("http://") + host) {}

    Url& raw(const QString& literal) { text += literal; return *this; }
    Url& value(const QString& v) { text += escapeValue(v); return *this; }
    Url& field(const QString& literal, const QString& v) { return raw(literal).value(v); }

    QString str() const { return text; }
    operator QString() const { return text; }

    static QString escapeValue(const QString& v);

private:
    QString text;
};
