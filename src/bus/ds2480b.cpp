#include "bus/ds2480b.h"

#include "base/logging.h"
#include "base/clock.h"
#include "bus/romcommands.h"

#include <QFileInfo>

#include <cstring>

namespace {

// Command mode: communication commands have bit 7 = 1 and bit 0 = 1.
//   1 00 V SS P 1   Single Bit: a time slot writing V (V = 1 is also a read
//                   slot) at speed SS; P = 1 starts the strong pull-up after it.
//                   Answer: bits 7..2 as sent, bits 1..0 both the bit read.
//   1 01 H SS 0 1   Search Accelerator: H = 1 on, H = 0 off. No answer.
//   1 10 0 SS 0 1   1-Wire Reset at speed SS. Answer: 11x, chip revision in
//                   bits 4..2, the result in bits 1..0 (00 the bus is shorted,
//                   01 presence, 10 alarming presence, 11 no presence).
//   1 11 T 11 Q 1   Pulse (not used here). Its answer, the pulse response, has
//                   bits 7..5 = 111; a single bit's strong pull-up ends with one too.
//   E1              to data mode (no answer); E3, in data mode, back to command
//                   mode (no answer), so an E3 meant as data is sent twice.
//   F1              ends a pulse of infinite duration; no answer of its own,
//                   the pulse response follows.
// Speed SS: 00 standard, 01 flexible, 10 overdrive (the Pulse command's 11
// is no speed). Bytes in data mode run at the speed of the last reset,
// single bit or search accelerator command, so every one of those carries
// the bus's speed.
const uint8_t kSingleBit = 0x81;
const uint8_t kBitOne = 0x10;
const uint8_t kBitPullup = 0x02;
const uint8_t kAcceleratorOff = 0xA1;
const uint8_t kAcceleratorOn = 0xB1;
const uint8_t kReset = 0xC1;  // also the timing byte after a master reset
const uint8_t kDataMode = 0xE1;
const uint8_t kCommandMode = 0xE3;
const uint8_t kEndPulse = 0xF1;
const uint8_t kSpeedStandard = 0x00;
const uint8_t kSpeedOverdrive = 0x08;
const uint8_t kPulseAnswerMask = 0xE0;

// Configuration commands: 0 PPP VVV 1 writes value code VVV of parameter PPP
// and is answered with its upper seven bits and bit 0 = 0; 0 000 PPP 1 reads
// parameter PPP and is answered 0 000 VVV 0.
// Parameter 011 SPUD, the strong pull-up duration: 000..101 = 16.4, 65.5,
// 131, 262, 524, 1048 ms; 110 must not be used; 111 infinite, ended by F1.
// Parameter 111 RBR, the baud rate: 000 9.6, 001 19.2, 010 57.6, 011 115.2 kbps.
const uint8_t kSpudInfinite = 0x3F; // 0 011 111 1
const uint8_t kSpudInfiniteAnswer = 0x3E;
const uint8_t kReadBaudRate = 0x0F; // 0 000 111 1
const uint8_t kBaud9600Answer = 0x00; // value code 000 in bits 3..1

// The break that resets the chip lasts longer than a character at 9600 baud.
const int kBreakMs = 2;
// After the timing byte the chip calibrates; anything that still comes
// (a chip that missed the break answers the byte as a reset) is dropped.
const int kSettleMs = 20;
// Ten bits of a byte on the line at 9600 baud.
const int kByteTimeUs = 1042;
// How long the line must stay quiet after an answer's last byte before the
// answer is taken: two byte times, so a byte that trails it
// (noise) is seen and not left to shift the next answer.
const int kQuietAfterAnswerMs = 2;
// Power-up tries before the adapter is reported as not answering, and the
// stray reset answers one try drops.
const int kPowerUpAttempts = 3;
const int kMaxStrays = 2;

// TMEX's port type for a DS9097U (DS2480B) serial adapter.
const short kPortType = 5;

// The bit a Single Bit command read: its answer repeats bits 7..2 of the
// command and carries the bit in bits 1..0 (00 or 11). -1 when garbled.
int bitAnswer(uint8_t command, uint8_t answer)
{
    if ((answer & 0xFC) != (command & 0xFC))
        return -1;
    if ((answer & 0x03) == 0x03)
        return 1;
    return (answer & 0x03) == 0x00 ? 0 : -1;
}

} // namespace

Ds2480b::Ds2480b(const QString &path)
    : m_path(path)
{
}

Ds2480b::~Ds2480b()
{
    leaveInCommandMode();
}

