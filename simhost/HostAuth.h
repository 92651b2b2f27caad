#pragma once

#include <QString>
#include <QtGlobal>

// The host's side of the authentication strings, written from the lane form of the rotations:
// key byte i rotates byte lane (i mod 4); the rotations of one lane add up.
namespace HostAuth {
quint32 encode(const QString& password, quint32 w);
quint32 decode(const QString& password, quint32 w);

// Log-in string check: auth = encode(rndsd).
bool checkLogin(const QString& password, const QString& authHex, const QString& rndsdHex);

// Request string check against a ticket the host issued: decode(auth) ^ decode(ticket) must be
// m(r) = ((r >> 8) * (r & 0xff)) << 16 | r for some r below 32768.
bool checkRequest(const QString& password, quint32 ticket, const QString& authHex);

// The request string a client keyed with `password` and given `ticket` sends for the random
// value r (below 32768): hex(encode(m(r) ^ decode(ticket))). For tests that talk to the host
// without a client.
QString requestString(const QString& password, quint32 ticket, quint32 r);

bool parseHex(const QString& text, quint32* out);
}
