#include "onewire/tmex.h"

#include "bus/busbackend.h"
#include "base/clock.h"

bool Tmex::selectDevice(int32_t session, void *stateBuffer, short *rom)
{
    return TMRom(session, stateBuffer, rom) >= 1 && TMStrongAccess(session, stateBuffer) >= 1;
}

void Tmex::waitKeepingSession(int32_t session, int ms)
{
    // Counted in microseconds: in whole milliseconds a wait begun part-way
    // through one would end up to a millisecond early, before a conversion
    // that takes the full time is done.
    const qint64 end = Clock::tickUs() + qint64(ms) * 1000;
    while (Clock::tickUs() < end) {
        Clock::pollEvents();
        TMValidSession(session);
    }
}

bool Tmex::conversionFinished() const
{
    return m_backend && m_backend->conversionFinished();
}

short Tmex::blockIO(int32_t session, QByteArray &run)
{
    return TMBlockIO(session, reinterpret_cast<unsigned char *>(run.data()), short(run.size()));
}

short Tmex::blockThenReadBit(int32_t session, QByteArray &run)
{
    return m_backend
        ? m_backend->blockThenReadBit(session, reinterpret_cast<unsigned char *>(run.data()), short(run.size()))
        : -1;
}

short Tmex::strongAccessThenBlock(int32_t session, void *stateBuffer, QByteArray &run)
{
    return m_backend ? m_backend->strongAccessThenBlock(session, stateBuffer,
                                                        reinterpret_cast<unsigned char *>(run.data()), short(run.size()))
                     : -1;
}

short Tmex::TMReadDefaultPort(short *portNum, short *portType)
{
    return m_backend ? m_backend->readDefaultPort(portNum, portType) : -1;
}

int32_t Tmex::TMExtendedStartSession(short portNum, short portType, void *sessionOptions)
{
    return m_backend ? m_backend->extendedStartSession(portNum, portType, sessionOptions) : -1;
}

short Tmex::TMValidSession(int32_t session)
{
    return m_backend ? m_backend->validSession(session) : 0;
}

short Tmex::TMSetup(int32_t session)
{
    return m_backend ? m_backend->setup(session) : -1;
}

short Tmex::TMAutoOverDrive(int32_t session, void *stateBuffer, short mode)
{
    return m_backend ? m_backend->autoOverDrive(session, stateBuffer, mode) : -1;
}

short Tmex::TMEndSession(int32_t session)
{
    return m_backend ? m_backend->endSession(session) : -1;
}

short Tmex::TMTouchReset(int32_t session)
{
    return m_backend ? m_backend->touchReset(session) : -1;
}

short Tmex::TMTouchByte(int32_t session, short outByte)
{
    return m_backend ? m_backend->touchByte(session, outByte) : -1;
}

short Tmex::TMTouchBit(int32_t session, short outBit)
{
    return m_backend ? m_backend->touchBit(session, outBit) : -1;
}

short Tmex::TMBlockIO(int32_t session, unsigned char *buffer, short length)
{
    return m_backend ? m_backend->blockIO(session, buffer, length) : -1;
}

short Tmex::TMFirst(int32_t session, void *stateBuffer)
{
    return m_backend ? m_backend->first(session, stateBuffer) : -1;
}

short Tmex::TMNext(int32_t session, void *stateBuffer)
{
    return m_backend ? m_backend->next(session, stateBuffer) : -1;
}

short Tmex::TMFirstAlarm(int32_t session, void *stateBuffer)
{
    return m_backend ? m_backend->firstAlarm(session, stateBuffer) : -1;
}

short Tmex::TMNextAlarm(int32_t session, void *stateBuffer)
{
    return m_backend ? m_backend->nextAlarm(session, stateBuffer) : -1;
}

short Tmex::TMRom(int32_t session, void *stateBuffer, short *rom)
{
    return m_backend ? m_backend->rom(session, stateBuffer, rom) : -1;
}

short Tmex::TMStrongAccess(int32_t session, void *stateBuffer)
{
    return m_backend ? m_backend->strongAccess(session, stateBuffer) : -1;
}

short Tmex::TMAccess(int32_t session, void *stateBuffer)
{
    return m_backend ? m_backend->access(session, stateBuffer) : -1;
}

short Tmex::TMOneWireLevel(int32_t session, short operation, short levelType, short primed)
{
    return m_backend ? m_backend->oneWireLevel(session, operation, levelType, primed) : -1;
}

short Tmex::TMCRC(short length, unsigned char *buffer, unsigned short seed, short crcType)
{
    return m_backend ? m_backend->crc(length, buffer, seed, crcType) : -1;
}

bool Tmex::selectThenRun(int32_t session, void *stateBuffer, short *rom, QByteArray &run)
{
    return TMRom(session, stateBuffer, rom) >= 1 && strongAccessThenBlock(session, stateBuffer, run) >= 1;
}
