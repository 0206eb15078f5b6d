#pragma once

#include <QByteArray>
#include <QMap>
#include <QStringList>
#include <cstdint>

class SimBus;

// The DS2480B serial 1-Wire line driver, simulated in front of a simulated
// bus: the bytes a host sends go in, the chip's answers come out, and the
// 1-Wire side runs on the SimBus, which charges the bus time to the clock.
//
// Modelled: the wait for the timing byte after power-on, command mode and
// data mode with the E1/E3 switches and the doubled E3, the configuration
// parameters (written, read back), 1-Wire reset with its answer byte, single
// bits, the search accelerator, strong pull-up after a single bit or a pulse,
// of a predefined duration (charged to the clock) or infinite until F1 (the
// chip ignores everything else meanwhile), and
// the speed bits of the reset, single bit and search accelerator commands,
// whose speed data mode goes on at. A reset at overdrive speed finds presence
// only when every device on the bus follows; a time slot at a speed the
// devices do not run at reaches none of them (the line reads what the master
// wrote) and costs the time of that speed.
// A master reset (a break, or a NUL the host sends at half the chip's baud
// rate or slower) brings the chip back to power-on, waiting for its timing
// byte. The Pulse command's arm bit arms the strong pull-up after every byte
// in data mode. Datasheet violations by the host are counted: a first byte
// after a reset that is not a reset command, a byte that arrives while the
// one-byte input buffer is still full (with line timing), a byte at another
// baud rate than the chip's.
// Not modelled: 12 V programming pulses, flexible speed timing. The serial
// line's time is the port's part (SimPty), which has the chip charge its
// input byte by byte.
//
// The simulated chips take their function layer byte by byte, so eight
// single-bit commands in a row whose last one starts the strong pull-up (how
// a master sends a byte that must power a conversion) reach the bus as one
// byte followed by the pull-up; any other single bit is one time slot.
class SimDs2480b
{
public:
    // The bus is not owned and must outlive the chip.
    explicit SimDs2480b(SimBus *bus);

    // Feeds bytes from the host; returns the answers to send back.
    QByteArray receive(const QByteArray &fromHost);

    // Power-on: waiting for the timing byte, every setting at its default.
    void powerOn();
    // A master reset (a break on the line): as power-on.
    void masterReset();
    // The host's baud rate, as its port is set now (bits per second); 0:
    // unknown, taken to be the chip's.
    void setHostBaud(int baud) { m_hostBaud = baud; }
    // The chip's own baud rate (its RBR parameter), bits per second.
    int baud() const;

    // Datasheet violations by the host since power-on or clearViolations(),
    // one line each.
    QStringList violations() const { return m_violations; }
    void clearViolations() { m_violations.clear(); }

    // Line timing: every byte from the host costs `us` on the clock as it
    // arrives, and the chip acts on it only then, as a real chip does; so
    // what a write puts on the bus happens at the time it would, spaced by
    // the bytes that carry it. 0: no time (the default).
    void setByteTimeUs(qint64 us) { m_byteUs = us; }

    // Faults. A silent chip takes every byte and answers nothing.
    void setSilent(bool silent) { m_silent = silent; }
    // The answer byte `index` bytes from now (0: the next one) is lost.
    void dropAnswer(int index = 0) { m_dropAt = m_answerCount + index; }
    // The answer byte `index` bytes from now arrives with `mask` XOR-ed in;
    // several may be pending.
    void corruptAnswer(int index = 0, uint8_t mask = 0x80) { m_corrupt.insert(m_answerCount + index, mask); }
    // Line noise: the byte `noise` arrives just before the answer byte
    // `index` bytes from now.
    void injectNoise(int index, uint8_t noise)
    {
        m_noiseAt = m_answerCount + index;
        m_noise = noise;
    }
    // Every reset answers with this result in bits 1..0 (0 shorted,
    // 1 presence, 2 alarming presence, 3 none), whatever the bus does; -1: the bus decides.
    void setResetResult(int result) { m_resetResult = result; }

    // What went over the line, for tests.
    QByteArray hostBytes() const { return m_hostLog; }
    QByteArray answerBytes() const { return m_answerLog; }
    void clearLog();
    // Value code of a configuration parameter (1..7).
    int parameter(int code) const { return m_parameters[code & 7]; }
    bool pulseRunning() const { return m_pulse; }
    // In data mode, where a host's command would go onto the bus (after an
    // E3 there the chip takes the next byte as a command, unless it is E3).
    bool dataMode() const { return m_state == State::Data; }
    // Master resets seen since power-on.
    int masterResets() const { return m_masterResets; }

private:
    enum class State { AwaitTiming, Command, Data, Check };

    // Handles the command at m_in[m_pos]; may consume more bytes.
    void command(uint8_t b);
    void configuration(uint8_t b);
    void singleBits(uint8_t b);
    void dataByte(uint8_t b);
    void reset(int speed);
    // Time slots at the speed of the last command: one (`bit`) or eight
    // (`byte`, least significant bit first). Returns what the line read.
    int slot(int bit);
    int byteSlots(int byte);
    // The devices run at the speed of the last command.
    bool devicesFollow() const;
    // Starts the strong pull-up or pulse whose response is `pulseAnswer`;
    // one of a predefined duration also ends at once.
    void startPulse(uint8_t pulseAnswer);
    void endPulse();
    void answer(uint8_t b);
    // Whether m_in holds, from m_pos on, eight single-bit commands whose last
    // one alone starts the strong pull-up.
    bool pulledByteAhead() const;
    // Charges the line time of m_in's bytes up to `index` not charged yet,
    // and counts an overrun of the one-byte input buffer.
    void arrive(int index);
    // One byte from the host: false when the chip did not take it as a byte
    // (a master reset, a byte at the wrong baud rate).
    bool lineByte(uint8_t b);
    void violation(const QString &what);

    SimBus *m_bus;
    State m_state = State::AwaitTiming;
    int m_parameters[8] = {};
    bool m_accelerator = false;
    bool m_armedPullup = false; // the Pulse command's arm bit: a pull-up after every data byte
    int m_speed = 0;          // SS of the last command: 0 standard, 1 flexible, 2 overdrive
    bool m_pulse = false;
    uint8_t m_pulseAnswer = 0;
    QByteArray m_in;
    int m_pos = 0;
    int m_arrived = 0; // bytes of m_in whose line time is charged
    qint64 m_chunkStartUs = 0; // when the first byte of m_in began to arrive
    int m_hostBaud = 0;
    int m_masterResets = 0;
    QStringList m_violations;
    qint64 m_byteUs = 0;
    QByteArray m_out;

    bool m_silent = false;
    qint64 m_answerCount = 0;
    qint64 m_dropAt = -1;
    QMap<qint64, uint8_t> m_corrupt;
    qint64 m_noiseAt = -1;
    uint8_t m_noise = 0;
    int m_resetResult = -1;
    QByteArray m_hostLog;
    QByteArray m_answerLog;
};
