#include "sensors/ds18x20.h"

#include "bus/crc.h"
#include "bus/romcommands.h"
#include "onewire/tmex.h"
#include "base/clock.h"
#include "model/sensordevice.h"

#include <algorithm>
#include <limits>

namespace {

const short kConvertT = 0x44;
const uint8_t kReadScratchpad = 0xBE;
const uint8_t kWriteScratchpad = 0x4E;
const short kCopyScratchpad = 0x48;
const uint8_t kTwelveBits = 0x7F;
const int kAttempts = 4;
const int kScratchpadSize = 9;

// The bytes the datasheets fix: byte 5 reads FFh and byte 7 10h on every
// chip; the configuration byte's fixed bits are the family's (the DS18B20's
// bits 0..4 set and bit 7 clear, the DS18S20's byte 4 FFh). A scratchpad
// that breaks them passed its CRC by chance (a shifted answer) or comes
// from a clone.
bool datasheetBytes(const QByteArray &scratchpad, const Ds18x20::Family &family)
{
    const uint8_t configuration = uint8_t(scratchpad.at(4));
    return (configuration & family.configurationMask) == family.configurationFixed
        && uint8_t(scratchpad.at(5)) == 0xFF && uint8_t(scratchpad.at(7)) == 0x10;
}

} // namespace

Ds18x20::Ds18x20(const Family &family, Tmex &tmex, int32_t *session, uint8_t *state, short *romBuffer)
    : m_family(family)
    , m_tmex(tmex)
    , m_session(session)
    , m_state(state)
    , m_romBuffer(romBuffer)
    , m_value(std::numeric_limits<double>::quiet_NaN())
{
}

double Ds18x20::alarmCelsius(uint8_t byte)
{
    if (byte == 0xFF)
        return 125.0;
    if (byte & 0x80)
        return -(256.0 - byte);
    return byte;
}

void Ds18x20::waitWhileBusy(int ms)
{
    m_tmex.waitKeepingSession(*m_session, ms);
}

void Ds18x20::convert()
{
    // Parasite-powered chips draw their conversion current through the strong
    // pull-up, armed here to start right after the command byte.
    m_tmex.TMOneWireLevel(*m_session, 0, 1, 2);
    m_tmex.TMTouchByte(*m_session, kConvertT);
    // A master that converted the whole bus before it returned (the
    // kernel's bulk conversion) has waited already.
    if (!m_tmex.conversionFinished())
        waitWhileBusy(m_waitMs);
    m_tmex.TMOneWireLevel(*m_session, 0, 0, 0);
}

bool Ds18x20::readScratchpad()
{
    // The selection, the command and the nine read slots in one call: an
    // adapter that carries them in one exchange waits for its answers once.
    // (Read Scratchpad only reads, so it may go out before the selection is
    // known to have succeeded.)
    QByteArray run(1 + kScratchpadSize, char(0xFF));
    run[0] = char(kReadScratchpad);
    m_scratchpad.clear();
    if (m_tmex.strongAccessThenBlock(*m_session, m_state, run) < 1 || uint8_t(run.at(0)) != kReadScratchpad)
        return false;
    m_scratchpad = run.mid(1);
    return true;
}

bool Ds18x20::readAgreeing(bool *agree)
{
    const QByteArray first = m_scratchpad;
    if (!readScratchpad())
        return false;
    *agree = m_scratchpad == first;
    return true;
}

bool Ds18x20::storeTwelveBits()
{
    // TH and TL go into the EEPROM: they come from two reads that agree, and
    // what was written is read back before the copy.
    bool agree = false;
    if (!readAgreeing(&agree))
        return false;
    if (!agree)
        return true;
    const QByteArray before = m_scratchpad;
    if (m_tmex.TMStrongAccess(*m_session, m_state) < 1)
        return false;
    unsigned char run[] = {kWriteScratchpad, uint8_t(before.at(2)), uint8_t(before.at(3)), kTwelveBits};
    if (m_tmex.TMBlockIO(*m_session, run, short(sizeof run)) != short(sizeof run))
        return false;
    if (!readScratchpad())
        return false;
    const QByteArray written = m_scratchpad;
    m_scratchpad = before;
    QByteArray check = written;
    if (m_tmex.TMCRC(short(check.size()), reinterpret_cast<unsigned char *>(check.data()), 0, 0) != 0
        || written.mid(2, 2) != before.mid(2, 2) || uint8_t(written.at(4)) != kTwelveBits)
        return true; // not copied; the next read tries again
    if (m_tmex.TMStrongAccess(*m_session, m_state) < 1)
        return false;
    copyScratchpad();
    return true;
}

void Ds18x20::copyScratchpad()
{
    // A parasite-powered chip writes its EEPROM on the pull-up's current,
    // which must start right after the command byte; without it the copy
    // is lost.
    m_tmex.TMOneWireLevel(*m_session, 0, 1, 2);
    m_tmex.TMTouchByte(*m_session, kCopyScratchpad);
    waitWhileBusy(kCopyMs);
    m_tmex.TMOneWireLevel(*m_session, 0, 0, 0);
}

bool Ds18x20::scratchpadSound()
{
    QByteArray check = m_scratchpad;
    if (check.size() != kScratchpadSize
        || m_tmex.TMCRC(short(check.size()), reinterpret_cast<unsigned char *>(check.data()), 0, 0) != 0)
        return false;
    if (datasheetBytes(m_scratchpad, m_family))
        return true;
    bool agree = false;
    return readAgreeing(&agree) && agree;
}

