#include "sensors/ds2408.h"

#include "base/clock.h"
#include "bus/crc.h"
#include "model/sensordevice.h"
#include "onewire/tmex.h"

#include <limits>

namespace {

const uint8_t kReadPioRegisters = 0xF0;
const uint16_t kPioLogicState = 0x0088;
const int kRegisters = 8; // 88h..8Fh: then the page ends with its CRC-16
const int kAttempts = 4;

} // namespace

const SensorTraits Ds2408::kTraits = SensorTraits("DS2408")
                                         .binary("sensed.0")
                                         .binary("sensed.1")
                                         .binary("sensed.2")
                                         .binary("sensed.3")
                                         .binary("sensed.4")
                                         .binary("sensed.5")
                                         .binary("sensed.6")
                                         .binary("sensed.7")
                                         .binary("latch.0")
                                         .binary("latch.1")
                                         .binary("latch.2")
                                         .binary("latch.3")
                                         .binary("latch.4")
                                         .binary("latch.5")
                                         .binary("latch.6")
                                         .binary("latch.7");

Ds2408::Ds2408(Tmex &tmex, int32_t *session, uint8_t *state, short *romBuffer)
    : m_tmex(tmex)
    , m_session(session)
    , m_state(state)
    , m_romBuffer(romBuffer)
{
}

int Ds2408::convertAndRead()
{
    m_read = false;
    int status = kNotSelected;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        QByteArray run = QByteArray(1, char(kReadPioRegisters)) + char(kPioLogicState & 0xFF)
                         + char(kPioLogicState >> 8) + QByteArray(kRegisters + 2, char(0xFF));
        // Only reads: the selection and the command go out together.
        if (!m_tmex.selectThenRun(*m_session, m_state, m_romBuffer, run)) {
            status = kNotSelected;
            continue;
        }
        if (!Crc::holdsInverted16(run)) {
            status = kBadRegisters;
            continue;
        }
        m_sensed = uint8_t(run.at(3));
        m_activity = uint8_t(run.at(5));
        m_read = true;
        m_time = Clock::now();
        return 1;
    }
    return status;
}

void Ds2408::fillChannels(SensorDevice &device)
{
    if (device.channels.size() != 16) {
        device.channels.clear();
        device.channels.resize(16);
    }
    static const char *const sensedTypes[8] = {
        QT_TRANSLATE_NOOP("SensorType", "DS2408 PIO 0 sensed"), QT_TRANSLATE_NOOP("SensorType", "DS2408 PIO 1 sensed"),
        QT_TRANSLATE_NOOP("SensorType", "DS2408 PIO 2 sensed"), QT_TRANSLATE_NOOP("SensorType", "DS2408 PIO 3 sensed"),
        QT_TRANSLATE_NOOP("SensorType", "DS2408 PIO 4 sensed"), QT_TRANSLATE_NOOP("SensorType", "DS2408 PIO 5 sensed"),
        QT_TRANSLATE_NOOP("SensorType", "DS2408 PIO 6 sensed"), QT_TRANSLATE_NOOP("SensorType", "DS2408 PIO 7 sensed"),
    };
    static const char *const latchTypes[8] = {
        QT_TRANSLATE_NOOP("SensorType", "DS2408 PIO 0 activity latch"),
        QT_TRANSLATE_NOOP("SensorType", "DS2408 PIO 1 activity latch"),
        QT_TRANSLATE_NOOP("SensorType", "DS2408 PIO 2 activity latch"),
        QT_TRANSLATE_NOOP("SensorType", "DS2408 PIO 3 activity latch"),
        QT_TRANSLATE_NOOP("SensorType", "DS2408 PIO 4 activity latch"),
        QT_TRANSLATE_NOOP("SensorType", "DS2408 PIO 5 activity latch"),
        QT_TRANSLATE_NOOP("SensorType", "DS2408 PIO 6 activity latch"),
        QT_TRANSLATE_NOOP("SensorType", "DS2408 PIO 7 activity latch"),
    };
    static const char *const marks[16] = {"P0", "P1", "P2", "P3", "P4", "P5", "P6", "P7",
                                          "L0", "L1", "L2", "L3", "L4", "L5", "L6", "L7"};
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (int i = 0; i < 16; ++i) {
        SensorChannel &channel = device.channels[i];
        const uint8_t bits = i < 8 ? m_sensed : m_activity;
        channel.value = m_read ? (bits >> (i % 8)) & 1 : nan;
        channel.time = m_time;
        channel.setNative(kTraits, uint8_t(i), 0.0, 1.0, i < 8 ? sensedTypes[i] : latchTypes[i - 8], marks[i]);
    }
}
