#pragma once

// The process's peak resident memory so far (header-only).
#include <QFile>

// VmHWM of /proc/self/status in kB; -1 where it cannot be read.
inline qint64 peakResidentKb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return -1;
}
