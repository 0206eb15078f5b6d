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

QMap<uint64_t, HeaterSchedule> &heaterSchedules()
{
    static QMap<uint64_t, HeaterSchedule> schedules;
    return schedules;
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
    for (HeaterSchedule &schedule : heaterSchedules())
        schedule.pause = seconds;
}

void setHeaterOnTime(int seconds)
{
    onTimeSeconds() = seconds;
    for (HeaterSchedule &schedule : heaterSchedules())
        schedule.onTime = seconds;
}
