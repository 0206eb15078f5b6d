#include "i2c/heaterschedule.h"

namespace {

int32_t &pauseSeconds()
{
    static int32_t seconds = 0;
    return seconds;
}

int32_t &onTimeSeconds()
{
    static int32_t seconds = 0;
    return seconds;
}

} // namespace

HeaterSchedule &HeaterSchedules::of(uint64_t serial)
{
    auto it = m_schedules.find(serial);
    if (it == m_schedules.end()) {
        HeaterSchedule schedule;
        schedule.nextOn = QDateTime::fromSecsSinceEpoch(0);
        schedule.offAt = schedule.nextOn;
        it = m_schedules.insert(serial, schedule);
    }
    return it.value();
}

const HeaterSchedule *HeaterSchedules::find(uint64_t serial) const
{
    const auto it = m_schedules.constFind(serial);
    return it == m_schedules.constEnd() ? nullptr : &it.value();
}

int32_t shtHeaterPause()
{
    return pauseSeconds();
}

int32_t shtHeaterOnTime()
{
    return onTimeSeconds();
}

void setHeaterPause(int seconds)
{
    pauseSeconds() = seconds;
}

void setHeaterOnTime(int seconds)
{
    onTimeSeconds() = seconds;
}
