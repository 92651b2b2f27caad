#pragma once

#include <QByteArray>
#include <QString>

// Names that came from the host (microscopes, slides, jobs) are kept as the bytes they came as:
// those bytes, and nothing re-encoded from them, go back on the wire (Url::value). They are
// shown decoded: as UTF-8 where they are valid UTF-8, else as Latin-1. Text the user typed goes
// out as its UTF-8 form.
namespace HostBytes {
QString shown(const QByteArray& bytes);
QString shown(const char* data, qsizetype size);
}
