#pragma once

#include "model/alarmboard.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QString>

struct MqttConfig;
struct SensorChannel;
struct SensorDevice;

// What one channel's reading looks like on the broker: its identifier, its
// topics and the JSON of its state and of its Home Assistant discovery entry.
//
// Topics: <prefix>/<host>/<channel id>/state for the readings,
// <prefix>/<host>[/<instance>]/availability for "online"/"offline" (the
// window has no instance part), <prefix>/<host>/dropped for the count of
// readings lost at the queue's bound, and
// <discovery prefix>/sensor/orvex_<host>/<channel id>/config for discovery.
// The devices that channels are reached through (the adapter, a bridge) are
// declared by a connectivity entity each under
// <discovery prefix>/binary_sensor/orvex_<host>/<device>/config.
class ChannelMessages
{
public:
    ChannelMessages(const MqttConfig &config, const SensorDevice &device, int index);

    // Stable across restarts, unique on the bus, and made of letters, digits,
    // "_" and "-": the ROM (as the table shows it) and the sub-channel, for an
    // I2C channel also the hub channel, the address and the serial number.
    // "9503161D1E64FF28_0", "1F0000002B4CE119_h3_a88_s0-1A2B3C4D_1".
    QString channelId() const { return m_id; }
    QByteArray stateTopic() const;
    QByteArray configTopic() const;

    // {"value": number or null, "unit", "time" (ISO 8601 with offset),
    //  "rom", "subchannel", "hubChannel", "i2cSerial", "i2cAddress", "type"};
    // the I2C fields are null for a native 1-Wire channel. A Pt100 emulator
    // adds "subtype" and "calibration". A failed reading without a time of
    // its own carries `attempt`.
    QByteArray statePayload(const QDateTime &attempt = QDateTime()) const;
    // The discovery entry: one sensor whose device is the 1-Wire chip (or the
    // I2C sensor, reached through its bridge), with the unit and device class
    // Home Assistant knows for the channel's unit.
    QByteArray configPayload() const;
    // The channel's alarm, for a channel with limits: a binary sensor of
    // device class "problem" on <prefix>/<host>/<channel id>/alarm, under
    // <discovery prefix>/binary_sensor/orvex_<host>/<channel id>_alarm/config.
    QByteArray alarmTopic() const;
    QByteArray alarmConfigTopic() const;
    QByteArray alarmConfigPayload() const;
    // {"active": true/false, "state": "normal"/"high"/"low"/"nodata",
    //  "value": the value that made the state or null, "limit": the limit
    //  crossed or null, "time"}.
    static QByteArray alarmPayload(AlarmState state, double value, double limit, const QDateTime &now);
    // Whether the channel is reached through a DS28E17 bridge; the bridge's
    // and the adapter's declarations (an empty topic for none).
    bool isI2c() const;
    QByteArray bridgeConfigTopic() const;
    QByteArray bridgeConfigPayload() const;
    static QByteArray adapterConfigTopic(const MqttConfig &config);
    static QByteArray adapterConfigPayload(const MqttConfig &config);
    // How long Home Assistant keeps a value without a new one: three missed
    // cycles and a minute for a slow one, at least five minutes.
    static int expireAfterS(const MqttConfig &config);

    static QByteArray availabilityTopic(const MqttConfig &config);
    static QByteArray droppedTopic(const MqttConfig &config);
    // {"dropped": count, "time": now}
    static QByteArray droppedPayload(uint64_t count, const QDateTime &now);
    // ISO 8601 with milliseconds and the offset from UTC; null for an invalid time.
    static QString isoTime(const QDateTime &time);

private:
    QJsonObject deviceObject() const;
    QJsonObject originObject() const;

    const MqttConfig &m_config;
    const SensorDevice &m_device;
    const SensorChannel &m_channel;
    QString m_rom;
    QString m_id;
};
