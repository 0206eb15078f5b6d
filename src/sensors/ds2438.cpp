#include "sensors/ds2438.h"

#include "bus/crc.h"
#include "model/sensordevice.h"
#include "onewire/tmex.h"
#include "base/clock.h"

#include <limits>

namespace {

const uint8_t kConvertT = 0x44;
const uint8_t kConvertV = 0xB4;
const uint8_t kRecallMemory = 0xB8;
const uint8_t kReadScratchpad = 0xBE;
const uint8_t kWriteScratchpad = 0x4E;
const uint8_t kAdBit = 0x08; // status/configuration: 1 converts VDD, 0 VAD
const uint8_t kBusyFlags = 0x50; // TB (bit 4) and ADB (bit 6): a conversion runs
const int kAttempts = 4;
const int kBusyReads = 3;
const double kNaN = std::numeric_limits<double>::quiet_NaN();

int16_t wordAt(const QByteArray &page, int index)
{
    return int16_t((uint8_t(page.at(index + 1)) << 8) | uint8_t(page.at(index)));
}

// The voltage register holds 10 bits (bits 15..10 read 0), the current
// register 10 bits sign-extended (bits 15..10 all alike), the temperature
// 13 bits (bits 2..0 read 0): what breaks these is a garble the CRC missed.
bool fixedBitsHold(const QByteArray &page)
{
    const uint8_t currentHigh = uint8_t(page.at(6)) & 0xFC;
    return (uint8_t(page.at(1)) & 0x07) == 0 && (uint8_t(page.at(4)) & 0xFC) == 0
        && (currentHigh == 0 || currentHigh == 0xFC);
}

} // namespace

const SensorTraits Ds2438::kTraits = SensorTraits("DS2438")
                                         .channel("C", "°C", Quantity::Temperature)
                                         .property("temperature")
                                         .channel("V", "V", Quantity::Voltage)
                                         .property("VDD")
                                         .channel("V", "V", Quantity::Voltage)
                                         .property("VAD")
                                         .channel("V", "V", Quantity::Voltage)
                                         .property("vis")
                                         .decimals(5)
                                         .channel("%RH", "%RH", Quantity::Humidity)
                                         .property("humidity HIH4000/humidity")
                                         .decimals(1)
                                         .wait("44", kConversionMs)
                                         .wait("B4", kConversionMs);

Ds2438::Ds2438(Tmex &tmex, int32_t *session, uint8_t *state, short *romBuffer)
    : m_tmex(tmex)
    , m_session(session)
    , m_state(state)
    , m_romBuffer(romBuffer)
    , m_celsius(kNaN)
    , m_vdd(kNaN)
    , m_vad(kNaN)
    , m_senseVolts(kNaN)
{
}

double Ds2438::humidityPercent(double vad, double vdd, double celsius)
{
    if (!(vdd > 0))
        return kNaN;
    const double sensorRh = (vad / vdd - 0.16) / 0.0062;
    return sensorRh / (1.0546 - 0.00216 * celsius);
}

bool Ds2438::send(const QByteArray &bytes, bool writes)
{
    // Eight transactions a read: the window gets its events between them.
    Clock::keepResponsive();
    QByteArray run = bytes;
    // A conversion or a recall may go out with the selection; a write waits
    // until the selection is known to have reached this device.
    if (!writes)
        return m_tmex.selectThenRun(*m_session, m_state, m_romBuffer, run);
    return m_tmex.selectDevice(*m_session, m_state, m_romBuffer) && m_tmex.blockIO(*m_session, run) == run.size();
}

void Ds2438::waitConverted()
{
    // Powered from VDD: no strong pull-up, the wait is the conversion time.
    m_tmex.waitKeepingSession(*m_session, kConversionMs);
}

bool Ds2438::readPage0(QByteArray *page)
{
    page->clear();
    if (!send(QByteArray(1, char(kRecallMemory)) + char(0x00)))
        return false;
    Clock::keepResponsive();
    QByteArray run = QByteArray(1, char(kReadScratchpad)) + char(0x00) + QByteArray(9, char(0xFF));
    if (!m_tmex.selectThenRun(*m_session, m_state, m_romBuffer, run))
        return false;
    const QByteArray bytes = run.mid(2);
    if (Crc::dallas8(bytes) == 0 && fixedBitsHold(bytes))
        *page = bytes.left(8);
    return true;
}

