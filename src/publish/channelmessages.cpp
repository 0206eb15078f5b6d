#include "publish/channelmessages.h"

#include "publish/mqttconfig.h"
#include "model/channelid.h"
#include "model/sensordevice.h"
#include "sensors/sensor.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

namespace {

QString hex(uint64_t value, int digits = 0)
{
    return QStringLiteral("%1").arg(value, digits, 16, QLatin1Char('0')).toUpper();
}

QByteArray compact(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

const char kChipMaker[] = "Maxim Integrated";

// The machine's adapter as Home Assistant knows it: named by the machine
// alone, so that another queue folder or instance slot of a program on it
// does not make a second device of the same adapter.
QString adapterId(const MqttConfig &config)
{
    return QStringLiteral("orvex_") + config.hostName + QStringLiteral("_adapter");
}

QString firstWord(const QString &text)
{
    return text.trimmed().section(QLatin1Char(' '), 0, 0);
}

// Home Assistant's device class and unit for the channel's unit text, from
// the quantity the drivers declare for it; no device class for a unit no
// driver writes. Home Assistant wants relative humidity in "%".
void describeUnit(const QString &unit, QString *deviceClass, QString *haUnit)
{
    *haUnit = unit;
    const ChannelTraits *traits = Sensor::unitTraits(unit);
    if (!traits)
        return;
    switch (traits->quantity) {
    case Quantity::Temperature:
        *deviceClass = QStringLiteral("temperature");
        *haUnit = QString::fromUtf8(traits->shown);
        break;
    case Quantity::Humidity:
        *deviceClass = QStringLiteral("humidity");
        *haUnit = QStringLiteral("%");
        break;
    case Quantity::Pressure:
        *deviceClass = QStringLiteral("pressure");
        break;
    case Quantity::CarbonDioxide:
        *deviceClass = QStringLiteral("carbon_dioxide");
        break;
    case Quantity::Voltage:
        *deviceClass = QStringLiteral("voltage");
        break;
    case Quantity::Other:
        break;
    }
}

} // namespace

ChannelMessages::ChannelMessages(const MqttConfig &config, const SensorDevice &device, int index)
    : m_config(config)
    , m_device(device)
    , m_channel(device.channels.at(index))
{
    // The channel's identity, in topic-safe form, with the I2C serial
    // number, which tells apart sensors swapped at one address.
    const ChannelId channel = ChannelId::of(device, index);
    m_rom = channel.text().section(QLatin1Char('/'), 0, 0);
    m_id = m_rom;
    if (isI2c()) {
        m_id += QStringLiteral("_h%1_a%2_s%3-%4")
                    .arg(channel.hubChannel)
                    .arg(hex(uint64_t(channel.i2cAddress), 2), hex(m_channel.i2cSerialHigh), hex(m_channel.i2cSerialLow));
    }
    m_id += QLatin1Char('_') + QString::number(channel.subchannel);
}

bool ChannelMessages::isI2c() const
{
    return m_channel.hubChannel >= 0 || m_channel.i2cAddress != 0;
}

QByteArray ChannelMessages::stateTopic() const
{
    return (m_config.topicPrefix + QLatin1Char('/') + m_config.hostName + QLatin1Char('/') + m_id
            + QStringLiteral("/state"))
        .toUtf8();
}

QByteArray ChannelMessages::configTopic() const
{
    // A state is a binary sensor to Home Assistant; every other reading a sensor.
    const QString component = m_channel.kind() == ChannelKind::Binary ? QStringLiteral("/binary_sensor/orvex_")
                                                                       : QStringLiteral("/sensor/orvex_");
    return (m_config.discoveryPrefix + component + m_config.hostName + QLatin1Char('/') + m_id
            + QStringLiteral("/config"))
        .toUtf8();
}

QByteArray ChannelMessages::availabilityTopic(const MqttConfig &config)
{
    const QString instance = config.instanceTag.isEmpty() ? QString() : config.instanceTag + QLatin1Char('/');
    return (config.topicPrefix + QLatin1Char('/') + config.hostName + QLatin1Char('/') + instance
            + QStringLiteral("availability"))
        .toUtf8();
}

int ChannelMessages::expireAfterS(const MqttConfig &config)
{
    return qMax(300, 3 * qMax(0, config.cycleS) + 60);
}

// A connectivity entity on the availability topic: what declares a device
// that channels are reached through.
static QByteArray deviceDeclaration(const MqttConfig &config, const QString &id, const QString &name,
                                    const QJsonObject &device)
{
    const QString availability = QString::fromUtf8(ChannelMessages::availabilityTopic(config));
    return compact({
        {QStringLiteral("name"), name},
        {QStringLiteral("unique_id"), id + QStringLiteral("_link")},
        {QStringLiteral("state_topic"), availability},
        {QStringLiteral("payload_on"), QStringLiteral("online")},
        {QStringLiteral("payload_off"), QStringLiteral("offline")},
        {QStringLiteral("device_class"), QStringLiteral("connectivity")},
        {QStringLiteral("entity_category"), QStringLiteral("diagnostic")},
        {QStringLiteral("qos"), 1},
        {QStringLiteral("device"), device},
        {QStringLiteral("origin"),
         QJsonObject{{QStringLiteral("name"), QStringLiteral("Орвекс")},
                     {QStringLiteral("sw_version"), QStringLiteral(ORVEX_VERSION)}}},
    });
}

QByteArray ChannelMessages::adapterConfigTopic(const MqttConfig &config)
{
    return (config.discoveryPrefix + QStringLiteral("/binary_sensor/orvex_") + config.hostName + QLatin1Char('/')
            + adapterId(config) + QStringLiteral("/config"))
        .toUtf8();
}

QByteArray ChannelMessages::adapterConfigPayload(const MqttConfig &config)
{
    const QString id = adapterId(config);
    const QString where = config.hostName;
    return deviceDeclaration(config, id, QStringLiteral("Связь"),
                             {{QStringLiteral("identifiers"), QJsonArray{id}},
                              {QStringLiteral("name"), QStringLiteral("Шина 1-Wire ") + where},
                              {QStringLiteral("model"), QStringLiteral("1-Wire adapter")},
                              {QStringLiteral("manufacturer"), QStringLiteral("Tresvant")}});
}

QByteArray ChannelMessages::bridgeConfigTopic() const
{
    if (!isI2c())
        return QByteArray();
    return (m_config.discoveryPrefix + QStringLiteral("/binary_sensor/orvex_") + m_config.hostName
            + QStringLiteral("/orvex_") + m_rom + QStringLiteral("/config"))
        .toUtf8();
}

QByteArray ChannelMessages::bridgeConfigPayload() const
{
    const QString id = QStringLiteral("orvex_") + m_rom;
    return deviceDeclaration(m_config, id, QStringLiteral("Связь"),
                             {{QStringLiteral("identifiers"), QJsonArray{id}},
                              {QStringLiteral("name"), QStringLiteral("DS28E17 ") + m_rom},
                              {QStringLiteral("model"), Sensor::describeFamily(m_device.family)},
                              {QStringLiteral("manufacturer"), QLatin1String(kChipMaker)},
                              {QStringLiteral("via_device"), adapterId(m_config)}});
}

QByteArray ChannelMessages::droppedTopic(const MqttConfig &config)
{
    return (config.topicPrefix + QLatin1Char('/') + config.hostName + QStringLiteral("/dropped")).toUtf8();
}

QString ChannelMessages::isoTime(const QDateTime &time)
{
    if (!time.isValid())
        return QString();
    return time.toOffsetFromUtc(time.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

QByteArray ChannelMessages::statePayload(const QDateTime &attempt) const
{
    const bool i2c = isI2c();
    const QString time = isoTime(m_channel.time.isValid() ? m_channel.time : attempt);
    QJsonObject state({
        {QStringLiteral("value"), std::isfinite(m_channel.value) ? QJsonValue(m_channel.value) : QJsonValue()},
        {QStringLiteral("unit"), m_channel.unit},
        {QStringLiteral("time"), time.isEmpty() ? QJsonValue() : QJsonValue(time)},
        {QStringLiteral("rom"), m_rom},
        {QStringLiteral("subchannel"), int(m_channel.subchannel)},
        {QStringLiteral("hubChannel"), int(m_channel.hubChannel)},
        {QStringLiteral("i2cSerial"), i2c ? QJsonValue(hex(m_channel.i2cSerialHigh, 16) + hex(m_channel.i2cSerialLow, 16))
                                          : QJsonValue()},
        {QStringLiteral("i2cAddress"), i2c ? QJsonValue(int(m_channel.i2cAddress)) : QJsonValue()},
        {QStringLiteral("type"), m_channel.type},
    });
    if (m_channel.isEmulator) {
        state.insert(QStringLiteral("subtype"), m_channel.subtype == 1   ? QJsonValue(QStringLiteral("Pt100"))
                                                : m_channel.subtype == 2 ? QJsonValue(QStringLiteral("100П"))
                                                                         : QJsonValue());
        state.insert(QStringLiteral("calibration"), double(m_channel.calibration));
    }
    return compact(state);
}

QJsonObject ChannelMessages::deviceObject() const
{
    QJsonObject device;
    if (isI2c()) {
        const QString sensorId = m_id.section(QLatin1Char('_'), 0, -2);
        // Without a serial number the sensor is known by its 7-bit address.
        const QString serial = m_channel.i2cSerialHigh != 0 ? hex(m_channel.i2cSerialHigh) + hex(m_channel.i2cSerialLow, 16)
                               : m_channel.i2cSerialLow != 0 ? hex(m_channel.i2cSerialLow)
                                                             : QStringLiteral("0x") + hex(m_channel.i2cAddress >> 1, 2);
        device = {
            {QStringLiteral("identifiers"), QJsonArray{QStringLiteral("orvex_") + sensorId}},
            {QStringLiteral("name"), QStringLiteral("%1 %2 (%3, канал %4)")
                                         .arg(firstWord(m_channel.type), serial, m_rom)
                                         .arg(m_channel.hubChannel)},
            {QStringLiteral("model"), firstWord(m_channel.type)},
            {QStringLiteral("via_device"), QStringLiteral("orvex_") + m_rom},
        };
    } else {
        // Of two chips sharing a family code, the one the read told.
        QString model = m_device.chip ? QLatin1String(m_device.chip->name) : Sensor::describeFamily(m_device.family);
        if (m_channel.isEmulator)
            model = firstWord(model) + QStringLiteral(" Pt100 emulator");
        device = {
            {QStringLiteral("identifiers"), QJsonArray{QStringLiteral("orvex_") + m_rom}},
            {QStringLiteral("name"), firstWord(model) + QLatin1Char(' ') + m_rom},
            {QStringLiteral("model"), model},
            {QStringLiteral("via_device"), adapterId(m_config)},
        };
        if (!m_channel.isEmulator)
            device.insert(QStringLiteral("manufacturer"), QLatin1String(kChipMaker));
    }
    return device;
}

QJsonObject ChannelMessages::originObject() const
{
    return QJsonObject{{QStringLiteral("name"), QStringLiteral("Орвекс")},
                       {QStringLiteral("sw_version"), QStringLiteral(ORVEX_VERSION)}};
}

QByteArray ChannelMessages::configPayload() const
{
    const QJsonObject device = deviceObject();
    QString deviceClass, unit;
    describeUnit(m_channel.unit, &deviceClass, &unit);
    const QString name = m_channel.type.trimmed();
    const QString state = QString::fromUtf8(stateTopic());
    QJsonObject config{
        {QStringLiteral("name"), name.isEmpty() ? QStringLiteral("Канал %1").arg(m_channel.subchannel) : name},
        {QStringLiteral("unique_id"), QStringLiteral("orvex_") + m_config.hostName + QLatin1Char('_') + m_id},
        {QStringLiteral("state_topic"), state},
        {QStringLiteral("value_template"), QStringLiteral("{{ value_json.value }}")},
        {QStringLiteral("json_attributes_topic"), state},
        {QStringLiteral("state_class"), QStringLiteral("measurement")},
        {QStringLiteral("availability_topic"), QString::fromUtf8(availabilityTopic(m_config))},
        {QStringLiteral("payload_available"), QStringLiteral("online")},
        {QStringLiteral("payload_not_available"), QStringLiteral("offline")},
        {QStringLiteral("qos"), 1},
        {QStringLiteral("expire_after"), expireAfterS(m_config)},
        {QStringLiteral("device"), device},
        {QStringLiteral("origin"),
         QJsonObject{{QStringLiteral("name"), QStringLiteral("Орвекс")},
                     {QStringLiteral("sw_version"), QStringLiteral(ORVEX_VERSION)}}},
    };
    switch (m_channel.kind()) {
    case ChannelKind::Counter:
        // A meter's count only grows; Home Assistant takes a fall for a new meter.
        config.insert(QStringLiteral("state_class"), QStringLiteral("total_increasing"));
        break;
    case ChannelKind::Binary:
        // A failed reading ("value": null) renders None: the state is unknown.
        config.remove(QStringLiteral("state_class"));
        config.insert(QStringLiteral("value_template"),
                      QStringLiteral("{{ none if value_json.value is none else ('ON' if value_json.value == 1 else 'OFF') }}"));
        config.insert(QStringLiteral("payload_on"), QStringLiteral("ON"));
        config.insert(QStringLiteral("payload_off"), QStringLiteral("OFF"));
        unit.clear();
        deviceClass.clear();
        break;
    case ChannelKind::Value:
        break;
    }
    if (!unit.isEmpty())
        config.insert(QStringLiteral("unit_of_measurement"), unit);
    if (!deviceClass.isEmpty())
        config.insert(QStringLiteral("device_class"), deviceClass);
    return compact(config);
}

QByteArray ChannelMessages::droppedPayload(uint64_t count, const QDateTime &now)
{
    return compact({{QStringLiteral("dropped"), double(count)}, {QStringLiteral("time"), isoTime(now)}});
}

QByteArray ChannelMessages::alarmTopic() const
{
    return (m_config.topicPrefix + QLatin1Char('/') + m_config.hostName + QLatin1Char('/') + m_id
            + QStringLiteral("/alarm"))
        .toUtf8();
}

QByteArray ChannelMessages::alarmConfigTopic() const
{
    return (m_config.discoveryPrefix + QStringLiteral("/binary_sensor/orvex_") + m_config.hostName + QLatin1Char('/')
            + m_id + QStringLiteral("_alarm/config"))
        .toUtf8();
}

QByteArray ChannelMessages::alarmConfigPayload() const
{
    const QString topic = QString::fromUtf8(alarmTopic());
    const QString name = m_channel.type.trimmed();
    return compact({
        {QStringLiteral("name"), QStringLiteral("Тревога ") + (name.isEmpty() ? QStringLiteral("канал %1").arg(m_channel.subchannel) : name)},
        {QStringLiteral("unique_id"), QStringLiteral("orvex_") + m_config.hostName + QLatin1Char('_') + m_id + QStringLiteral("_alarm")},
        {QStringLiteral("state_topic"), topic},
        {QStringLiteral("value_template"), QStringLiteral("{{ 'ON' if value_json.active else 'OFF' }}")},
        {QStringLiteral("payload_on"), QStringLiteral("ON")},
        {QStringLiteral("payload_off"), QStringLiteral("OFF")},
        {QStringLiteral("json_attributes_topic"), topic},
        {QStringLiteral("device_class"), QStringLiteral("problem")},
        {QStringLiteral("availability_topic"), QString::fromUtf8(availabilityTopic(m_config))},
        {QStringLiteral("payload_available"), QStringLiteral("online")},
        {QStringLiteral("payload_not_available"), QStringLiteral("offline")},
        {QStringLiteral("qos"), 1},
        {QStringLiteral("device"), deviceObject()},
        {QStringLiteral("origin"), originObject()},
    });
}

QByteArray ChannelMessages::alarmPayload(AlarmState state, double value, double limit, const QDateTime &now)
{
    auto number = [](double x) { return std::isfinite(x) ? QJsonValue(x) : QJsonValue(); };
    return compact({
        {QStringLiteral("active"), state != AlarmState::Normal},
        {QStringLiteral("state"), alarmStateKey(state)},
        {QStringLiteral("value"), number(value)},
        {QStringLiteral("limit"), number(limit)},
        {QStringLiteral("time"), isoTime(now)},
    });
}
