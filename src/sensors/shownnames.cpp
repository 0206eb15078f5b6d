#include "sensors/shownnames.h"

#include "sensors/sensor.h"

#include <QCoreApplication>
#include <QRegularExpression>

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
    QT_TRANSLATE_NOOP("SensorType", "DS1822 Temperature sensor"),
    QT_TRANSLATE_NOOP("SensorType", "DS28EA00 Temperature sensor"),
    QT_TRANSLATE_NOOP("SensorType", "DS1825 Temperature sensor"),
    QT_TRANSLATE_NOOP("SensorType", "DS2438 Temperature sensor"),
    QT_TRANSLATE_NOOP("SensorType", "DS2438 Supply voltage VDD"),
    QT_TRANSLATE_NOOP("SensorType", "DS2438 A/D input voltage VAD"),
    QT_TRANSLATE_NOOP("SensorType", "DS2438 Current sense voltage"),
    QT_TRANSLATE_NOOP("SensorType", "DS2438 Humidity (HIH-4000)"),
    QT_TRANSLATE_NOOP("SensorType", "DS2450 A/D input A"),
    QT_TRANSLATE_NOOP("SensorType", "DS2450 A/D input B"),
    QT_TRANSLATE_NOOP("SensorType", "DS2450 A/D input C"),
    QT_TRANSLATE_NOOP("SensorType", "DS2450 A/D input D"),
    QT_TRANSLATE_NOOP("SensorType", "DS2423 Counter A"),
    QT_TRANSLATE_NOOP("SensorType", "DS2423 Counter B"),
    QT_TRANSLATE_NOOP("SensorType", "DS2413 PIO A sensed"),
    QT_TRANSLATE_NOOP("SensorType", "DS2413 PIO B sensed"),
    QT_TRANSLATE_NOOP("SensorType", "DS2413 PIO A output on"),
    QT_TRANSLATE_NOOP("SensorType", "DS2413 PIO B output on"),
    QT_TRANSLATE_NOOP("SensorType", "DS2408 PIO 0 sensed"),
    QT_TRANSLATE_NOOP("SensorType", "DS2408 PIO 1 sensed"),
    QT_TRANSLATE_NOOP("SensorType", "DS2408 PIO 2 sensed"),
    QT_TRANSLATE_NOOP("SensorType", "DS2408 PIO 3 sensed"),
    QT_TRANSLATE_NOOP("SensorType", "DS2408 PIO 4 sensed"),
    QT_TRANSLATE_NOOP("SensorType", "DS2408 PIO 5 sensed"),
    QT_TRANSLATE_NOOP("SensorType", "DS2408 PIO 6 sensed"),
    QT_TRANSLATE_NOOP("SensorType", "DS2408 PIO 7 sensed"),
    QT_TRANSLATE_NOOP("SensorType", "DS2408 PIO 0 activity latch"),
    QT_TRANSLATE_NOOP("SensorType", "DS2408 PIO 1 activity latch"),
    QT_TRANSLATE_NOOP("SensorType", "DS2408 PIO 2 activity latch"),
    QT_TRANSLATE_NOOP("SensorType", "DS2408 PIO 3 activity latch"),
    QT_TRANSLATE_NOOP("SensorType", "DS2408 PIO 4 activity latch"),
    QT_TRANSLATE_NOOP("SensorType", "DS2408 PIO 5 activity latch"),
    QT_TRANSLATE_NOOP("SensorType", "DS2408 PIO 6 activity latch"),
    QT_TRANSLATE_NOOP("SensorType", "DS2408 PIO 7 activity latch"),
};

// Units the traits show in words.
const char *const kKnownUnits[] = {
    QT_TRANSLATE_NOOP("SensorUnit", "count"),
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
    // A DS1825's type ends in its address pins.
    QString pins;
    const QRegularExpressionMatch address = QRegularExpression(QStringLiteral("^(.*), address (\\d+)$")).match(text);
    if (address.hasMatch()) {
        text = address.captured(1);
        pins = QCoreApplication::translate("SensorType", ", address %1").arg(address.captured(2));
    }
    for (const char *known : kKnownTypes) {
        if (text == QString::fromUtf8(known))
            return QCoreApplication::translate("SensorType", known) + pins;
    }
    return recordType.trimmed();
}

QString unit(const QString &recordUnit)
{
    const ChannelTraits *traits = Sensor::unitTraits(recordUnit);
    const QString shown = traits && traits->shown ? QString::fromUtf8(traits->shown) : recordUnit;
    for (const char *known : kKnownUnits) {
        if (shown == QLatin1String(known))
            return QCoreApplication::translate("SensorUnit", known);
    }
    return shown;
}

} // namespace ShownNames
