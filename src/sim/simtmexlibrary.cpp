// The simulated bus as a TMEX-compatible driver library: the same C entry
// points a TMEX driver exports, served by a SimBackend. The bus comes from the
// file named by ORVEX_SIM_BUS, or is the built-in demo bus.

#include "sim/simbackend.h"
#include "sim/simbusloader.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <cstdio>
#include <memory>

#define TMEX_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

SimBackend *bus()
{
    static std::unique_ptr<SimBackend> backend;
    static bool tried = false;
    if (!tried) {
        tried = true;
        QString error;
        const QByteArray file = qgetenv("ORVEX_SIM_BUS");
        backend = file.isEmpty() ? SimBusLoader::loadDemo(&error)
                                 : SimBusLoader::loadFile(QString::fromLocal8Bit(file), &error);
        if (!backend)
            std::fprintf(stderr, "simtmex: %s\n", error.toLocal8Bit().constData());
    }
    return backend.get();
}

} // namespace

TMEX_EXPORT short TMReadDefaultPort(short *portNum, short *portType)
{
    return bus() ? bus()->readDefaultPort(portNum, portType) : 0;
}

TMEX_EXPORT int32_t TMExtendedStartSession(short portNum, short portType, void *options)
{
    return bus() ? bus()->extendedStartSession(portNum, portType, options) : 0;
}

TMEX_EXPORT short TMValidSession(int32_t session)
{
    return bus() ? bus()->validSession(session) : 0;
}

TMEX_EXPORT short TMSetup(int32_t session)
{
    return bus() ? bus()->setup(session) : 0;
}

TMEX_EXPORT short TMAutoOverDrive(int32_t session, void *state, short mode)
{
    return bus() ? bus()->autoOverDrive(session, state, mode) : -1;
}

TMEX_EXPORT short TMEndSession(int32_t session)
{
    return bus() ? bus()->endSession(session) : 0;
}

TMEX_EXPORT short TMTouchReset(int32_t session)
{
    return bus() ? bus()->touchReset(session) : -1;
}

TMEX_EXPORT short TMTouchByte(int32_t session, short outByte)
{
    return bus() ? bus()->touchByte(session, outByte) : -1;
}

TMEX_EXPORT short TMTouchBit(int32_t session, short outBit)
{
    return bus() ? bus()->touchBit(session, outBit) : -1;
}

TMEX_EXPORT short TMFirst(int32_t session, void *state)
{
    return bus() ? bus()->first(session, state) : -1;
}

TMEX_EXPORT short TMNext(int32_t session, void *state)
{
    return bus() ? bus()->next(session, state) : -1;
}

TMEX_EXPORT short TMRom(int32_t session, void *state, short *rom)
{
    return bus() ? bus()->rom(session, state, rom) : -1;
}

TMEX_EXPORT short TMStrongAccess(int32_t session, void *state)
{
    return bus() ? bus()->strongAccess(session, state) : -1;
}

TMEX_EXPORT short TMAccess(int32_t session, void *state)
{
    return bus() ? bus()->access(session, state) : -1;
}

TMEX_EXPORT short TMOneWireLevel(int32_t session, short operation, short levelType, short primed)
{
    return bus() ? bus()->oneWireLevel(session, operation, levelType, primed) : -1;
}

TMEX_EXPORT short TMCRC(short length, unsigned char *buffer, unsigned short seed, short crcType)
{
    return bus() ? bus()->crc(length, buffer, seed, crcType) : -1;
}