void Ds2480b::leaveInCommandMode()
{
    // The next program on this port (one that cannot send a break through
    // the converter) expects the chip in command mode, with no pull-up.
    if (!ready())
        return;
    QByteArray out;
    endPullup(&out);
    enterCommandMode(&out);
    if (!out.isEmpty())
        m_link.write(out);
}

void Ds2480b::setProblem(const QString &text)
{
    if (text != m_problem && !text.isEmpty())
        qCDebug(logCritical()) << text;
    m_problem = text;
}

QString Ds2480b::problem() const
{
    if (m_problem.isEmpty() && !connected())
        return SerialLink::missingPortText(m_path);
    return m_problem;
}

bool Ds2480b::defaultPort(short *portNum, short *portType) const
{
    *portNum = 0;
    *portType = kPortType;
    return true;
}

bool Ds2480b::connected() const
{
    // Plugged in: the port is open and has not failed, or at least its
    // device node is there to be opened.
    return m_link.isOpen() || QFileInfo::exists(m_path);
}

bool Ds2480b::ready() const
{
    return m_ready && m_link.isOpen();
}

bool Ds2480b::exchange(const QByteArray &out, int pulses, int count, QByteArray *answer)
{
    m_lastByte = -1;
    // Input nobody asked for (line noise, an answer that came too late)
    // would be taken for this exchange's answers: it goes first.
    m_link.dropInput();
    if (!m_link.write(out))
        return false;
    // A long run takes its time on the line (1.04 ms a byte at 9600 baud)
    // on top of the wait for the first answer.
    *answer = m_link.read(pulses + count, m_timeoutMs + (out.size() * kByteTimeUs + 999) / 1000);
    if (answer->size() != pulses + count)
        return false;
    // One byte more than the chip can have sent, now or a byte time later:
    // every answer may be shifted by it, so none is trusted.
    if (m_link.inputWithinMs(kQuietAfterAnswerMs))
        return false;
    if (pulses && (uint8_t(answer->at(0)) & kPulseAnswerMask) != kPulseAnswerMask)
        return false;
    answer->remove(0, pulses);
    return true;
}

void Ds2480b::enterCommandMode(QByteArray *out)
{
    if (m_mode == Mode::Data)
        out->append(char(kCommandMode));
    m_mode = Mode::Command;
}

void Ds2480b::enterDataMode(QByteArray *out)
{
    if (m_mode == Mode::Command)
        out->append(char(kDataMode));
    m_mode = Mode::Data;
}

void Ds2480b::appendData(QByteArray *out, const uint8_t *bytes, int length)
{
    for (int i = 0; i < length; ++i) {
        out->append(char(bytes[i]));
        if (bytes[i] == kCommandMode)
            out->append(char(bytes[i])); // sent twice: data, not the switch to command mode
    }
}

int Ds2480b::endPullup(QByteArray *out)
{
    if (!m_pullupOn)
        return 0;
    // The pull-up was started by a single-bit command, so the chip is in command mode.
    out->append(char(kEndPulse));
    m_pullupOn = false;
    return 1;
}

bool Ds2480b::powerUp()
{
    // A chip that missed the reset or answers late may still be caught up
    // on a second or third try, all within the same tick; one that said
    // nothing at all is not there.
    for (int attempt = 0; attempt < kPowerUpAttempts; ++attempt) {
        bool heard = false;
        if (powerUpOnce(attempt > 0, &heard)) {
            setProblem(QString());
            return true;
        }
        if (!heard || !m_link.isOpen())
            break;
    }
    if (m_link.lost())
        setProblem(QStringLiteral("%1: the adapter is gone (unplugged?)").arg(m_path));
    else
        setProblem(QStringLiteral("%1: no DS2480B answers (is a 1-Wire adapter plugged in there?)").arg(m_path));
    return false;
}

