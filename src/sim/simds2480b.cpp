#include "sim/simds2480b.h"

#include "base/clock.h"
#include "sim/simbus.h"

#include <algorithm>

namespace {

// Strong pull-up durations of the SPUD parameter (value codes 000..101), µs;
// 110 must not be used, 111 is infinite.
const qint64 kSpudUs[6] = {16400, 65500, 131000, 262000, 524000, 1048000};
const int kSpud = 3;
const int kInfinite = 7;

const uint8_t kDataMode = 0xE1;
const uint8_t kCommandMode = 0xE3;
const uint8_t kEndPulse = 0xF1;
// The pulse response after a single bit's strong pull-up: 111 like the
// answer to a Pulse command (its code with bits 1..0 = 0).
const uint8_t kPulseAnswer = 0xEC;
const int kOverdrive = 2; // speed bits SS = 10
const int kBaudRate = 7;  // parameter RBR
const int kBauds[4] = {9600, 19200, 57600, 115200};

// Power-on value codes by parameter (the datasheet's defaults): PPD 512 µs
// and SPUD 524 ms, every other parameter 000 (15 V/µs, 8 µs, 3 µs, 1.8 mA,
// 9600 baud).
const int kPowerOnCodes[8] = {0, 0, 4, 4, 0, 0, 0, 0};

QString hexByte(uint8_t b)
{
    return QString::number(b, 16).toUpper().rightJustified(2, QLatin1Char('0'));
}

bool isSingleBit(uint8_t b)
{
    return (b & 0xE1) == 0x81;
}

} // namespace

SimDs2480b::SimDs2480b(SimBus *bus)
    : m_bus(bus)
{
    powerOn();
}

void SimDs2480b::powerOn()
{
    m_state = State::AwaitTiming;
    for (int p = 0; p < 8; ++p)
        m_parameters[p] = kPowerOnCodes[p];
    m_accelerator = false;
    m_armedPullup = false;
    m_masterResets = 0;
    m_violations.clear();
    m_speed = 0;
    if (m_pulse)
        m_bus->setStrongPullup(false);
    m_pulse = false;
}

void SimDs2480b::masterReset()
{
    const int resets = m_masterResets;
    const QStringList violations = m_violations;
    powerOn();
    m_masterResets = resets + 1;
    m_violations = violations;
}

int SimDs2480b::baud() const
{
    return kBauds[m_parameters[kBaudRate] & 3];
}

void SimDs2480b::violation(const QString &what)
{
    m_violations << what;
}

void SimDs2480b::clearLog()
{
    m_hostLog.clear();
    m_answerLog.clear();
}

void SimDs2480b::answer(uint8_t b)
{
    const qint64 index = m_answerCount++;
    if (index == m_noiseAt)
        m_out.append(char(m_noise));
    if (index == m_dropAt)
        return;
    b ^= m_corrupt.take(index);
    m_out.append(char(b));
}

QByteArray SimDs2480b::receive(const QByteArray &fromHost)
{
    m_hostLog += fromHost;
    m_out.clear();
    m_in = fromHost;
    m_arrived = 0;
    m_chunkStartUs = Clock::tickUs();
    if (m_silent) {
        arrive(m_in.size() - 1);
        return m_out;
    }
    for (m_pos = 0; m_pos < m_in.size(); ++m_pos) {
        arrive(m_pos);
        const uint8_t b = uint8_t(m_in.at(m_pos));
        if (!lineByte(b))
            continue;
        switch (m_state) {
        case State::AwaitTiming:
            // The first byte after a reset sets the chip's timing; no answer.
            // The datasheet has it be a reset command.
            if ((b & 0xE3) != 0xC1)
                violation(QStringLiteral("the first byte after a reset is %1, not a reset command").arg(hexByte(b)));
            m_state = State::Command;
            break;
        case State::Command:
            command(b);
            break;
        case State::Data:
            if (b == kCommandMode)
                m_state = State::Check;
            else
                dataByte(b);
            break;
        case State::Check:
            // E3 E3 is the data byte E3; E3 and anything else is a command.
            if (b == kCommandMode) {
                m_state = State::Data;
                dataByte(b);
            } else {
                m_state = State::Command;
                command(b);
            }
            break;
        }
    }
    m_answerLog += m_out;
    return m_out;
}

