#pragma once

#include "bus/busbackend.h"

#include <cstdint>

class WireMaster;

// The TMEX driver calls implemented over a WireMaster: one session at a time
// on the master's default port, the ROM search with the bit-triplet algorithm,
// selection by Match ROM (TMAccess) or by a search along one ROM that proves
// the device is there (TMStrongAccess), and the CRCs.
//
// The driver's state buffers hold the search position and the current ROM,
// as with the real driver, so the search buffer and the access buffer keep
// separate current devices.
class WireBackend : public BusBackend
{
public:
    // The master is not owned and must outlive the backend.
    explicit WireBackend(WireMaster *master);

    short readDefaultPort(short *portNum, short *portType) override;
    int32_t extendedStartSession(short portNum, short portType, void *options) override;
    short validSession(int32_t session) override;
    short setup(int32_t session) override;
    short autoOverDrive(int32_t session, void *state, short mode) override;
    short endSession(int32_t session) override;
    short touchReset(int32_t session) override;
    short touchByte(int32_t session, short outByte) override;
    short touchBit(int32_t session, short outBit) override;
    // The run goes to the master in one call, so an adapter that can carry
    // it in one exchange does (WireMaster::touchBlock).
    short blockIO(int32_t session, unsigned char *buffer, short length) override;
    short blockThenReadBit(int32_t session, unsigned char *buffer, short length) override;
    short first(int32_t session, void *state) override;
    short next(int32_t session, void *state) override;
    // Through the same search with the Alarm Search command; kNoAlarmSearch
    // when the master cannot run one (WireMaster::searchesAlarms).
    short firstAlarm(int32_t session, void *state) override;
    short nextAlarm(int32_t session, void *state) override;
    short rom(int32_t session, void *state, short *romBuffer) override;
    short strongAccess(int32_t session, void *state) override;
    short strongAccessThenBlock(int32_t session, void *state, unsigned char *buffer, short length) override;
    short access(int32_t session, void *state) override;
    short oneWireLevel(int32_t session, short operation, short levelType, short primed) override;
    short crc(short length, unsigned char *buffer, unsigned short seed, short crcType) override;
    QString description() const override;
    bool conversionFinished() const override;

    // The result of any call on a session that is not valid.
    static const short kInvalidSession = -200;

protected:
    WireMaster *master() const { return m_master; }
    // Whether `session` is the open session on a connected adapter. Used
    // inside the calls instead of validSession(), which a subclass may log.
    bool sessionOk(int32_t session) const;
    // The ROM the buffer currently points at (bus order), or false if none.
    static bool currentRom(const void *state, uint8_t rom[8]);

private:
    short search(void *state, bool restart, uint8_t command);

    WireMaster *m_master;
    int32_t m_session = 0;
    int32_t m_lastHandle = 0;
};
