#include "sensors/shownnames.h"

#include "sensors/sensor.h"

#include <QCoreApplication>
#include <QRegularExpression>

namespace {

// The word a counter's traits show as its unit (SensorTraits::counter).
[[maybe_unused]] const char *const kCounterUnit = QT_TRANSLATE_NOOP("SensorUnit", "count");

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
    // Each driver marks the types it writes (QT_TRANSLATE_NOOP in the
    // context "SensorType"); a text no translation holds stays as it is.
    return QCoreApplication::translate("SensorType", text.toUtf8().constData()) + pins;
}

QString unit(const QString &recordUnit)
{
    const ChannelTraits *traits = Sensor::unitTraits(recordUnit);
    const QString shown = traits && traits->shown ? QString::fromUtf8(traits->shown) : recordUnit;
    // Units in words are marked for translation in the context "SensorUnit".
    return QCoreApplication::translate("SensorUnit", shown.toUtf8().constData());
}

} // namespace ShownNames
