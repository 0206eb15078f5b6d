#pragma once

#include <QDateTime>
#include <QMap>
#include <cstdint>

// The heating plan of one SHT3x (under the "-sht" switch): the heater is
// switched on for shtHeaterOnTime() seconds, then left off for
// shtHeaterPause() seconds, judged at each measurement of the sensor.
struct HeaterSchedule
{
    QDateTime nextOn;    // when the heater is next switched on
    QDateTime offAt;     // when the heater is switched off
};

// The plans of the SHT3x sensors one measurement has seen, by identifier.
// Owned by the measurement (Sensor), so each one starts without plans; an
// entry lives as long as its owner. GUI thread only.
class HeaterSchedules
{
public:
    // The plan of the sensor `serial`; a new plan has the heater due at once.
    HeaterSchedule &of(uint64_t serial);
    // Null for a sensor without a plan yet.
    const HeaterSchedule *find(uint64_t serial) const;
    int size() const { return m_schedules.size(); }

    // The durations of the two heater spin boxes, 0 at start. They hold for
    // every plan at its next step; the times already planned stay.
    int32_t pauseS() const { return m_pauseS; }
    int32_t onTimeS() const { return m_onTimeS; }
    void setPauseS(int32_t seconds) { m_pauseS = seconds; }
    void setOnTimeS(int32_t seconds) { m_onTimeS = seconds; }

private:
    QMap<uint64_t, HeaterSchedule> m_schedules;
    int32_t m_pauseS = 0;
    int32_t m_onTimeS = 0;
};
