#include "onewire/adapter.h"

#include "base/logging.h"
#include "bus/busbackend.h"
#include "bus/crc.h"
#include "onewire/tmex.h"
#include "base/clock.h"

#include <QSet>

namespace {

// More passes than devices a bus can carry, and passes in a row without a new device.
const int kMaxSearchPasses = 4096;
const int kMaxFruitlessPasses = 64;
// A search that keeps finding new devices: more than twice the last settled
// count and this many besides, or longer than this, is not a bus settling.
const int kMaxNewDevicesBeyond = 64;
const qint64 kMaxSearchMs = 30000;
// Tries of one pass whose adapter failed (line noise) before the search gives up.
const int kPassTries = 3;

// TMFirst or TMNext (their Alarm Search forms with `alarms`), tried again
// where the adapter failed (the search position is kept then, so the same
// pass runs again). A bus without an Alarm Search says so at once.
short searchStep(Tmex &tmex, int32_t session, uint8_t *state, bool first, bool alarms)
{
    short result = -1;
    for (int attempt = 0; attempt < kPassTries && result < 0; ++attempt) {
        if (alarms)
            result = first ? tmex.TMFirstAlarm(session, state) : tmex.TMNextAlarm(session, state);
        else
            result = first ? tmex.TMFirst(session, state) : tmex.TMNext(session, state);
        if (result == BusBackend::kNoAlarmSearch)
            break;
    }
    return result;
}

} // namespace

int Adapter::open()
{
    m_status = QStringLiteral("Error TMReadDefaultPort port=%1  portType=%2").arg(m_portNum).arg(m_portType);
    if (m_tmex.TMValidSession(m_session) == 1 && m_tmex.TMSetup(m_session) == 1)
        return 1;

    if (m_tmex.TMReadDefaultPort(&m_portNum, &m_portType) < 1)
        return -1;

    m_status = QStringLiteral("Error TMExtendedStartSession port=%1  portType=%2").arg(m_portNum).arg(m_portType);
    m_session = m_tmex.TMExtendedStartSession(m_portNum, m_portType, nullptr);
    if (m_session < 1) {
        m_status += QStringLiteral("\nError setup driver port");
        return -3;
    }

    m_status = QStringLiteral("Error TMSetup session=%1").arg(m_session);
    const short setup = m_tmex.TMSetup(m_session);
    if (setup != 1 && setup != 2) {
        if (m_session > 0) {
            m_tmex.TMEndSession(m_session);
            m_session = 0;
        }
        m_status += QStringLiteral("\nAdapter not found");
        return -2;
    }

    m_status = QStringLiteral("Adapter found, No error");
    if (m_tmex.TMAutoOverDrive(m_session, m_searchState, 1) == 1) {
        m_status += QStringLiteral("; Info: OverDrive ON");
    } else {
        m_tmex.TMAutoOverDrive(m_session, m_searchState, 0);
        m_status += QStringLiteral("; Info: OverDrive OFF");
    }
    return 1;
}

int Adapter::resetBus()
{
    if (m_tmex.TMValidSession(m_session) != 0)
        return m_tmex.TMTouchReset(m_session);
    return -1;
}

int Adapter::search(RomList &roms)
{
    return searchWith(roms, false);
}

int Adapter::alarmSearch(RomList &roms)
{
    return searchWith(roms, true);
}

int Adapter::searchWith(RomList &roms, bool alarms)
{
    if (m_session < 1)
        return -4;
    roms.clear();
    const qint64 startMs = Clock::tickMs();
    const short first = searchStep(m_tmex, m_session, m_searchState, true, alarms);
    if (first == BusBackend::kNoAlarmSearch)
        return kNoAlarmSearch;
    if (first < 0 && alarms)
        return kAlarmSearchFailed;
    if (first < 1)
        return 1;

    RomId rom(8, 0);
    if (m_tmex.TMRom(m_session, m_searchState, rom.data()) < 1) {
        qCDebug(logCritical()) << "Fail on read ROM";
        return alarms ? kAlarmSearchFailed : 1;
    }
    if (romIsValid(rom)) {
        if (!alarms)
            qCDebug(logInfo()) << "TMFirst Find new device: serial number: " << romToText(rom, false);
        roms.append(rom);
    }

    // Each step of the search takes a reset and 192 slots (15 ms at standard
    // speed): GUI events are processed between the devices, so a search of
    // hundreds of them keeps the window alive.
    // A search whose answers never settle (an adapter answering nonsense)
    // would go on for ever: it ends, as an error, after more passes than a
    // bus can have devices, after a run of passes that found nothing new,
    // after far more new devices than the last search that settled found,
    // or after longer than any real bus takes.
    QSet<RomId> listed(roms.constBegin(), roms.constEnd());
    int passes = 1;
    int fruitless = 0;
    const int maxDevices = m_settledCount > 0 ? 2 * m_settledCount + kMaxNewDevicesBeyond : kMaxSearchPasses;
    for (;;) {
        Clock::keepResponsive();
        if (++passes > kMaxSearchPasses || fruitless >= kMaxFruitlessPasses || roms.size() > maxDevices
            || Clock::tickMs() - startMs > kMaxSearchMs) {
            qCDebug(logCritical()) << "The search does not settle: stopped after" << passes - 1 << "passes";
            return kSearchUnsettled;
        }
        const short step = searchStep(m_tmex, m_session, m_searchState, false, alarms);
        if (step < 0 && alarms)
            return kAlarmSearchFailed;
        if (step < 1)
            break;
        ++fruitless;
        rom[0] = 0;
        if (m_tmex.TMRom(m_session, m_searchState, rom.data()) < 1) {
            if (alarms)
                return kAlarmSearchFailed;
            continue;
        }
        if (!romIsValid(rom))
            continue;
        if (listed.contains(rom)) {
            if (!alarms)
                qCDebug(logInfo()) << "TMNext Find dublicate serial number " << romToText(rom, false);
            continue;
        }
        fruitless = 0;
        if (!alarms)
            qCDebug(logInfo()) << "TMNext Find new device: serial number: " << romToText(rom, false);
        roms.append(rom);
        listed.insert(rom);
    }
    // The alarming devices are a few of the bus's: they say nothing of how
    // many the next full search may find.
    if (!alarms)
        m_settledCount = roms.size();
    return 1;
}

bool Adapter::romIsValid(const RomId &rom)
{
    if (rom.size() != 8)
        return false;
    bool allZero = true, allOnes = true;
    for (short e : rom) {
        allZero = allZero && (e & 0xFF) == 0x00;
        allOnes = allOnes && (e & 0xFF) == 0xFF;
    }
    if (allZero || allOnes)
        return false;
    uint8_t bytes[8];
    for (int i = 0; i < 8; ++i)
        bytes[i] = uint8_t(rom.at(i) & 0xFF);
    return Crc::dallas8(bytes, 8) == 0;
}

QString Adapter::findAdapterSerial(const RomList &roms, bool reversed)
{
    for (const RomId &rom : roms) {
        if (!rom.isEmpty() && ((rom.at(0) & 0xFF) == 0x01 || (rom.at(0) & 0xFF) == 0x81))
            return romToText(rom, reversed);
    }
    return QString();
}
