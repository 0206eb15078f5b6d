#pragma once

class QSettings;
class QStringList;

// The one settings object: INI format, user scope, organisation "Tresvant",
// application "Орвекс". Created on first use. Tests point the user scope at a
// temporary folder (QSettings::setPath) before the first call.
QSettings &appSettings();

// The stored options, read as the window and orvexctl both use them. A value
// that is missing, unreadable or out of range reads as its default, so a
// damaged settings file never keeps the program from starting.

// "Time/Interval": whole seconds 0 to 300, 0 meaning a measurement on every
// tick; default 30.
int storedIntervalS(QSettings &settings);
// "Settings/ScanAllChannel" and "Settings/ScanAllType": "true" or "false"
// (also 1 or 0, in any letter case); default on.
bool storedScanAllChannel(QSettings &settings);
bool storedScanAllType(QSettings &settings);
// "Sensors/Hih4000": the DS2438s with an HIH-4000 humidity sensor on VAD, by
// ROM as the table shows it, comma-separated; "*" for every DS2438;
// default none.
QStringList storedHumidityDevices(QSettings &settings);
// "Time/OnGrid": whether a cycle shorter than the interval starts on the
// interval's grid (start to start) instead of the interval after the tick
// that follows the cycle; the same readings as the flags above; default off.
bool storedIntervalOnGrid(QSettings &settings);