bool Ds2480b::powerUpOnce(bool again, bool *heard)
{
    m_ready = false;
    m_armed = false;
    m_pullupOn = false;
    // A chip just reset runs at standard speed, and so does the bus from the
    // next reset on.
    m_speed = kSpeedStandard;
    // On a second try, F1 first: a chip whose pull-up answer was lost holds
    // the infinite strong pull-up and hears nothing else until F1, should
    // no reset reach it. E3 next: a chip that sits in data mode takes the
    // timing byte as a command then, not as data for the bus; in command
    // mode E3 changes nothing. (Before the first reset they would be the
    // first bytes a chip just powered on hears, which must be a reset command.)
    if (again)
        m_link.write(QByteArray(1, char(kEndPulse)) + char(kCommandMode));
    // The master reset: a break, and a NUL at half the baud rate, which
    // passes converters and bridges that drop a break.
    m_link.sendBreak(kBreakMs);
    m_link.sendSlowNul();
    // The line idles as long again before the timing byte, so the chip has
    // left its reset when the byte's start bit comes.
    Clock::holdLineMs(kBreakMs);
    // The timing byte: a reset command at 9600 baud, which the chip uses to
    // calibrate and does not answer.
    m_link.write(QByteArray(1, char(kReset)));
    *heard = m_link.discardInput(kSettleMs) > 0;
    m_mode = Mode::Command;

    QByteArray config;
    config.append(char(kSpudInfinite));
    config.append(char(kReadBaudRate));
    if (!m_link.write(config))
        return false;
    // A chip that missed the break answers the timing byte as a reset
    // (11xxxxxx), and may do so after the settling time: such a stray answer
    // is dropped here, as configuration answers have bit 7 = 0.
    QByteArray answer;
    int strays = 0;
    while (answer.size() < 2) {
        const QByteArray got = m_link.read(1, m_timeoutMs);
        if (got.isEmpty())
            return false;
        *heard = true;
        if (answer.isEmpty() && (uint8_t(got.at(0)) & 0xC0) == 0xC0 && ++strays <= kMaxStrays)
            continue;
        answer += got;
    }
    if (m_link.inputWaiting() || uint8_t(answer.at(0)) != kSpudInfiniteAnswer
        || uint8_t(answer.at(1)) != kBaud9600Answer)
        return false;
    m_ready = true;
    return true;
}

void Ds2480b::noteLastByte(int sent, int echo)
{
    m_lastByte = sent;
    m_lastEcho = echo;
}

int Ds2480b::fail()
{
    m_lastByte = -1;
    m_link.discardInput(kSettleMs);
    if (m_link.isOpen())
        powerUp();
    else {
        m_ready = false;
        setProblem(QStringLiteral("%1: the adapter is gone (unplugged?)").arg(m_path));
    }
    return -1;
}

bool Ds2480b::setUp()
{
    if (ready()) {
        // Still there? Reading a parameter costs two bytes on the line.
        QByteArray out;
        const int pulses = endPullup(&out);
        enterCommandMode(&out);
        out.append(char(kReadBaudRate));
        QByteArray answer;
        if (exchange(out, pulses, 1, &answer) && uint8_t(answer.at(0)) == kBaud9600Answer)
            return true;
        if (!m_link.isOpen())
            m_ready = false;
    }
    if (!m_link.isOpen()) {
        QString error;
        if (!m_link.open(m_path, &error)) {
            m_ready = false;
            setProblem(error);
            return false;
        }
    }
    return powerUp();
}

int Ds2480b::reset()
{
    if (!ready())
        return -1;
    QByteArray out;
    const int pulses = endPullup(&out);
    m_armed = false;
    enterCommandMode(&out);
    out.append(char(kReset | m_speed));
    QByteArray answer;
    if (!exchange(out, pulses, 1, &answer))
        return fail();
    const int presence = resetResult(uint8_t(answer.at(0)));
    return presence < 0 ? fail() : presence;
}

int Ds2480b::resetResult(uint8_t answer)
{
    if ((answer & 0xC0) != 0xC0)
        return -1;
    switch (answer & 0x03) {
    case 0x00:
        setProblem(QStringLiteral("%1: the 1-Wire bus is shorted").arg(m_path));
        return 0;
    case 0x01: // presence
    case 0x02: // alarming presence
        return 1;
    default:   // no presence
        return 0;
    }
}

int Ds2480b::touchBit(int bit)
{
    if (!ready())
        return -1;
    QByteArray out;
    const int pulses = endPullup(&out);
    enterCommandMode(&out);
    const uint8_t command = uint8_t(kSingleBit | (bit ? kBitOne : 0) | m_speed);
    out.append(char(command));
    QByteArray answer;
    if (!exchange(out, pulses, 1, &answer))
        return fail();
    const int read = bitAnswer(command, uint8_t(answer.at(0)));
    // Writing 0 holds the line low: nothing can read back 1.
    if (read < 0 || (!bit && read))
        return fail();
    return read;
}

int Ds2480b::touchByteWithPullup(int byte)
{
    QByteArray out;
    const int pulses = endPullup(&out);
    enterCommandMode(&out);
    QByteArray commands;
    for (int i = 0; i < 8; ++i) {
        uint8_t command = uint8_t(kSingleBit | (((byte >> i) & 1) ? kBitOne : 0) | m_speed);
        if (i == 7)
            command |= kBitPullup;
        commands.append(char(command));
    }
    QByteArray answer;
    if (!exchange(out + commands, pulses, 8, &answer))
        return fail();
    int read = 0;
    for (int i = 0; i < 8; ++i) {
        const int bit = bitAnswer(uint8_t(commands.at(i)), uint8_t(answer.at(i)));
        if (bit < 0)
            return fail();
        read |= bit << i;
    }
    m_pullupOn = true;
    if (read & ~byte & 0xFF)
        return fail();
    noteLastByte(byte, read);
    return read;
}

