#include "sensors/ds2423.h"

#include "base/clock.h"
#include "bus/crc.h"
#include "model/sensordevice.h"
#include "onewire/tmex.h"

#include <limits>

namespace {

const uint8_t kReadMemoryCounter = 0xA5;
// The last byte of page 14: the read then ends the page with counter A and
// goes on through page 15 to counter B.
const uint16_t kLastOfPage14 = 14 * 32 + 31;
const int kPageBytes = 32;
const int kAttempts = 4;

uint32_t countAt(const QByteArray &bytes, int index)
{
    uint32_t count = 0;
    for (int i = 3; i >= 0; --i)
        count = count << 8 | uint8_t(bytes.at(index + i));
    return count;
}

} // namespace

const SensorTraits Ds2423::kTraits = SensorTraits("DS2423").counter("counter.A").counter("counter.B");

Ds2423::Ds2423(Tmex &tmex, int32_t *session, uint8_t *state, short *romBuffer)
    : m_tmex(tmex)
    , m_session(session)
    , m_state(state)
    , m_romBuffer(romBuffer)
{
}

bool Ds2423::follows(int64_t last, uint32_t count)
{
    return last < 0 || uint32_t(count - uint32_t(last)) < 0x80000000u;
}

int Ds2423::convertAndRead()
{
    m_read = false;
    int status = kNotSelected;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        // Page 14's last byte, counter A, 4 zero bytes, CRC; then page 15's
        // 32 bytes, counter B, 4 zero bytes, CRC: one run.
        const QByteArray head = QByteArray(1, char(kReadMemoryCounter)) + char(kLastOfPage14 & 0xFF)
                                + char(kLastOfPage14 >> 8);
        QByteArray run = head + QByteArray(1 + 4 + 4 + 2 + kPageBytes + 4 + 4 + 2, char(0xFF));
        // Only reads: the selection and the command go out together.
        if (!m_tmex.selectThenRun(*m_session, m_state, m_romBuffer, run)) {
            status = kNotSelected;
            continue;
        }
        const QByteArray first = run.left(3 + 1 + 8 + 2);
        const QByteArray second = run.mid(first.size());
        const bool zeros = countAt(first, 3 + 1 + 4) == 0 && countAt(second, kPageBytes + 4) == 0;
        if (!zeros || !Crc::holdsInverted16(first) || !Crc::holdsInverted16(second)) {
            status = kBadMemory;
            continue;
        }
        m_counts[0] = countAt(first, 3 + 1);
        m_counts[1] = countAt(second, kPageBytes);
        m_read = true;
        m_time = Clock::now();
        return 1;
    }
    return status;
}

bool Ds2423::fillChannels(SensorDevice &device)
{
    int64_t last[2] = {-1, -1};
    if (device.channels.size() == 2) {
        last[0] = device.channels.at(0).lastCount;
        last[1] = device.channels.at(1).lastCount;
    } else {
        device.channels.clear();
        device.channels.resize(2);
    }
    static const char *const types[2] = {
        QT_TRANSLATE_NOOP("SensorType", "DS2423 Counter A"),
        QT_TRANSLATE_NOOP("SensorType", "DS2423 Counter B"),
    };
    static const char *const marks[2] = {"A", "B"};
    bool wentBack = false;
    for (int i = 0; i < 2; ++i) {
        SensorChannel &channel = device.channels[i];
        channel.value = std::numeric_limits<double>::quiet_NaN();
        if (m_read) {
            if (follows(last[i], m_counts[i]))
                channel.value = m_counts[i];
            else
                wentBack = true;
            channel.lastCount = m_counts[i];
        }
        channel.time = m_time;
        channel.setNative(kTraits, uint8_t(i), 0.0, 4294967295.0, types[i], marks[i]);
    }
    return wentBack;
}
