#include "sim/simtemperature.h"

#include "sim/simjson.h"

#include <QJsonValue>
#include <cmath>
#include <cstring>

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
    const double angle = kTwoPi * seconds / m_periodS;
    // A phase or period so extreme that the angle overflows gives no sine.
    if (!std::isfinite(angle))
        return m_mean;
    return m_mean + m_amplitude * std::sin(angle);
}

bool SimTemperature::fromJson(const QJsonObject &entry, const char *key, SimTemperature *out, QString *error,
                              const char *unit)
{
    const QJsonValue v = entry.value(QLatin1String(key));
    if (v.isUndefined())
        return true;
    if (v.isDouble() && std::isfinite(v.toDouble())) {
        *out = SimTemperature(v.toDouble());
        return true;
    }
    if (!v.isObject()) {
        if (error)
            *error = QStringLiteral("%1: expected %2, or {\"mean\", \"amplitude\", \"periodS\" > 0, \"phaseS\"}")
                         .arg(QLatin1String(key), QString::fromUtf8(unit));
        return false;
    }
    const QJsonObject o = v.toObject();
    QString why;
    if (!SimJson::checkKeys(o, {QStringLiteral("mean"), QStringLiteral("amplitude"), QStringLiteral("periodS"),
                                QStringLiteral("phaseS")},
                            QStringLiteral("a curve"), &why)) {
        if (error)
            *error = QLatin1String(key) + QLatin1Char('.') + why;
        return false;
    }
    // A member that is missing or not a finite number is named on its own.
    for (const char *member : {"mean", "amplitude", "periodS", "phaseS"}) {
        const QJsonValue x = o.value(QLatin1String(member));
        const bool optional = std::strcmp(member, "phaseS") == 0;
        if (x.isUndefined() && optional)
            continue;
        if (x.isUndefined())
            why = QStringLiteral("missing (a curve has \"mean\", \"amplitude\" and \"periodS\")");
        else if (!x.isDouble() || !std::isfinite(x.toDouble()))
            why = QStringLiteral("expected a number");
        else if (std::strcmp(member, "periodS") == 0 && x.toDouble() <= 0)
            why = QStringLiteral("expected a number of seconds above 0");
        else
            continue;
        if (error)
            *error = QStringLiteral("%1.%2: %3").arg(QLatin1String(key), QLatin1String(member), why);
        return false;
    }
    const QJsonValue mean = o.value(QStringLiteral("mean"));
    const QJsonValue amplitude = o.value(QStringLiteral("amplitude"));
    const QJsonValue period = o.value(QStringLiteral("periodS"));
    const QJsonValue phase = o.value(QStringLiteral("phaseS"));
    *out = curve(mean.toDouble(), amplitude.toDouble(), period.toDouble(), phase.toDouble(0.0));
    return true;
}
