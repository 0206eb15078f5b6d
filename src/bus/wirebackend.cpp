#include "bus/wirebackend.h"

#include "bus/crc.h"
#include "bus/overdrive.h"
#include "bus/romcommands.h"
#include "bus/wiremaster.h"

#include <cstring>

namespace {

// What the driver keeps in a caller's state buffer (which is far larger).
struct BufferState
{
    uint32_t magic;
    uint8_t rom[8];          // current device, bus order
    uint8_t romValid;
    uint8_t lastDevice;      // the previous search found the last device
    int16_t lastDiscrepancy; // 1-based bit position of the last unexplored 0 branch
};

const uint32_t kMagic = 0x4F525658; // "XVRO"

BufferState load(const void *buffer)
{
    BufferState s;
    std::memcpy(&s, buffer, sizeof s);
    if (s.magic != kMagic) {
        std::memset(&s, 0, sizeof s);
        s.magic = kMagic;
    }
    return s;
}

void store(void *buffer, const BufferState &s)
{
    std::memcpy(buffer, &s, sizeof s);
}

} // namespace

WireBackend::WireBackend(WireMaster *master)
    : m_master(master)
{
}

bool WireBackend::currentRom(const void *state, uint8_t rom[8])
{
    if (!state)
        return false;
    const BufferState s = load(state);
    std::memcpy(rom, s.rom, 8);
    return s.romValid != 0;
}

short WireBackend::readDefaultPort(short *portNum, short *portType)
{
    short num = 0, type = 0;
    if (!m_master->defaultPort(&num, &type))
        return 0;
    if (portNum)
        *portNum = num;
    if (portType)
        *portType = type;
    return 1;
}

int32_t WireBackend::extendedStartSession(short portNum, short portType, void *)
{
    short num = 0, type = 0;
    if (!m_master->defaultPort(&num, &type) || num != portNum || type != portType)
        return 0;
    m_session = ++m_lastHandle;
    return m_session;
}

bool WireBackend::sessionOk(int32_t session) const
{
    return session > 0 && session == m_session && m_master->connected();
}

short WireBackend::validSession(int32_t session)
{
    return sessionOk(session) ? 1 : 0;
}

short WireBackend::setup(int32_t session)
{
    if (!sessionOk(session))
        return 0;
    return m_master->setUp() ? 1 : 0;
}

short WireBackend::autoOverDrive(int32_t session, void *, short mode)
{
    if (!sessionOk(session))
        return kInvalidSession;
    if (mode == 0) {
        Overdrive::switchOff(*m_master);
        return 1;
    }
    return Overdrive::switchOn(*m_master) ? 1 : 0;
}

short WireBackend::endSession(int32_t session)
{
    if (session <= 0 || session != m_session)
        return 0;
    m_session = 0;
    return 1;
}

short WireBackend::touchReset(int32_t session)
{
    if (!sessionOk(session))
        return kInvalidSession;
    return short(m_master->reset());
}

short WireBackend::touchByte(int32_t session, short outByte)
{
    if (!sessionOk(session))
        return kInvalidSession;
    return short(m_master->touchByte(outByte & 0xFF));
}

short WireBackend::blockIO(int32_t session, unsigned char *buffer, short length)
{
    if (!sessionOk(session))
        return kInvalidSession;
    if (length < 0 || (!buffer && length > 0))
        return -1;
    return short(m_master->touchBlock(buffer, length));
}

short WireBackend::blockThenReadBit(int32_t session, unsigned char *buffer, short length)
{
    if (!sessionOk(session))
        return kInvalidSession;
    if (length < 0 || (!buffer && length > 0))
        return -1;
    return short(m_master->touchBlockThenReadBit(buffer, length));
}

short WireBackend::touchBit(int32_t session, short outBit)
{
    if (!sessionOk(session))
        return kInvalidSession;
    return short(m_master->touchBit(outBit ? 1 : 0));
}

short WireBackend::first(int32_t session, void *state)
{
    if (!sessionOk(session))
        return kInvalidSession;
    return search(state, true, RomCommand::kSearch);
}

short WireBackend::next(int32_t session, void *state)
{
    if (!sessionOk(session))
        return kInvalidSession;
    return search(state, false, RomCommand::kSearch);
}

short WireBackend::firstAlarm(int32_t session, void *state)
{
    if (!sessionOk(session))
        return kInvalidSession;
    if (!m_master->searchesAlarms())
        return kNoAlarmSearch;
    return search(state, true, RomCommand::kAlarmSearch);
}

short WireBackend::nextAlarm(int32_t session, void *state)
{
    if (!sessionOk(session))
        return kInvalidSession;
    if (!m_master->searchesAlarms())
        return kNoAlarmSearch;
    return search(state, false, RomCommand::kAlarmSearch);
}

