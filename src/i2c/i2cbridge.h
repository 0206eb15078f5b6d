#pragma once

#include <QByteArray>
#include <cstdint>
#include <functional>

class BridgeContext;
class Tmex;
struct SensorDevice;

// The DS28E17 1-Wire-to-I2C bridge. Built on the stack for one use: a read of
// one bridge, or the once-per-cycle configuration of all bridges at once.
//
// I2C addresses are address bytes: the 7-bit address shifted left by one
// with the read/write bit clear (0x88 for 0x44); readData sets the bit itself.
class I2cBridge
{
public:
    // Result codes of the transport and of the I2C drivers besides 1 (or a
    // byte count); a driver's own codes are the driver's (-6, -12, -13 taken).
    static constexpr int kFailed = -1;           // selection, a write packet's exchange, busy wait, read status
    static constexpr int kCrcMismatch = -7;      // Sensirion CRC-8 of a word
    static constexpr int kHubRefused = -8;       // the multi-hub did not take a channel byte
    static constexpr int kBadRequest = -9;       // length or write mode out of range; nothing sent
    static constexpr int kTransferFailed = -10;  // write status, read packet exchange; any failed I2C step of a driver
    static constexpr int kNoMoreChannels = -11;  // no hub channel after 47

    // Write modes of writeData.
    static constexpr int kWithStop = 0;          // 0x4B Write Data With Stop
    static constexpr int kNoStop = 1;            // 0x5A Write Data No Stop: a read follows with a repeated start

    static constexpr int kMaxWriteBytes = 26;
    static constexpr int kMaxReadBytes = 59;
    // Attempts of every operation on what is behind a bridge.
    static constexpr int kAttempts = 4;

    // Stores the fields and reconfigures every bridge on the bus to 100 kHz.
    // `context` may be null (the cycle's broadcast); then both scan options
    // count as on and no sensor heater is planned.
    I2cBridge(Tmex &tmex, int32_t *session, uint8_t *accessState, short *rom, BridgeContext *context);

    // Broadcast Write Configuration (Skip ROM, 0xD2, speed byte: 0 for 100 kHz,
    // 1 for 400, 2 for 900, 3 otherwise). Returns the speed byte read back
    // (negative on error), or TMValidSession's 0 without sending anything.
    int setBusSpeed(int kHz);
    // Broadcast Enable Sleep Mode (Skip ROM, 0x1E); the bridges wake at the next reset.
    int sendSleepCommand();

    // One I2C write of 1..26 bytes to `address`, ended with a stop (mode 0)
    // or left open for a repeated-start read (mode 1). Context: the bridge is
    // selected. Returns the byte count, or kBadRequest (nothing sent),
    // kFailed, kTransferFailed (status or write status not 0: the address or
    // a data byte was not acknowledged, or the packet's CRC was refused).
    int writeData(uint8_t address, const QByteArray &data, int mode);
    // One I2C read of 1..59 bytes from `address` into `out` (cleared first),
    // ended with a stop. Context: the bridge is selected. Returns `length`,
    // or kBadRequest (nothing sent), kTransferFailed (a packet exchange
    // failed), kFailed (busy wait, or status not 0).
    int readData(uint8_t address, QByteArray &out, int length);
    // Polls the busy bit after a packet, up to 60 reads 1 ms apart with the
    // GUI events processed in between. Returns the reads left including the
    // one that found the bridge done (60 on the first), or kFailed.
    int waitWhileBusy();
    // The same, the first read already made (with a write packet): its answer.
    int waitWhileBusy(short firstPoll);

    // The bus calls, session, access state and ROM buffer the drivers of this read use.
    Tmex &tmex() const { return m_tmex; }
    int32_t *session() const { return m_session; }
    uint8_t *accessState() const { return m_accessState; }
    short *rom() const { return m_rom; }
    // A sensor at `address` answered its probe: only that type is looked for
    // next while the scan of every type is off.
    void sensorAnswered(uint8_t address);

    // The selection before every further transaction of an attempt (TMAccess,
    // whose result is not examined).
    static void accessDevice(Tmex &tmex, int32_t *session, uint8_t *accessState);
    // Up to kAttempts attempts of one operation: each begins with
    // Tmex::selectDevice (the attempt fails with kFailed when it does not succeed),
    // then runs `attempt`, whose result ends the attempts when it is 1 or
    // more. GUI events are processed between attempts. Returns that result,
    // or the last attempt's code.
    static int attempts(Tmex &tmex, int32_t *session, uint8_t *accessState, short *rom, const std::function<int()> &attempt);

    // Discovery and read of everything behind the bridge, hub channel by hub
    // channel, into `device`'s channel list. Leaves the hub on channel 0.
    void readSensors(SensorDevice &device);
    // Ends readSensors at the next channel (the program is closing).
    void requestStop() { m_stopRequested = true; }
    // What the read takes from its measurement; null for the broadcast.
    BridgeContext *context() const { return m_context; }

    // The channels of `found` (one hub channel's sensors) merged into
    // `device`: a channel with the same I2C address, serial, hub channel and
    // subchannel is updated in place (its reading, value, time, ranges,
    // alarms, updated and written flags); any other is appended.
    static void mergeChannels(SensorDevice &device, const SensorDevice &found);

private:
    Tmex &m_tmex;
    int32_t *m_session;
    uint8_t *m_accessState;
    short *m_rom;
    BridgeContext *m_context;
    bool m_stopRequested = false;
    bool m_scanAllChannels = true;
    int32_t m_knownAddress = -1;
};
