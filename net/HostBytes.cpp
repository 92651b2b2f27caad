#include "HostBytes.h"

#include <QStringDecoder>

QString HostBytes::shown(const char* data, qsizetype size)
{
    if (size <= 0)
        return QString();
    // A leading byte-order mark is part of the name, so it is kept rather than skipped.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = utf8.decode(QByteArrayView(data, size));
    if (utf8.hasError())
        return QString::fromLatin1(data, size);
    return text;
}

QString HostBytes::shown(const QByteArray& bytes)
{
    return shown(bytes.constData(), bytes.size());
}
