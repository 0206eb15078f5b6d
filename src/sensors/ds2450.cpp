#include "sensors/ds2450.h"

#include "base/clock.h"
#include "bus/crc.h"
#include "model/sensordevice.h"
#include "onewire/tmex.h"

#include <cmath>
#include <limits>

namespace {

const uint8_t kReadMemory = 0xAA;
const uint8_t kConvert = 0x3C;
const uint8_t kAllChannels = 0x0F;
const uint8_t kNoPreset = 0x00;
const uint16_t kControlStatus = 0x08; // page 1; pages 2 (alarms) and 3 (calibration) follow
const int kVccPowered = 0x40;         // byte 1Ch, the fifth of page 3
const int kAttempts = 4;
const double kNaN = std::numeric_limits<double>::quiet_NaN();

int bitsOf(uint8_t controlLow)
{
    const int code = controlLow & 0x0F;
    return code == 0 ? 16 : code;
}

} // namespace

const SensorTraits Ds2450::kTraits = SensorTraits("DS2450")
                                         .channel("V", "V", Quantity::Voltage)
                                         .property("volt.A")
                                         .decimals(4)
                                         .channel("V", "V", Quantity::Voltage)
                                         .property("volt.B")
                                         .decimals(4)
                                         .channel("V", "V", Quantity::Voltage)
                                         .property("volt.C")
                                         .decimals(4)
                                         .channel("V", "V", Quantity::Voltage)
                                         .property("volt.D")
                                         .decimals(4)
                                         .wait("3C", 6); // four channels at 16 bits: 5.28 ms

Ds2450::Ds2450(Tmex &tmex, int32_t *session, uint8_t *state, short *romBuffer)
    : m_tmex(tmex)
    , m_session(session)
    , m_state(state)
    , m_romBuffer(romBuffer)
{
    for (int i = 0; i < 4; ++i)
        m_volts[i] = m_rangeVolts[i] = kNaN;
}

int Ds2450::conversionMs(const int bits[4])
{
    int us = 160;
    for (int i = 0; i < 4; ++i)
        us += 80 * bits[i];
    return (us + 999) / 1000;
}

// Read Memory from `address` to the end of its page and `pages` - 1 pages
// more: each page ends in its complemented CRC-16, the first over the
// command, the address and the data, the others over their data alone.
bool Ds2450::readMemory(uint16_t address, int pages, QByteArray *data)
{
    data->clear();
    Clock::keepResponsive(); // between the read's transactions, the window's events
    const QByteArray head = QByteArray(1, char(kReadMemory)) + char(address & 0xFF) + char(address >> 8);
    const int first = 8 - (address & 7);
    QByteArray run = head + QByteArray(first + 2 + (pages - 1) * 10, char(0xFF));
    // Only a read: the selection and the command go out together.
    if (!m_tmex.selectThenRun(*m_session, m_state, m_romBuffer, run))
        return false;
    QByteArray bytes;
    if (!Crc::holdsInverted16(run.left(3 + first + 2)))
        return true;
    bytes = run.mid(3, first);
    for (int page = 1; page < pages; ++page) {
        const QByteArray next = run.mid(3 + first + 2 + (page - 1) * 10, 10);
        if (!Crc::holdsInverted16(next))
            return true;
        bytes += next.left(8);
    }
    *data = bytes;
    return true;
}