bool SimDs2480b::lineByte(uint8_t b)
{
    const int chipBaud = baud();
    if (m_hostBaud <= 0 || m_hostBaud == chipBaud)
        return true;
    // At half the rate or slower a NUL holds the line low longer than a
    // character: a master reset. Anything else at a foreign rate is garbage.
    if (b == 0 && 2 * m_hostBaud <= chipBaud) {
        masterReset();
        return false;
    }
    violation(QStringLiteral("byte %1 sent at %2 baud to a chip at %3 baud").arg(hexByte(b)).arg(m_hostBaud).arg(chipBaud));
    return false;
}

// Byte `index` of m_in has come in when its last bit has: the line carries
// them one after another from the start of the write. The chip takes it
// when it is done with the one before; meanwhile it waits in the one-byte
// buffer, and a byte that comes while one still waits there overruns it.
void SimDs2480b::arrive(int index)
{
    if (index < m_arrived || m_byteUs <= 0) {
        m_arrived = std::max(m_arrived, index + 1);
        return;
    }
    for (int i = m_arrived; i <= index; ++i) {
        const qint64 arrivalUs = m_chunkStartUs + (i + 1) * m_byteUs;
        const qint64 nowUs = Clock::tickUs();
        if (nowUs < arrivalUs)
            Clock::spendUs(arrivalUs - nowUs);
        else if (nowUs > arrivalUs + m_byteUs)
            violation(QStringLiteral("byte %1 of a write came while the input buffer was full").arg(i));
    }
    m_arrived = index + 1;
}

void SimDs2480b::command(uint8_t b)
{
    if (m_pulse) {
        // Only F1 ends an infinite pulse, with the pulse response as its only
        // answer; the chip hears nothing else meanwhile.
        if (b == kEndPulse)
            endPulse();
        return;
    }
    if ((b & 0x80) == 0) {
        configuration(b);
        return;
    }
    if ((b & 0x01) == 0)
        return; // not a command
    const int speed = (b >> 2) & 0x03;
    switch ((b >> 5) & 0x03) {
    case 0: // Single Bit
        m_speed = speed;
        singleBits(b);
        break;
    case 1: // Search Accelerator on or off; no answer
        m_speed = speed;
        m_accelerator = (b & 0x10) != 0;
        break;
    case 2: // 1-Wire Reset
        reset(speed);
        break;
    case 3:
        if (speed == 3) { // Pulse: its answer comes when it ends
            // Bit 1 arms (or disarms) the pull-up after every data byte.
            m_armedPullup = (b & 0x02) != 0;
            startPulse(uint8_t(b & 0xFC));
        } else if (b == kDataMode) {
            m_state = State::Data;
        }
        // E3 in command mode changes nothing; F1 without a pulse is ignored.
        break;
    }
}

// A standard reset brings every device back to standard speed. An overdrive
// reset puts the simulated bus at overdrive when every device on it can
// follow, and finds no presence (costing the time all the same) otherwise.
void SimDs2480b::reset(int speed)
{
    m_speed = speed;
    m_bus->setOverdriveTiming(speed == kOverdrive);
    int result = m_bus->reset() > 0 ? 1 : 3;
    if (m_resetResult >= 0)
        result = m_resetResult;
    // 110, chip revision 011, result.
    answer(uint8_t(0xCC | result));
}

bool SimDs2480b::devicesFollow() const
{
    return (m_speed == kOverdrive) == m_bus->overdrive();
}

int SimDs2480b::slot(int bit)
{
    if (devicesFollow())
        return m_bus->touchBit(bit);
    Clock::spendUs(SimBus::slotUs(m_speed == kOverdrive));
    return bit;
}

