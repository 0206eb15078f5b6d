#include "sensors/shownnames.h"

#include "sensors/sensor.h"

#include <QCoreApplication>

namespace {

// Marked for the translation tools; looked up in the context "SensorType".
const char *const kKnownTypes[] = {
    QT_TRANSLATE_NOOP("SensorType", "DS18S20 Temperature sensor"),
    QT_TRANSLATE_NOOP("SensorType", "DS18B20 Temperature sensor"),
    QT_TRANSLATE_NOOP("SensorType", "MAX31850 Temperature sensor"),
    QT_TRANSLATE_NOOP("SensorType", "MAX31850 Thermocouple Cold-Junction sensor"),
    QT_TRANSLATE_NOOP("SensorType", "MAX31850 Emulator"),
    QT_TRANSLATE_NOOP("SensorType", "MAX31850 Emulator Pt100"),
    QT_TRANSLATE_NOOP("SensorType", "MAX31850 Emulator 100П"),
    QT_TRANSLATE_NOOP("SensorType", "MAX31850 Emulator Thermocouple Cold-Junction sensor"),
    QT_TRANSLATE_NOOP("SensorType", "SHT3x temperature channel"),
    QT_TRANSLATE_NOOP("SensorType", "SHT3x humidity channel"),
    QT_TRANSLATE_NOOP("SensorType", "STS3x temperature channel"),
    QT_TRANSLATE_NOOP("SensorType", "HDC1080 temperature channel"),
    QT_TRANSLATE_NOOP("SensorType", "HDC1080 humidity channel"),
    QT_TRANSLATE_NOOP("SensorType", "BMP280 pressure channel"),
    QT_TRANSLATE_NOOP("SensorType", "BMP280 temperature channel"),
    QT_TRANSLATE_NOOP("SensorType", "D6F OMRON pressure channel"),
    QT_TRANSLATE_NOOP("SensorType", "D6F OMRON temperature channel"),
    QT_TRANSLATE_NOOP("SensorType", "SDC30 CO2 channel"),
    QT_TRANSLATE_NOOP("SensorType", "SDC30 temperature channel"),
    QT_TRANSLATE_NOOP("SensorType", "SDC30 humidity channel"),
};

} // namespace

namespace ShownNames {

QString type(const QString &recordType)
{
    QString text = recordType.trimmed();
    // The emulator's driver writes its chip and "Emulator" as one word.
    const QLatin1String joined("MAX31850Emulator");
    if (text.startsWith(joined))
        text.insert(joined.size() - 8, QLatin1Char(' '));
    for (const char *known : kKnownTypes) {
        if (text == QString::fromUtf8(known))
            return QCoreApplication::translate("SensorType", known);
    }
    return text;
}

QString unit(const QString &recordUnit)
{
    const ChannelTraits *traits = Sensor::unitTraits(recordUnit);
    return traits && traits->shown ? QString::fromUtf8(traits->shown) : recordUnit;
}

} // namespace ShownNames