int Ds2480b::touchByte(int byte)
{
    if (!ready())
        return -1;
    byte &= 0xFF;
    if (m_armed)
        return touchByteWithPullup(byte);
    QByteArray out;
    const int pulses = endPullup(&out);
    enterDataMode(&out);
    const uint8_t data = uint8_t(byte);
    appendData(&out, &data, 1);
    QByteArray answer;
    if (!exchange(out, pulses, 1, &answer))
        return fail();
    const int read = uint8_t(answer.at(0));
    // A bit written as 0 holds the line low: an echo with a 1 there is garbled.
    if (read & ~byte & 0xFF)
        return fail();
    noteLastByte(byte, read);
    return read;
}

void Ds2480b::setOverdriveTiming(bool on)
{
    m_speed = on ? kSpeedOverdrive : kSpeedStandard;
}

bool Ds2480b::overdriveTiming() const
{
    return m_speed == kSpeedOverdrive;
}

void Ds2480b::setStrongPullup(bool armed)
{
    m_armed = armed;
    if (armed || !m_pullupOn || !ready())
        return;
    QByteArray out;
    endPullup(&out);
    QByteArray answer;
    if (!exchange(out, 1, 0, &answer))
        fail();
}

int Ds2480b::touchBlock(uint8_t *bytes, int length)
{
    return runBlock(bytes, length, false);
}

int Ds2480b::touchBlockThenReadBit(uint8_t *bytes, int length)
{
    return runBlock(bytes, length, true);
}

int Ds2480b::runBlock(uint8_t *bytes, int length, bool readBit)
{
    if (length <= 0 && !readBit)
        return length;
    if (length < 0 || !ready())
        return -1;
    int done = 0;
    if (m_armed && length > 0) {
        // The pull-up follows the first byte alone.
        const int read = touchByte(bytes[0]);
        if (read < 0)
            return -1;
        bytes[0] = uint8_t(read);
        done = 1;
    }
    if (done == length)
        return readBit ? touchBit(1) : length;
    const int count = length - done;
    QByteArray out;
    const int pulses = endPullup(&out);
    enterDataMode(&out);
    appendData(&out, bytes + done, count);
    const uint8_t bitCommand = uint8_t(kSingleBit | kBitOne | m_speed);
    if (readBit) {
        enterCommandMode(&out);
        out.append(char(bitCommand));
    }
    QByteArray answer;
    if (!exchange(out, pulses, count + (readBit ? 1 : 0), &answer))
        return fail();
    for (int i = done; i < length; ++i) {
        const uint8_t read = uint8_t(answer.at(i - done));
        // A bit written as 0 holds the line low: an echo with a 1 there is garbled.
        if (read & ~bytes[i])
            return fail();
    }
    const int bit = readBit ? bitAnswer(bitCommand, uint8_t(answer.at(count))) : 0;
    if (bit < 0)
        return fail();
    if (!readBit)
        noteLastByte(bytes[length - 1], uint8_t(answer.at(count - 1)));
    for (int i = done; i < length; ++i)
        bytes[i] = uint8_t(answer.at(i - done));
    return readBit ? bit : length;
}

// 16 bytes out, 16 in: byte k covers ROM bits 4k..4k+3, two bits each, bit
// 2j+1 the direction (sent: the path; answered: the direction taken) and bit
// 2j (answered) the discrepancy flag.
void Ds2480b::appendAccelerated(QByteArray *out, const uint8_t path[8])
{
    uint8_t pathBytes[16] = {};
    for (int n = 0; n < 64; ++n) {
        if (romBit(path, n))
            pathBytes[n / 4] |= uint8_t(1 << (2 * (n % 4) + 1));
    }
    enterCommandMode(out);
    out->append(char(kAcceleratorOn | m_speed));
    enterDataMode(out);
    appendData(out, pathBytes, 16);
    enterCommandMode(out);
    out->append(char(kAcceleratorOff | m_speed));
}

