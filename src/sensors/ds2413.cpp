#include "sensors/ds2413.h"

#include "base/clock.h"
#include "model/sensordevice.h"
#include "onewire/tmex.h"

#include <limits>

namespace {

const uint8_t kPioAccessRead = 0xF5;
const int kAttempts = 4;

} // namespace

// An output's state under the name Debian's owserver gives it (PIO.A: 1
// when the transistor is on; Home Assistant's switch reads it), and latch.A.
const SensorTraits Ds2413::kTraits = SensorTraits("DS2413")
                                         .binary("sensed.A")
                                         .binary("sensed.B")
                                         .binary("PIO.A latch.A")
                                         .binary("PIO.B latch.B");

Ds2413::Ds2413(Tmex &tmex, int32_t *session, uint8_t *state, short *romBuffer)
    : m_tmex(tmex)
    , m_session(session)
    , m_state(state)
    , m_romBuffer(romBuffer)
{
}

bool Ds2413::decode(uint8_t status, int states[4])
{
    if ((status & 0x0F) != ((~status >> 4) & 0x0F))
        return false;
    states[0] = status & 0x01;
    states[1] = (status >> 2) & 0x01;
    states[2] = (status & 0x02) ? 0 : 1;
    states[3] = (status & 0x08) ? 0 : 1;
    return true;
}

int Ds2413::convertAndRead()
{
    m_read = false;
    int status = kNotSelected;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        QByteArray run = QByteArray(1, char(kPioAccessRead)) + char(0xFF);
        // Only reads: the selection and the command go out together.
        if (!m_tmex.selectThenRun(*m_session, m_state, m_romBuffer, run)) {
            status = kNotSelected;
            continue;
        }
        if (!decode(uint8_t(run.at(1)), m_states)) {
            status = kBadState;
            continue;
        }
        m_read = true;
        m_time = Clock::now();
        return 1;
    }
    return status;
}

void Ds2413::fillChannels(SensorDevice &device)
{
    if (device.channels.size() != 4) {
        device.channels.clear();
        device.channels.resize(4);
    }
    static const char *const types[4] = {
        QT_TRANSLATE_NOOP("SensorType", "DS2413 PIO A sensed"),
        QT_TRANSLATE_NOOP("SensorType", "DS2413 PIO B sensed"),
        QT_TRANSLATE_NOOP("SensorType", "DS2413 PIO A output on"),
        QT_TRANSLATE_NOOP("SensorType", "DS2413 PIO B output on"),
    };
    static const char *const marks[4] = {"PA", "PB", "LA", "LB"};
    for (int i = 0; i < 4; ++i) {
        SensorChannel &channel = device.channels[i];
        channel.value = m_read ? m_states[i] : std::numeric_limits<double>::quiet_NaN();
        channel.time = m_time;
        channel.setNative(kTraits, uint8_t(i), 0.0, 1.0, types[i], marks[i]);
    }
}
