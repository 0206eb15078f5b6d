#pragma once

#include <QByteArray>
#include <QStringList>
#include <cstdint>

class SimBus;

// The DS2490 USB 1-Wire bridge, emulated in front of a simulated bus: the
// USB requests a host makes (vendor control transfers, bulk data on EP2 and
// EP3, status packets on EP1) go in, the chip's answers come out, and the
// 1-Wire side runs on the SimBus, which charges the bus time to the clock.
//
// USB time: every transfer takes one 1 ms frame, and so does every status
// packet (EP1 is polled once a frame in the alternate setting the master
// uses). A COMM command keeps the chip busy for its bus time: status
// packets meanwhile (which pass within that time) show it not idle, with no
// data waiting and no results yet, and an EP3 read waits for the data (what
// the chip does then is not documented; hosts proven on real adapters read
// EP3 at once after a byte command, so it NAKs).
//
// Modelled: the CONTROL commands (reset, halt and resume, flushes), the MODE
// commands the master sets (strong pull-up enable and duration, speed change
// enable, speed), and the COMM commands 1-Wire reset (with SE, NTF and the
// NRS/SH/APP results), BIT I/O, BYTE I/O, BLOCK I/O (with SPU: a pull-up of
// the set duration, charged to the clock, or infinite until HALT), and
// SEARCH ACCESS in its search-only form (SM, RTS, one device) and its
// strong access form (SM = 0: the device the search ends on stays
// selected). The status packet carries the state registers the master
// reads (enable flags, status flags, the bytes waiting in EP3) and the
// result bytes since the last packet.
// Also SET DURATION, PULSE (strong pull-up) and MATCH ACCESS, which other
// hosts use. Not modelled: command macros (IM = 0), the other COMM commands
// (they stall, as unsupported requests do), 12 V programming, flexible speed.
class SimDs2490
{
public:
    // The bus is not owned and must outlive the chip.
    explicit SimDs2490(SimBus *bus);

    // A vendor control transfer. False: the chip stalls the request.
    bool control(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index);
    // Data the host writes to EP2.
    void bulkOut(const QByteArray &data);
    // What the host reads from EP3 with a request of `length` bytes.
    QByteArray bulkIn(int length);
    // The status packet of EP1: 16 state bytes and the result bytes since the last one.
    QByteArray statusPacket();

    // Whether USB frame time is charged (the default); without it only the
    // bus time is, as the simulated bus alone charges it.
    void setFrameTime(bool on) { m_frameTime = on; }

    // Power-on state.
    void powerOn();
    // Fault: the next status packets report EP0F (a lost setup packet) until CTL_RESET_DEVICE.
    void setEp0Full(bool full) { m_ep0Full = full; }
    // What SEARCH ACCESS (with RTS, more devices to come) puts after the ROM
    // found: the start for the next pass (the ROM found with its last
    // unexplored 0 branch turned to 1, zeros after; the default), the flags
    // of every discrepancy position of the pass, or eight bytes that name no
    // branch (the ROM found again).
    enum class SearchTail { NextStart, Discrepancies, Unreadable };
    void setSearchTail(SearchTail tail) { m_searchTail = tail; }
    // Fault: the 1-Wire line is shorted; every reset reports SH.
    void setShorted(bool shorted) { m_shorted = shorted; }
    // A device arrives on the bus: the device-detect code A5h follows the
    // next command's result bytes.
    void deviceArrives() { m_deviceArrives = true; }
    // Fault: the next `count` EP3 reads complete with a zero-length packet
    // (the other thing a chip might do before its data is there).
    void zeroLengthReads(int count) { m_zeroLength = count; }
    // After the next HALT ends a strong pull-up, `polls` status packets
    // still show SPUA (beside IDLE).
    void lingerPullup(int polls) { m_lingerPolls = polls; }
    // Fault: the next byte read from EP3 has `mask` XOR-ed in.
    void corruptNextIn(uint8_t mask) { m_corruptIn = mask; }

    // The requests the host made, one line each ("COMM 0x0C43 0x0000",
    // "OUT 8", "IN 1", "STATUS"), for tests.
    QStringList requests() const { return m_requests; }
    void clearRequests() { m_requests.clear(); }
    bool strongPullupOn() const { return m_pullup; }

private:
    bool comm(uint16_t value, uint16_t index);
    // The COMM commands, each with its embedded bits in `value`.
    bool commReset(uint16_t value, uint16_t index);
    bool commMatchAccess(uint16_t value, uint16_t index);
    bool commBitIo(uint16_t value);
    bool commByteIo(uint16_t value, uint16_t index);
    bool commBlockIo(uint16_t value, uint16_t index);
    bool commSearch(uint16_t value, uint16_t index);
    bool commStrongAccess(uint16_t value, uint16_t index);
    // Takes the ROM from EP2 and runs the search along it (with the reset
    // RST asks for): 1 with the ROM found, 0 when the result says why not.
    int searchAlong(uint16_t value, uint16_t index, uint8_t rom[8], uint8_t discrepancies[8]);
    // A result register byte, as ICP and NTF say.
    void result(uint16_t value, uint8_t code);
    bool pullupAsked(uint16_t value) const;
    // One USB frame passes.
    void frame();
    void endPullup();
    void startPullup();

    SimBus *m_bus;
    QByteArray m_out;      // EP2 FIFO
    QByteArray m_in;       // EP3 FIFO
    QByteArray m_results;  // result register bytes not yet reported
    bool m_pulseEnabled = false;
    bool m_speedChangeEnabled = false;
    int m_speed = 0;
    int m_pullupDuration = 0x20; // 512 ms at power-on
    bool m_pullup = false;
    bool m_halted = false;
    bool m_ep0Full = false;
    bool m_frameTime = true;
    bool m_shorted = false;
    qint64 m_busyUs = 0; // bus time of the last command not yet passed in polls
    bool m_deviceArrives = false;
    int m_zeroLength = 0;
    int m_lingerPolls = 0;
    int m_lingering = 0;
    uint8_t m_corruptIn = 0;
    SearchTail m_searchTail = SearchTail::NextStart;
    QStringList m_requests;
};
