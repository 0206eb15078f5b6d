#include "base/appsettings.h"

#include <QStringList>

#include <QSettings>

namespace {

const int kDefaultIntervalS = 30;
const int kMaxIntervalS = 300;

bool storedFlag(QSettings &settings, const QString &key, bool fallback)
{
    const QVariant value = settings.value(key);
    if (value.userType() == QMetaType::Bool)
        return value.toBool();
    if (value.userType() != QMetaType::QString)
        return fallback;
    const QString text = value.toString().trimmed().toLower();
    if (text == QLatin1String("true") || text == QLatin1String("1"))
        return true;
    if (text == QLatin1String("false") || text == QLatin1String("0"))
        return false;
    return fallback;
}

} // namespace

QSettings &appSettings()
{
    static QSettings settings(QSettings::IniFormat, QSettings::UserScope,
                              QStringLiteral("Tresvant"), QStringLiteral("Орвекс"));
    return settings;
}

int storedIntervalS(QSettings &settings)
{
    const QVariant value = settings.value(QStringLiteral("Time/Interval"));
    bool ok = false;
    const int seconds = value.userType() == QMetaType::QString || value.userType() == QMetaType::Int
        ? value.toString().trimmed().toInt(&ok) : 0;
    return ok && seconds >= 0 && seconds <= kMaxIntervalS ? seconds : kDefaultIntervalS;
}

bool storedScanAllChannel(QSettings &settings)
{
    return storedFlag(settings, QStringLiteral("Settings/ScanAllChannel"), true);
}

bool storedScanAllType(QSettings &settings)
{
    return storedFlag(settings, QStringLiteral("Settings/ScanAllType"), true);
}

QStringList storedHumidityDevices(QSettings &settings)
{
    // QSettings reads "a,b" as a list and "a" as a string: both are taken.
    QStringList roms;
    for (const QString &rom : settings.value(QStringLiteral("Sensors/Hih4000")).toStringList()) {
        for (const QString &part : rom.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
            if (!part.trimmed().isEmpty())
                roms << part.trimmed();
        }
    }
    return roms;
}

bool storedIntervalOnGrid(QSettings &settings)
{
    return storedFlag(settings, QStringLiteral("Time/OnGrid"), false);
}