// One pass of the ROM search (the triplet algorithm, WireMaster::searchPass)
// from where the state buffer's previous pass left off: at each of the 64 bit
// positions every device still taking part sends its bit and its complement
// (wired-AND), the master chooses a direction and the devices that differ drop
// out. At a new discrepancy the 0 branch is taken and remembered; the next pass
// takes the 1 branch there. This is the order real hardware gives.
// `command` is Search ROM or Alarm Search; one state buffer runs one of them
// at a time (TMFirst or TMFirstAlarm starts it).
short WireBackend::search(void *state, bool restart, uint8_t command)
{
    BufferState s = load(state);
    if (restart) {
        s.lastDiscrepancy = 0;
        s.lastDevice = 0;
        s.romValid = 0;
    }
    if (s.lastDevice) {
        s.lastDiscrepancy = 0;
        s.lastDevice = 0;
        s.romValid = 0;
        store(state, s);
        return 0;
    }
    uint8_t rom[8];
    std::memcpy(rom, s.rom, 8);
    int lastDiscrepancy = s.lastDiscrepancy;
    const int found = m_master->searchPass(rom, &lastDiscrepancy, command);
    if (found < 0)
        return -1;
    if (found == 0) {
        // No presence, or the devices left the bus during the search.
        s.lastDiscrepancy = 0;
        s.lastDevice = 0;
        s.romValid = 0;
        store(state, s);
        return 0;
    }
    s.lastDiscrepancy = int16_t(lastDiscrepancy);
    s.lastDevice = lastDiscrepancy == 0;
    std::memcpy(s.rom, rom, 8);
    s.romValid = 1;
    store(state, s);
    return 1;
}

short WireBackend::rom(int32_t session, void *state, short *romBuffer)
{
    if (!sessionOk(session))
        return kInvalidSession;
    if (!state || !romBuffer)
        return -1;
    BufferState s = load(state);
    if (romBuffer[0] == 0) {
        if (!s.romValid)
            return 0;
        for (int i = 0; i < 8; ++i)
            romBuffer[i] = s.rom[i];
        return 1;
    }
    for (int i = 0; i < 8; ++i)
        s.rom[i] = uint8_t(romBuffer[i] & 0xFF);
    s.romValid = 1;
    store(state, s);
    return 1;
}

// Selects the current device by following its ROM through a Search ROM: the
// device answers every bit, so success proves it is on the bus, and at the
// end of the search it alone is selected.
short WireBackend::strongAccess(int32_t session, void *state)
{
    if (!sessionOk(session))
        return kInvalidSession;
    uint8_t rom[8];
    if (!currentRom(state, rom))
        return 0;
    // Where both values are present the search follows the ROM; the device is
    // there exactly when the search ends on its ROM.
    uint8_t found[8];
    uint8_t discrepancies[8];
    const int result = m_master->resetAndSearch(rom, found, discrepancies);
    if (result <= 0)
        return result < 0 ? -1 : 0;
    return std::memcmp(found, rom, 8) == 0 ? 1 : 0;
}

short WireBackend::strongAccessThenBlock(int32_t session, void *state, unsigned char *buffer, short length)
{
    if (!sessionOk(session))
        return kInvalidSession;
    if (length < 0 || (!buffer && length > 0))
        return -1;
    uint8_t rom[8];
    if (!currentRom(state, rom))
        return 0;
    uint8_t found[8];
    uint8_t discrepancies[8];
    const int result = m_master->resetAndSearchThenBlock(rom, found, discrepancies, buffer, length);
    if (result <= 0)
        return result < 0 ? -1 : 0;
    return std::memcmp(found, rom, 8) == 0 ? 1 : 0;
}

short WireBackend::access(int32_t session, void *state)
{
    if (!sessionOk(session))
        return kInvalidSession;
    uint8_t rom[8];
    if (!currentRom(state, rom))
        return 0;
    const int presence = m_master->reset();
    if (presence <= 0)
        return presence < 0 ? -1 : 0;
    // Match ROM and the ROM as one run: a master that carries a run in one
    // exchange saves nine round trips.
    uint8_t run[9] = {RomCommand::kMatch};
    std::memcpy(run + 1, rom, 8);
    if (m_master->touchBlock(run, 9) < 0)
        return -1;
    return 1;
}

short WireBackend::oneWireLevel(int32_t session, short operation, short levelType, short)
{
    if (!sessionOk(session))
        return kInvalidSession;
    if (operation != 0)
        return 0; // only "set" is supported; reading the level reports normal
    m_master->setStrongPullup(levelType == 1);
    // A pull-up the master cannot give is refused, so a driver whose chip
    // would brown out without it knows.
    if (levelType == 1 && !m_master->hasStrongPullup())
        return -1;
    return levelType;
}

short WireBackend::crc(short length, unsigned char *buffer, unsigned short seed, short crcType)
{
    if (length < 0 || (!buffer && length > 0))
        return -1;
    if (crcType == 0)
        return Crc::dallas8(buffer, length, uint8_t(seed));
    return short(Crc::maxim16(buffer, length, seed));
}

QString WireBackend::description() const
{
    return QStringLiteral("1-Wire master");
}

bool WireBackend::conversionFinished() const
{
    return m_master->conversionFinished();
}
