#include "sim/simtemperature.h"

#include <QJsonValue>
#include <cmath>

namespace {

const double kTwoPi = 6.283185307179586;

} // namespace

SimTemperature::SimTemperature(double celsius)
    : m_mean(celsius)
{
}

SimTemperature SimTemperature::curve(double meanCelsius, double amplitudeCelsius, double periodS, double phaseS)
{
    SimTemperature t(meanCelsius);
    t.m_amplitude = amplitudeCelsius;
    t.m_periodS = periodS;
    t.m_phaseS = phaseS;
    return t;
}

double SimTemperature::at(qint64 tickMs) const
{
    if (isConstant())
        return m_mean;
    const double seconds = tickMs / 1000.0 + m_phaseS;
    return m_mean + m_amplitude * std::sin(kTwoPi * seconds / m_periodS);
}

bool SimTemperature::fromJson(const QJsonObject &entry, const char *key, SimTemperature *out, QString *error,
                              const char *unit)
{
    const QJsonValue v = entry.value(QLatin1String(key));
    if (v.isUndefined())
        return true;
    if (v.isDouble()) {
        *out = SimTemperature(v.toDouble());
        return true;
    }
    const QJsonObject o = v.toObject();
    const QJsonValue mean = o.value(QStringLiteral("mean"));
    const QJsonValue amplitude = o.value(QStringLiteral("amplitude"));
    const QJsonValue period = o.value(QStringLiteral("periodS"));
    const QJsonValue phase = o.value(QStringLiteral("phaseS"));
    if (!v.isObject() || !mean.isDouble() || !amplitude.isDouble() || !period.isDouble() || period.toDouble() <= 0
        || !(phase.isUndefined() || phase.isDouble())) {
        if (error)
            *error = QStringLiteral("%1: expected %2, or {\"mean\", \"amplitude\", \"periodS\" > 0, \"phaseS\"}")
                         .arg(QLatin1String(key), QString::fromUtf8(unit));
        return false;
    }
    *out = curve(mean.toDouble(), amplitude.toDouble(), period.toDouble(), phase.toDouble(0.0));
    return true;
}
