#pragma once

#include "model/alarmboard.h"
#include "model/channelid.h"

#include <QHash>
#include <QString>
#include <QStringList>

class QSettings;

// The written forms of alarm limits, shared by the settings, orvexctl's
// options and alarms files, and the window's limits dialog.
//
// A channel is named by the ROM as the table and `orvexctl read` show it
// (CRC first), then "/SUB" for a subchannel other than 0, then
// "/HUB/ADDRESS" (hub channel, I2C address byte in decimal) for a sensor
// behind a bridge: "0B01145C0731AA28", "0B01145C0731AA28/1",
// "1F0000002B4CE119/1/3/136".
//
// Limits are "LOW:HIGH" (either may be empty; a decimal point or comma),
// then optional "hysteresis=H", "delay=N" (readings) and "nodata=N"
// (cycles), separated by spaces: "-20:-15 hysteresis=0.5 delay=3 nodata=5".
namespace AlarmRules {

using LimitsMap = QHash<ChannelId, AlarmLimits>;

QString channelText(const ChannelId &id);
bool parseChannel(const QString &text, ChannelId *id, QString *error);

QString limitsText(const AlarmLimits &limits);
bool parseLimits(const QString &text, AlarmLimits *limits, QString *error);

// One line "CHANNEL=LIMITS".
bool parseLine(const QString &line, ChannelId *id, AlarmLimits *limits, QString *error);

// The lines of an alarms file into *map (later lines win); blank lines and
// lines starting with "#" are skipped. False with "FILE:LINE: what" in *error.
bool readFile(const QString &path, LimitsMap *map, QString *error);

// The limits stored under "Alarms/<channel>"; a line that cannot be read is
// left out and named in *problems.
LimitsMap fromSettings(QSettings &settings, QStringList *problems);
// Stores one channel's limits, or removes them when unset.
void store(QSettings &settings, const ChannelId &id, const AlarmLimits &limits);

// The state as a word for files and payloads: "normal", "high", "low", "nodata".
QString stateKey(AlarmState state);

} // namespace AlarmRules
