#pragma once

#include "bus/wiremaster.h"
#include "bus/seriallink.h"

#include <QByteArray>
#include <QString>

// A serial 1-Wire adapter built on the DS2480B line driver (the DS9097U and
// the USB-serial adapters that carry one) as a bus master. The host talks to
// the chip at 9600 baud: in command mode every byte is a command (reset,
// single bit, search accelerator, pulse, configuration), in data mode every
// byte goes onto the 1-Wire bus as eight time slots and comes back as the
// byte read. A run of bytes (touchBlock, also with the read slot of a busy
// poll after it), a reset with a whole search pass (resetAndSearch), and
// such a pass with the run that follows the selection it makes
// (resetAndSearchThenBlock: a scratchpad read) go out in one write, since
// every wait for an answer costs a USB-serial converter's latency. The echo
// of a search command must be the command, wherever it was sent. Stale input is dropped before each exchange; every
// answer is checked, and a garbled, missing or extra one makes the master
// resynchronise the chip and fail the whole exchange (-1); an answer counts
// as complete only once the line has stayed quiet for a moment after it.
// The chip is left in command mode when the master goes.
//
// Strong pull-up: the SPUD parameter is set to infinite at power-up, so an
// armed byte is sent as eight single-bit commands, the last one starting the
// pull-up, and the pull-up holds until the termination command 0xF1 (on
// disarming, before the next reset, or before anything else on the bus).
//
// Overdrive (negotiated by Overdrive::switchOn): every reset, single bit and
// search accelerator command carries the speed bits. A resynchronisation
// returns the bus to standard speed.
class Ds2480b : public WireMaster
{
public:
    // `path`: the serial port (/dev/ttyUSB0). Nothing is opened before setUp().
    explicit Ds2480b(const QString &path);
    ~Ds2480b() override;

    QString path() const { return m_path; }
    // Why the adapter is not usable, in words for the operator; empty when it is.
    QString problem() const;
    // How long an answer may take; the default suits a USB-serial adapter.
    void setReadTimeoutMs(int ms) { m_timeoutMs = ms; }

    // Opens `path`, runs the power-up sequence and closes it again: whether
    // a DS2480B answers there. *why tells what went wrong otherwise.
    static bool probe(const QString &path, int timeoutMs, QString *why);

    // WireMaster
    bool defaultPort(short *portNum, short *portType) const override;
    bool connected() const override;
    bool setUp() override;
    int reset() override;
    int touchBit(int bit) override;
    int touchByte(int byte) override;
    void setOverdriveTiming(bool on) override;
    bool overdriveTiming() const override;
    void setStrongPullup(bool armed) override;
    int touchBlock(uint8_t *bytes, int length) override;
    int touchBlockThenReadBit(uint8_t *bytes, int length) override;
    int searchTriplets(const uint8_t path[8], uint8_t rom[8], uint8_t discrepancies[8]) override;
    int resetAndSearch(const uint8_t path[8], uint8_t rom[8], uint8_t discrepancies[8],
                       uint8_t command = RomCommand::kSearch) override;
    int resetAndSearchThenBlock(const uint8_t path[8], uint8_t rom[8], uint8_t discrepancies[8], uint8_t *bytes,
                                int length) override;

private:
    enum class Mode { Command, Data };

    // Pulse termination, master reset (break), timing byte, configuration
    // and a check that the chip answers, tried a few times. Leaves the chip
    // in command mode at standard speed.
    bool powerUp();
    // One try (`again`: not the first since the port was opened); *heard
    // tells whether the chip answered anything at all.
    bool powerUpOnce(bool again, bool *heard);
    // Ends a running pull-up and leaves data mode, for whoever opens the
    // port next; nothing is waited for.
    void leaveInCommandMode();
    // A reset command's answer: 1 presence, 0 none or shorted, -1 garbled.
    int resetResult(uint8_t answer);
    // Data bytes as sent in data mode, an E3 among them doubled.
    static void appendData(QByteArray *out, const uint8_t *bytes, int length);
    // One pass of the search accelerator along `path`, from command mode;
    // its 16 answers decoded (the result as searchTriplets gives it).
    void appendAccelerated(QByteArray *out, const uint8_t path[8]);
    static int decodeAccelerated(const char *answer, uint8_t rom[8], uint8_t discrepancies[8]);
    // After a garbled or missing answer: resynchronises and returns -1.
    int fail();
    // Drops stale input, sends `out` and reads the answers: the pulse
    // response of a pull-up that `out` ends (`pulses`, 0 or 1, from
    // endPullup), checked and dropped, then exactly `count` bytes into
    // *answer. False when one is missing, one more has come or the pulse
    // response is garbled.
    bool exchange(const QByteArray &out, int pulses, int count, QByteArray *answer);
    // The bytes that end a running strong pull-up (0xF1), with the number of
    // answer bytes they bring; the pull-up is then off.
    int endPullup(QByteArray *out);
    // The mode switch needed before the next bytes, if any.
    void enterCommandMode(QByteArray *out);
    void enterDataMode(QByteArray *out);
    // The reset, the search command and the accelerated pass along `path`
    // appended to *out; the answers they bring (2 + 16).
    int appendSearchPass(QByteArray *out, const uint8_t path[8], uint8_t command);
    // The answers of appendSearchPass checked and decoded: resetAndSearch's result.
    int searchPassResult(const char *answer, uint8_t command, uint8_t rom[8], uint8_t discrepancies[8]);
    // A run of bytes in data mode, with `readBit` followed by one read slot,
    // in one exchange: `length`, or the bit with `readBit`; -1 on failure.
    int runBlock(uint8_t *bytes, int length, bool readBit);
    // A byte sent as eight single-bit commands, the last one starting the
    // strong pull-up. Returns the byte read or -1.
    int touchByteWithPullup(int byte);
    // The last byte of the exchange just made and its echo, as data on the
    // bus (touchByte, or a run's last byte); any later exchange forgets it.
    void noteLastByte(int sent, int echo);
    void setProblem(const QString &text);
    // Powered up, answering and the port still open.
    bool ready() const;

    QString m_path;
    SerialLink m_link;
    QString m_problem;
    Mode m_mode = Mode::Command;
    bool m_ready = false;     // powered up and answering
    bool m_armed = false;     // the next byte starts the strong pull-up
    bool m_pullupOn = false;  // an infinite pull-up runs until 0xF1
    uint8_t m_speed = 0;      // speed bits SS of every reset, bit and search command
    int m_timeoutMs = 250;
    int m_lastByte = -1;      // see noteLastByte; -1: none
    int m_lastEcho = -1;
};
