#pragma once

#include <QJsonObject>
#include <QString>

// What a simulated thermometer measures: a constant, or a slow sine on the
// clock so a demo moves. Deterministic: the same clock gives the same value.
// Other slowly moving quantities (humidity, pressure, CO2) use it as well,
// with their own unit.
class SimTemperature
{
public:
    explicit SimTemperature(double celsius = 20.0);
    // mean + amplitude * sin(2π (t + phase) / period), t the clock in seconds.
    static SimTemperature curve(double meanCelsius, double amplitudeCelsius, double periodS, double phaseS = 0.0);

    double at(qint64 tickMs) const;
    bool isConstant() const { return m_amplitude == 0.0; }

    // Reads `key` of a bus-file entry: a number (°C), or an object
    // {"mean": °C, "amplitude": °C, "periodS": s, "phaseS": s}. Leaves *out
    // alone when the key is absent; false with *error "key: ..." when bad.
    // `unit` names the quantity's unit in the error text.
    static bool fromJson(const QJsonObject &entry, const char *key, SimTemperature *out, QString *error,
                         const char *unit = "°C");

private:
    double m_mean;
    double m_amplitude = 0.0;
    double m_periodS = 600.0;
    double m_phaseS = 0.0;
};