int Ds2480b::decodeAccelerated(const char *answer, uint8_t rom[8], uint8_t discrepancies[8])
{
    for (int n = 0; n < 64; ++n) {
        const uint8_t a = uint8_t(answer[n / 4]);
        setRomBit(rom, n, (a >> (2 * (n % 4) + 1)) & 1);
        setRomBit(discrepancies, n, (a >> (2 * (n % 4))) & 1);
    }
    // Once no device answers, every later direction and flag reads 1: both
    // set at the last position mean the devices left during the pass.
    if (romBit(rom, 63) && romBit(discrepancies, 63))
        return 0;
    return 1;
}

int Ds2480b::searchTriplets(const uint8_t path[8], uint8_t rom[8], uint8_t discrepancies[8])
{
    std::memset(rom, 0, 8);
    std::memset(discrepancies, 0, 8);
    if (!ready())
        return -1;
    // The search command the caller has just sent: no device drives the line
    // while a command goes out, so its echo is the byte. One that differs
    // went onto the bus as another command (an Alarm Search garbled into
    // Skip ROM finds no device in alarm), or its answer is garbled.
    if ((m_lastByte == RomCommand::kSearch || m_lastByte == RomCommand::kAlarmSearch) && m_lastEcho != m_lastByte)
        return fail();
    QByteArray out;
    const int pulses = endPullup(&out);
    appendAccelerated(&out, path);
    QByteArray answer;
    if (!exchange(out, pulses, 16, &answer))
        return fail();
    return decodeAccelerated(answer.constData(), rom, discrepancies);
}

// The reset, Search ROM and the accelerated pass go out in one write and
// come back in one read: the reset's answer is checked afterwards. Where no
// device answered, the pass ran on an empty bus and is dropped.
int Ds2480b::resetAndSearch(const uint8_t path[8], uint8_t rom[8], uint8_t discrepancies[8], uint8_t command)
{
    std::memset(rom, 0, 8);
    std::memset(discrepancies, 0, 8);
    if (!ready())
        return -1;
    QByteArray out;
    const int pulses = endPullup(&out);
    const int count = appendSearchPass(&out, path, command);
    QByteArray answer;
    if (!exchange(out, pulses, count, &answer))
        return fail();
    return searchPassResult(answer.constData(), command, rom, discrepancies);
}

int Ds2480b::appendSearchPass(QByteArray *out, const uint8_t path[8], uint8_t command)
{
    m_armed = false;
    enterCommandMode(out);
    out->append(char(kReset | m_speed));
    enterDataMode(out);
    out->append(char(command));
    appendAccelerated(out, path);
    return 2 + 16;
}

int Ds2480b::searchPassResult(const char *answer, uint8_t command, uint8_t rom[8], uint8_t discrepancies[8])
{
    const int presence = resetResult(uint8_t(answer[0]));
    if (presence <= 0)
        return presence < 0 ? fail() : 0;
    // Nobody drives the line while a command byte goes out: its echo is the byte.
    if (uint8_t(answer[1]) != command)
        return fail();
    return decodeAccelerated(answer + 2, rom, discrepancies);
}

// The run follows the pass in the same write, selected or not: where the
// pass did not end on `path` (the device is gone) the run reached the
// device the pass ended on, or none, and its answers are dropped.
int Ds2480b::resetAndSearchThenBlock(const uint8_t path[8], uint8_t rom[8], uint8_t discrepancies[8],
                                     uint8_t *bytes, int length)
{
    std::memset(rom, 0, 8);
    std::memset(discrepancies, 0, 8);
    if (length < 0 || !ready())
        return -1;
    QByteArray out;
    const int pulses = endPullup(&out);
    const int count = appendSearchPass(&out, path, RomCommand::kSearch);
    enterDataMode(&out);
    appendData(&out, bytes, length);
    QByteArray answer;
    if (!exchange(out, pulses, count + length, &answer))
        return fail();
    const int result = searchPassResult(answer.constData(), RomCommand::kSearch, rom, discrepancies);
    if (result <= 0 || std::memcmp(rom, path, 8) != 0)
        return result;
    for (int i = 0; i < length; ++i) {
        // A bit written as 0 holds the line low: an echo with a 1 there is garbled.
        if (uint8_t(answer.at(count + i)) & ~bytes[i])
            return fail();
    }
    if (length > 0)
        noteLastByte(bytes[length - 1], uint8_t(answer.at(count + length - 1)));
    for (int i = 0; i < length; ++i)
        bytes[i] = uint8_t(answer.at(count + i));
    return 1;
}

bool Ds2480b::probe(const QString &path, int timeoutMs, QString *why)
{
    Ds2480b master(path);
    master.setReadTimeoutMs(timeoutMs);
    const bool found = master.setUp();
    if (why)
        *why = master.problem();
    return found;
}
