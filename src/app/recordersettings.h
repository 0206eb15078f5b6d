#pragma once

class QSettings;
class Recorder;

// Gives `recorder` the stored file-name template ("Settings/OutFileFormat")
// and header separators ("Settings/FirstSplit", "Settings/LastSplit"), each
// with its default when unset: the full default template, an apostrophe and
// nothing. The window's start-up and `orvexctl read --record` both load them
// here, so both write the same files.
void loadRecorderSettings(QSettings &settings, Recorder &recorder);
