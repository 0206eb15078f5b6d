#pragma once

#include <QDateTime>
#include <QMap>
#include <cstdint>

// The heating plan of one SHT3x (under the "-sht" switch): the heater is
// switched on for `onTime` seconds, then left off for `pause` seconds, judged
// at each measurement of the sensor.
struct HeaterSchedule
{
    int32_t pause = 0;   // seconds off between heating periods
    int32_t onTime = 0;  // seconds on
    QDateTime nextOn;    // when the heater is next switched on
    QDateTime offAt;     // when the heater is switched off
};

// Every SHT3x seen since the start, by its identifier. Process-wide, GUI
// thread only; an entry lives until the program ends.
QMap<uint64_t, HeaterSchedule> &heaterSchedules();

// The durations of the two heater spin boxes, 0 at start.
int32_t shtHeaterPause();
int32_t shtHeaterOnTime();
// Set the duration for sensors seen from now on and for every known one;
// the times already planned stay.
void setHeaterPause(int seconds);
void setHeaterOnTime(int seconds);
