#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <QVector>

struct TrafficEntry;

// The least time a stretch of bus traffic can take, computed from the
// simulated driver's traffic log alone — independently of how the simulated
// bus charges its time — from the 1-Wire timing table and the waits the
// program's drivers must make:
//
// - wire time: each reset 960 µs (overdrive 121 µs), each bit slot 70 µs
//   (10 µs), each byte 8 slots; a search step (TMFirst, TMNext) and a
//   TMStrongAccess are a reset, the Search ROM byte and 64 × 3 slots, a
//   TMAccess a reset and 9 bytes. A step or selection that failed counts as
//   its reset alone, and a TMNext that found nothing more as no traffic.
// - waits: the ones the drivers declare (SensorTraits, through
//   Sensor::traitsOf and i2cSensorTypes): a Convert T under the strong
//   pull-up (a broadcast as a DS18x20's), a Copy Scratchpad, a 1-Wire
//   chip's wait after a function command (a DS2438's, a DS2450's), the I2C
//   sensors' waits after their commands were taken and after a status poll
//   that found no data ready; and 1 ms after every busy bit of a bridge,
//   10 ms between the bus reset and the search, 90 ms before a repeated
//   search.
//
// Trying overdrive (TMAutoOverDrive 1) counts as a standard reset, Overdrive
// Skip ROM and an overdrive reset, and one more standard reset when it failed;
// the bus speed follows its result. Feed the entries in order.
// Not covered: waits after failures (a MAX31850 read that failed, a sensor
// driver's failed attempts), the SHT3x heater's in-place wait and the window's
// logging pause.
class TrafficFloor
{
public:
    // Sets the bus speed for the entries that follow (standard at construction).
    void setOverdrive(bool on) { m_overdrive = on; }
    bool overdrive() const { return m_overdrive; }

    void add(const TrafficEntry &entry);
    void addAll(const QVector<TrafficEntry> &entries);

    qint64 wireUs() const { return m_wireUs; }
    qint64 waitUs() const { return m_waitUs; }
    qint64 totalUs() const { return m_wireUs + m_waitUs; }

private:
    enum class Packet { None, Command, Write, Read, Status, Data };

    void chargeReset();
    void chargeSlots(int count);
    void chargeSearch();
    void byteSent(int byte, int result);
    void packetDone();
    qint64 writeWaitUs() const;

    bool m_overdrive = false;
    qint64 m_wireUs = 0;
    qint64 m_waitUs = 0;

    // What the log says about the device being addressed.
    int m_family = -1;          // family code of the device last given to TMRom
    bool m_pullupArmed = false;
    bool m_broadcast = false;   // Skip ROM after the last reset
    bool m_afterReset = false;  // the next byte is a ROM command
    bool m_expectCommand = false; // the next byte is a function command
    QByteArray m_lastCall;      // the last call that may touch the wire

    // A DS28E17 packet being sent or answered.
    Packet m_packet = Packet::None;
    QByteArray m_bytes;         // the packet as sent
    int m_answerLeft = 0;       // status and data bytes still to read
    QByteArray m_answer;
    QByteArray m_lastWrite;     // the last write packet taken (address, data)
};
