#include "onewire/tmex.h"

#include "bus/busbackend.h"
#include "base/clock.h"

namespace {
BusBackend *activeBackend = nullptr;
}

void Tmex::setBackend(BusBackend *backend)
{
    activeBackend = backend;
}

BusBackend *Tmex::backend()
{
    return activeBackend;
}

bool Tmex::selectDevice(int32_t session, void *stateBuffer, short *rom)
{
    return TMRom(session, stateBuffer, rom) >= 1 && TMStrongAccess(session, stateBuffer) >= 1;
}

void Tmex::waitKeepingSession(int32_t session, int ms)
{
    const qint64 start = Clock::tickMs();
    while (Clock::tickMs() < start + ms) {
        Clock::pollEvents();
        TMValidSession(session);
    }
}

short Tmex::blockIO(int32_t session, QByteArray &run)
{
    return TMBlockIO(session, reinterpret_cast<unsigned char *>(run.data()), short(run.size()));
}

short Tmex::blockThenReadBit(int32_t session, QByteArray &run)
{
    return activeBackend
        ? activeBackend->blockThenReadBit(session, reinterpret_cast<unsigned char *>(run.data()), short(run.size()))
        : -1;
}

short TMReadDefaultPort(short *portNum, short *portType)
{
    return activeBackend ? activeBackend->readDefaultPort(portNum, portType) : -1;
}

int32_t TMExtendedStartSession(short portNum, short portType, void *sessionOptions)
{
    return activeBackend ? activeBackend->extendedStartSession(portNum, portType, sessionOptions) : -1;
}

short TMValidSession(int32_t session)
{
    return activeBackend ? activeBackend->validSession(session) : 0;
}

short TMSetup(int32_t session)
{
    return activeBackend ? activeBackend->setup(session) : -1;
}

short TMAutoOverDrive(int32_t session, void *stateBuffer, short mode)
{
    return activeBackend ? activeBackend->autoOverDrive(session, stateBuffer, mode) : -1;
}

short TMEndSession(int32_t session)
{
    return activeBackend ? activeBackend->endSession(session) : -1;
}

short TMTouchReset(int32_t session)
{
    return activeBackend ? activeBackend->touchReset(session) : -1;
}

short TMTouchByte(int32_t session, short outByte)
{
    return activeBackend ? activeBackend->touchByte(session, outByte) : -1;
}

short TMTouchBit(int32_t session, short outBit)
{
    return activeBackend ? activeBackend->touchBit(session, outBit) : -1;
}

short TMBlockIO(int32_t session, unsigned char *buffer, short length)
{
    return activeBackend ? activeBackend->blockIO(session, buffer, length) : -1;
}

short TMFirst(int32_t session, void *stateBuffer)
{
    return activeBackend ? activeBackend->first(session, stateBuffer) : -1;
}

short TMNext(int32_t session, void *stateBuffer)
{
    return activeBackend ? activeBackend->next(session, stateBuffer) : -1;
}

short TMRom(int32_t session, void *stateBuffer, short *rom)
{
    return activeBackend ? activeBackend->rom(session, stateBuffer, rom) : -1;
}

short TMStrongAccess(int32_t session, void *stateBuffer)
{
    return activeBackend ? activeBackend->strongAccess(session, stateBuffer) : -1;
}

short TMAccess(int32_t session, void *stateBuffer)
{
    return activeBackend ? activeBackend->access(session, stateBuffer) : -1;
}

short TMOneWireLevel(int32_t session, short operation, short levelType, short primed)
{
    return activeBackend ? activeBackend->oneWireLevel(session, operation, levelType, primed) : -1;
}

short TMCRC(short length, unsigned char *buffer, unsigned short seed, short crcType)
{
    return activeBackend ? activeBackend->crc(length, buffer, seed, crcType) : -1;
}
