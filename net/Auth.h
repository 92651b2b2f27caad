#pragma once

#include <QObject>
#include <QString>
#include <functional>

// Authentication values sent after "&auth=": keyed by the password and the decoded ticket.
class Auth : public QObject
{
    Q_OBJECT
public:
    // Source of the 15-bit random numbers (0..32767) that each string is built from.
    using RandomSource = std::function<quint32()>;

    Auth();

    void setKey(QString key);
    void setToken(quint32 ticket);
    quint32 token() const { return m_token; }

    QString loginString();
    QString requestString();

    quint32 encode(quint32 w) const;
    quint32 decode(quint32 w) const;

    static int rotateLeft8(int v, int n);
    static int rotateRight8(int v, int n);
    static QString hex(quint32 v) { return QString::number(v, 16); }

    // Replaces the random source of every Auth (tests use fixed sequences); an empty
    // function restores the default.
    static void setRandomSource(RandomSource source);

private:
    static quint32 nextRandom();
    int shift(int i) const;

    quint32 m_token = 0;
    QString key;
    QByteArray keyBytes;
};