bool Ds2438::readConvertedPage0(QByteArray *page)
{
    // A page recalled while a conversion still runs holds the result before
    // it, with TB or ADB set: read again a conversion time later. Still busy
    // after that, the page is a bad one, never an old value taken for new.
    for (int read = 0; read < kBusyReads; ++read) {
        if (read > 0)
            waitConverted();
        if (!readPage0(page))
            return false;
        if (page->isEmpty() || (uint8_t(page->at(0)) & kBusyFlags) == 0)
            return true;
    }
    page->clear();
    return true;
}

int Ds2438::convertAndRead()
{
    m_celsius = m_vdd = m_vad = m_senseVolts = kNaN;
    int status = kNotSelected;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        // The input the AD bit selects now, then the temperature.
        if (!send(QByteArray(1, char(kConvertV)))) {
            status = kNotSelected;
            continue;
        }
        waitConverted();
        if (!send(QByteArray(1, char(kConvertT)))) {
            status = kNotSelected;
            continue;
        }
        waitConverted();
        QByteArray first;
        if (!readConvertedPage0(&first)) {
            status = kNotSelected;
            continue;
        }
        if (first.isEmpty()) {
            status = kBadPage;
            continue;
        }
        // The other input: only the configuration bits are written.
        const uint8_t configuration = uint8_t(first.at(0)) & 0x0F;
        const uint8_t flipped = configuration ^ kAdBit;
        if (!send(QByteArray(1, char(kWriteScratchpad)) + char(0x00) + char(flipped), true)) {
            status = kNotSelected;
            continue;
        }
        if (!send(QByteArray(1, char(kConvertV)))) {
            status = kNotSelected;
            continue;
        }
        waitConverted();
        QByteArray second;
        if (!readConvertedPage0(&second)) {
            status = kNotSelected;
            continue;
        }
        // A lost write would give the same input twice.
        if (second.isEmpty() || (uint8_t(second.at(0)) & kAdBit) != (flipped & kAdBit)) {
            status = kBadPage;
            continue;
        }
        const double firstVolts = wordAt(first, 3) * 0.01;
        const double secondVolts = wordAt(second, 3) * 0.01;
        const bool firstIsVdd = configuration & kAdBit;
        m_vdd = firstIsVdd ? firstVolts : secondVolts;
        m_vad = firstIsVdd ? secondVolts : firstVolts;
        m_celsius = wordAt(first, 1) / 256.0;
        m_senseVolts = wordAt(first, 5) * 0.0002441;
        m_time = Clock::now();
        return 1;
    }
    return status;
}

void Ds2438::fillChannels(SensorDevice &device)
{
    const int count = m_humidity ? 5 : 4;
    if (device.channels.size() != count) {
        device.channels.clear();
        device.channels.resize(count);
    }
    struct Fill
    {
        double value;
        double min;
        double max;
        const char *type;
        const char *mark;
    };
    const Fill fills[5] = {
        {m_celsius, -55.0, 125.0, QT_TRANSLATE_NOOP("SensorType", "DS2438 Temperature sensor"), "T"},
        {m_vdd, 0.0, 10.23, QT_TRANSLATE_NOOP("SensorType", "DS2438 Supply voltage VDD"), "VDD"},
        {m_vad, 0.0, 10.23, QT_TRANSLATE_NOOP("SensorType", "DS2438 A/D input voltage VAD"), "VAD"},
        {m_senseVolts, -0.25, 0.25, QT_TRANSLATE_NOOP("SensorType", "DS2438 Current sense voltage"), "VIS"},
        {humidityPercent(m_vad, m_vdd, m_celsius), 0.0, 100.0,
         QT_TRANSLATE_NOOP("SensorType", "DS2438 Humidity (HIH-4000)"), "RH"},
    };
    for (int i = 0; i < count; ++i) {
        SensorChannel &channel = device.channels[i];
        channel.value = fills[i].value;
        channel.time = m_time;
        channel.setNative(kTraits, uint8_t(i), fills[i].min, fills[i].max, fills[i].type, fills[i].mark);
    }
}