int Ds18x20::writeThresholds(int highCelsius, int lowCelsius)
{
    if (highCelsius < kLowestThreshold || highCelsius > kHighestThreshold || lowCelsius < kLowestThreshold
        || lowCelsius > kHighestThreshold || lowCelsius > highCelsius)
        return kThresholdsOutOfRange;
    if (m_tmex.TMRom(*m_session, m_state, m_romBuffer) < 1)
        return kNotSelected;
    // The configuration byte is written back as the device has it, so it
    // comes from a read that passed its checks.
    if (!readScratchpad())
        return kNotSelected;
    if (!scratchpadSound())
        return kBadScratchpad;
    QByteArray run;
    run.append(char(kWriteScratchpad));
    run.append(char(thresholdByte(highCelsius)));
    run.append(char(thresholdByte(lowCelsius)));
    if (m_family.hasConfiguration)
        run.append(m_scratchpad.at(4));
    const QByteArray expected = run.mid(1);
    if (m_tmex.TMStrongAccess(*m_session, m_state) < 1 || m_tmex.blockIO(*m_session, run) != run.size())
        return kNotSelected;
    if (!readScratchpad())
        return kNotSelected;
    QByteArray check = m_scratchpad;
    if (m_tmex.TMCRC(short(check.size()), reinterpret_cast<unsigned char *>(check.data()), 0, 0) != 0
        || m_scratchpad.mid(2, expected.size()) != expected)
        return kReadBackDiffers;
    if (m_tmex.TMStrongAccess(*m_session, m_state) < 1)
        return kNotSelected;
    copyScratchpad();
    return 1;
}

int Ds18x20::convertAndRead(double *out, int mode)
{
    *out = std::numeric_limits<double>::quiet_NaN();
    m_value = *out;
    int status = kNotSelected;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const int previous = status;
        if (previous == kPowerOnValue || previous == kSuspectCount) {
            // A suspicious reading is measured again by this device alone.
            if (!m_tmex.selectDevice(*m_session, m_state, m_romBuffer)) {
                status = kNotSelected;
                mode = ConvertThis;
                continue;
            }
            convert();
            mode = ConvertThis;
        } else {
            if (m_tmex.TMRom(*m_session, m_state, m_romBuffer) < 1) {
                status = kNotSelected;
                continue;
            }
            if (mode == ConvertThis) {
                if (m_tmex.TMStrongAccess(*m_session, m_state) < 1) {
                    status = kNotSelected;
                    continue;
                }
                convert();
            } else if (mode == ConvertAll) {
                m_tmex.TMTouchReset(*m_session);
                m_tmex.TMTouchByte(*m_session, RomCommand::kSkip);
                convert();
                mode = ConvertThis;
            }
        }

        if (!readScratchpad()) {
            status = kNotSelected;
            continue;
        }
        const int verdict = m_family.check(m_tmex, m_scratchpad, previous);
        if (verdict != 0) {
            status = verdict;
            continue;
        }
        // Broken fixed bytes: taken only when a second read agrees (a clone's
        // own reserved bytes do, a shifted answer does not).
        if (!datasheetBytes(m_scratchpad, m_family)) {
            bool agree = false;
            if (!readAgreeing(&agree)) {
                status = kNotSelected;
                continue;
            }
            if (!agree) {
                status = kBadScratchpad;
                continue;
            }
        }
        // What the chip cannot measure is a scratchpad garbled in a way its
        // CRC did not catch (1 in 256 garbles pass it).
        const double celsius = m_family.temperature(m_scratchpad);
        if (!(celsius >= m_family.minCelsius && celsius <= m_family.maxCelsius)) {
            status = kBadScratchpad;
            continue;
        }
        if (m_family.forcesTwelveBits && uint8_t(m_scratchpad.at(4)) != kTwelveBits && !storeTwelveBits()) {
            status = kNotSelected;
            continue;
        }
        m_value = celsius;
        *out = m_value;
        m_time = Clock::now();
        return 1;
    }
    return status;
}

void Ds18x20::fillChannels(SensorDevice &device)
{
    if (device.channels.size() > 1)
        device.channels.remove(0, device.channels.size() - 1);
    if (device.channels.isEmpty())
        device.channels.append(SensorChannel());
    SensorChannel &channel = device.channels[0];
    channel.value = m_value;
    channel.time = m_time;
    // TH and TL only from bytes whose CRC holds: a garbled answer would show
    // (and the window would offer to keep) thresholds the device never had.
    if (m_scratchpad.size() == kScratchpadSize && Crc::dallas8(m_scratchpad) == 0) {
        channel.alarmHigh = alarmCelsius(uint8_t(m_scratchpad.at(2)));
        channel.alarmLow = alarmCelsius(uint8_t(m_scratchpad.at(3)));
    }
    channel.setNativeTemperature(m_family.minCelsius, m_family.maxCelsius, 0);
    channel.traits = m_family.traits;
    channel.type = QString::fromLatin1(m_family.channelType);
    // The pins hard-wire where the probe sits: the type tells them (AD3..AD0).
    if (m_family.addressPins && m_scratchpad.size() == kScratchpadSize)
        channel.type += QStringLiteral(", address %1").arg(uint8_t(m_scratchpad.at(4)) & 0x0F);
}
