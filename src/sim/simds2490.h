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
// packet (EP1 is polled once a frame in the alternate setting the master uses).
//
// Modelled: the CONTROL commands (reset, halt and resume, flushes), the MODE
// commands the master sets (strong pull-up enable and duration, speed change
// enable, speed), and the COMM commands 1-Wire reset (with SE, NTF and the
// NRS/SH/APP results), BIT I/O, BYTE I/O, BLOCK I/O (with SPU: a pull-up of
// the set duration, charged to the clock, or infinite until HALT), and
// SEARCH ACCESS in its search-only form (SM, RTS, one device). The status
// packet carries the state registers the master reads (status flags, the
// bytes waiting in EP3) and the result bytes since the last packet.
// Not modelled: command macros (IM = 0), the other COMM commands (they
// stall, as unsupported requests do), 12 V programming, flexible speed.
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

    // The requests the host made, one line each ("COMM 0x0C43 0x0000",
    // "OUT 8", "IN 1", "STATUS"), for tests.
    QStringList requests() const { return m_requests; }
    void clearRequests() { m_requests.clear(); }
    bool strongPullupOn() const { return m_pullup; }

private:
    bool comm(uint16_t value, uint16_t index);
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
    SearchTail m_searchTail = SearchTail::NextStart;
    QStringList m_requests;
};