int SimDs2480b::byteSlots(int byte)
{
    if (devicesFollow())
        return m_bus->touchByte(byte);
    Clock::spendUs(8 * SimBus::slotUs(m_speed == kOverdrive));
    return byte;
}

void SimDs2480b::configuration(uint8_t b)
{
    if ((b & 0x01) == 0)
        return;
    const int parameter = (b >> 4) & 0x07;
    const int value = (b >> 1) & 0x07;
    if (parameter == 0) {
        answer(uint8_t(m_parameters[value] << 1));
        return;
    }
    m_parameters[parameter] = value;
    answer(uint8_t(b & 0xFE));
}

bool SimDs2480b::pulledByteAhead() const
{
    if (m_pos + 8 > m_in.size())
        return false;
    for (int i = 0; i < 8; ++i) {
        const uint8_t c = uint8_t(m_in.at(m_pos + i));
        if (!isSingleBit(c) || ((c & 0x02) != 0) != (i == 7))
            return false;
    }
    return true;
}

void SimDs2480b::singleBits(uint8_t b)
{
    if (pulledByteAhead()) {
        int byte = 0;
        for (int i = 0; i < 8; ++i)
            byte |= ((uint8_t(m_in.at(m_pos + i)) >> 4) & 1) << i;
        arrive(m_pos + 7);
        // Armed: the bus holds the pull-up from the end of this byte.
        m_bus->setStrongPullup(true);
        const int read = byteSlots(byte);
        for (int i = 0; i < 8; ++i)
            answer(uint8_t((uint8_t(m_in.at(m_pos + i)) & 0xFC) | (((read >> i) & 1) ? 0x03 : 0x00)));
        m_pos += 7;
        startPulse(kPulseAnswer);
        return;
    }
    const int read = slot((b >> 4) & 1);
    answer(uint8_t((b & 0xFC) | (read > 0 ? 0x03 : 0x00)));
    if (b & 0x02)
        startPulse(kPulseAnswer);
}

void SimDs2480b::startPulse(uint8_t pulseAnswer)
{
    m_pulse = true;
    m_pulseAnswer = pulseAnswer;
    if (m_parameters[kSpud] != kInfinite)
        endPulse();
}

// Ends the pulse that runs: a predefined duration is charged to the clock
// first. The chip then sends the pulse response.
void SimDs2480b::endPulse()
{
    const int code = m_parameters[kSpud];
    if (code < 6)
        Clock::spendUs(kSpudUs[code]);
    m_bus->setStrongPullup(false);
    m_pulse = false;
    answer(m_pulseAnswer);
}

void SimDs2480b::dataByte(uint8_t b)
{
    if (!m_accelerator) {
        if (m_armedPullup)
            m_bus->setStrongPullup(true);
        answer(uint8_t(byteSlots(b)));
        if (m_armedPullup) {
            // Armed: the predefined duration follows the byte (an infinite
            // one ends with the next byte from the host).
            const int code = m_parameters[kSpud];
            if (code < 6)
                Clock::spendUs(kSpudUs[code]);
            m_bus->setStrongPullup(false);
        }
        return;
    }
    // Search accelerator: the byte carries the preferred directions of four
    // ROM bits in bits 1, 3, 5, 7; each gives three time slots (the bit, its
    // complement, the direction taken) and comes back as the direction taken
    // (r') and the discrepancy flag (d) in bits 2j+1 and 2j. Once no device
    // answers, every later direction and flag is 1.
    uint8_t result = 0;
    for (int j = 0; j < 4; ++j) {
        const int preferred = (b >> (2 * j + 1)) & 1;
        const int idBit = slot(1);
        const int cmpBit = slot(1);
        int direction;
        int flag;
        if (idBit != cmpBit) {
            direction = idBit;
            flag = 0;
        } else if (idBit == 0) {
            direction = preferred;
            flag = 1;
        } else {
            direction = 1;
            flag = 1;
        }
        slot(direction);
        result |= uint8_t((direction << (2 * j + 1)) | (flag << (2 * j)));
    }
    answer(result);
}
