#pragma once

#include "faces/facesnapshot.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// The owserver network protocol, answered from a snapshot: what Debian's
// ow-shell, Home Assistant's 1-Wire integration and the ownet client
// libraries speak. Every message starts with six big-endian 32-bit fields;
// a request names its path (NUL-terminated) in the payload.
namespace OwProtocol {

enum Type : qint32 {
    Error = 0,
    Nop = 1,
    Read = 2,
    Write = 3,
    Dir = 4,
    Size = 5,
    Present = 6,
    DirAll = 7,
    Get = 8,
    DirAllSlash = 9,
    GetSlash = 10,
};

// Control flags (the header's fourth field).
constexpr quint32 kBusList = 0x00000002;    // list bus.N and uncached at the root
constexpr quint32 kPersistent = 0x00000004; // keep the connection for the next request
constexpr int kTemperatureShift = 16;       // 2 bits: C, F, K, R
constexpr int kDeviceFormatShift = 24;      // 8 bits: f.i, fi, f.i.c, f.ic, fi.c, fic

constexpr int kHeaderBytes = 24;
// The largest request payload taken: a path, and for a write its data.
constexpr int kMaxPayload = 4096;

struct Header
{
    qint32 version = 0;
    qint32 payload = 0;
    qint32 type = 0; // a request's message type, a reply's return value
    quint32 flags = 0;
    qint32 size = 0;
    qint32 offset = 0;
};

Header decodeHeader(const char *bytes);
QByteArray encodeHeader(const Header &header);

// How many bytes follow a request header, or -1 when the header is not one
// this server takes (unknown version, a payload out of range): the
// connection is then closed. Requests passed on by another owserver carry
// its loop-detection tokens (16 bytes each) after the payload.
int bytesAfter(const Header &request);

// The reply to one request: one or more whole messages. `persistent` says
// whether the connection stays open, and the replies' flags tell the client.
QByteArray answer(const FaceSnapshot &snapshot, const Header &request, const QByteArray &payload, bool persistent);

// A device's name in the format the flags ask for, e.g. "28.AA31075C1401".
QString deviceName(const FaceDevice &device, quint32 flags);

} // namespace OwProtocol
