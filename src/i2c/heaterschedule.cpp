#include "i2c/heaterschedule.h"

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
