#pragma once

class QSettings;

// The one settings object: INI format, user scope, organisation "Tresvant",
// application "Орвекс". Created on first use. Tests point the user scope at a
// temporary folder (QSettings::setPath) before the first call.
QSettings &appSettings();
