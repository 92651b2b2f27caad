#pragma once

#include <QByteArray>
#include <QString>

// Builds "http://" + host + the request text. Literal pieces go in as written; values are
// percent-encoded only where they would change the URL's structure, so a value of letters,
// digits, '-', '_' and '.' goes out unchanged. A value given as bytes (a name from the host,
// see HostBytes) goes out as exactly those bytes; one given as text (typed by the user, or a
// number) as its UTF-8 form.
class Url
{
public:
    explicit Url(const QString& host) : text(QStringLiteral("http://") + host) {}

    Url& raw(const QString& literal) { text += literal; return *this; }
    Url& value(const QString& v) { text += escapeValue(v); return *this; }
    Url& value(const QByteArray& hostBytes) { text += escapeBytes(hostBytes); return *this; }
    Url& field(const QString& literal, const QString& v) { return raw(literal).value(v); }
    Url& field(const QString& literal, const QByteArray& hostBytes) { return raw(literal).value(hostBytes); }
    Url& value(const char* text) { return value(QString::fromUtf8(text)); }
    Url& field(const QString& literal, const char* text) { return raw(literal).value(text); }

    QString str() const { return text; }
    operator QString() const { return text; }

    static QString escapeValue(const QString& v) { return escapeBytes(v.toUtf8()); }
    static QString escapeBytes(const QByteArray& bytes);

private:
    QString text;
};
