#pragma once

#include "onewire/romid.h"

#include <QString>
#include <cstdint>

// A TMEX session on the adapter's default port, its two driver state
// buffers, and the bus search. The measurement session owns one for the
// whole run, so a new one is a freshly started program. Its destruction
// does not end the TMEX session.
class Tmex;

class Adapter
{
public:
    // The TMEX calls of the bus this session is on; `tmex` must outlive it.
    explicit Adapter(Tmex &tmex) : m_tmex(tmex) {}
    Adapter(const Adapter &) = delete;
    Adapter &operator=(const Adapter &) = delete;

    // Makes sure a set-up session exists: 1 usable, -1 no default port,
    // -3 the session could not be started, -2 the adapter could not be set up.
    int open();
    // A reset pulse when the session is valid (its result), else -1.
    int resetBus();
    int sessionHandle() const { return m_session; }
    Tmex &tmex() const { return m_tmex; }
    uint8_t *accessStateBuffer() { return m_accessState; }
    QString statusText() const { return m_status; }

    // Fills `roms` with the valid identifiers on the bus, in search order,
    // without duplicates. -4 without a session (roms untouched),
    // kSearchUnsettled when the search did not come to an end, else 1.
    static const int kSearchUnsettled = -5;
    int search(RomList &roms);
    // The same search among the devices whose alarm flag is set (Alarm
    // Search): what their last conversion made of their TH and TL. As
    // search(), kNoAlarmSearch when the bus cannot run one, and
    // kAlarmSearchFailed when a step failed after its tries or a found ROM
    // could not be read: unlike a full search, where an empty bus and a
    // failed first step look alike, an empty list here says that no device
    // is in alarm, so it is given only when the search came to its end.
    static const int kNoAlarmSearch = -6;
    static const int kAlarmSearchFailed = -7;
    int alarmSearch(RomList &roms);

    // 8 elements, not all 0x00 or all 0xFF, Dallas CRC-8 over all 8 is 0.
    static bool romIsValid(const RomId &rom);
    // Text form of the first identifier of family 0x01 or 0x81, or "".
    static QString findAdapterSerial(const RomList &roms, bool reversed);

private:
    int searchWith(RomList &roms, bool alarms);

    Tmex &m_tmex;
    int32_t m_session = 0;
    int16_t m_portNum = 0;
    int16_t m_portType = 0;
    uint8_t m_searchState[16000] = {};
    uint8_t m_accessState[32000] = {};
    QString m_status;
    int m_settledCount = 0; // devices the last search that came to an end found
};