int Ds2450::convert(bool powered, int waitMs)
{
    Clock::keepResponsive();
    if (!m_tmex.selectDevice(*m_session, m_state, m_romBuffer))
        return kNotSelected;
    QByteArray run = QByteArray(1, char(kConvert)) + char(kAllChannels) + char(kNoPreset) + QByteArray(2, char(0xFF));
    if (powered) {
        if (m_tmex.blockIO(*m_session, run) != run.size())
            return kNotSelected;
    } else {
        // A chip without VCC converts on the strong pull-up's current, which
        // must start right after the last byte of the command's CRC.
        QByteArray head = run.left(4);
        if (m_tmex.blockIO(*m_session, head) != head.size())
            return kNotSelected;
        if (m_tmex.TMOneWireLevel(*m_session, 0, 1, 2) < 0) {
            m_tmex.TMOneWireLevel(*m_session, 0, 0, 0);
            return kNoPullup; // the next reset abandons the command
        }
        const short last = m_tmex.TMTouchByte(*m_session, 0xFF);
        run = head + char(last);
    }
    const bool taken = Crc::holdsInverted16(run);
    m_tmex.waitKeepingSession(*m_session, waitMs);
    if (!powered)
        m_tmex.TMOneWireLevel(*m_session, 0, 0, 0);
    return taken ? 1 : kBadMemory;
}

int Ds2450::convertAndRead()
{
    for (int i = 0; i < 4; ++i)
        m_volts[i] = m_rangeVolts[i] = kNaN;
    int status = kNotSelected;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        QByteArray setup;
        if (!readMemory(kControlStatus, 3, &setup)) {
            status = kNotSelected;
            continue;
        }
        // Bits 5..4 of each channel's first byte and bits 6 and 1 of its
        // second always read 0.
        bool sound = setup.size() == 24;
        int bits[4] = {16, 16, 16, 16};
        double range[4];
        for (int i = 0; sound && i < 4; ++i) {
            const uint8_t low = uint8_t(setup.at(2 * i));
            const uint8_t high = uint8_t(setup.at(2 * i + 1));
            sound = (low & 0x30) == 0 && (high & 0x42) == 0;
            bits[i] = bitsOf(low);
            range[i] = (high & 0x01) ? 5.12 : 2.56;
        }
        if (!sound) {
            status = kBadMemory;
            continue;
        }
        const bool powered = uint8_t(setup.at(16 + 4)) == kVccPowered;
        const int converted = convert(powered, conversionMs(bits));
        if (converted == kNoPullup)
            return converted; // no attempt would do better
        if (converted != 1) {
            status = converted;
            continue;
        }
        QByteArray results;
        if (!readMemory(0x00, 1, &results)) {
            status = kNotSelected;
            continue;
        }
        // Below the resolution the result is filled with zeros.
        sound = results.size() == 8;
        uint16_t raw[4] = {};
        for (int i = 0; sound && i < 4; ++i) {
            raw[i] = uint16_t((uint8_t(results.at(2 * i + 1)) << 8) | uint8_t(results.at(2 * i)));
            sound = bits[i] == 16 || (raw[i] & ((1u << (16 - bits[i])) - 1)) == 0;
        }
        if (!sound) {
            status = kBadMemory;
            continue;
        }
        for (int i = 0; i < 4; ++i) {
            m_volts[i] = raw[i] * range[i] / 65536.0;
            m_rangeVolts[i] = range[i];
        }
        m_time = Clock::now();
        return 1;
    }
    return status;
}

void Ds2450::fillChannels(SensorDevice &device)
{
    if (device.channels.size() != 4) {
        device.channels.clear();
        device.channels.resize(4);
    }
    static const char *const types[4] = {
        QT_TRANSLATE_NOOP("SensorType", "DS2450 A/D input A"),
        QT_TRANSLATE_NOOP("SensorType", "DS2450 A/D input B"),
        QT_TRANSLATE_NOOP("SensorType", "DS2450 A/D input C"),
        QT_TRANSLATE_NOOP("SensorType", "DS2450 A/D input D"),
    };
    static const char *const marks[4] = {"A", "B", "C", "D"};
    for (int i = 0; i < 4; ++i) {
        SensorChannel &channel = device.channels[i];
        channel.value = m_volts[i];
        channel.time = m_time;
        const double top = std::isnan(m_rangeVolts[i]) ? 5.12 : m_rangeVolts[i];
        channel.setNative(kTraits, uint8_t(i), 0.0, top, types[i], marks[i]);
    }
}
