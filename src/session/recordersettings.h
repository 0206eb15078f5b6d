#pragma once

class QSettings;
class Recorder;

// Gives `recorder` the stored file-name template ("Settings/OutFileFormat")
// and header separators ("Settings/FirstSplit", "Settings/LastSplit"), each
// with its default when unset: the full default template, an apostrophe and
// nothing. The window's start-up and `orvexctl read --record` both load them
// here, so both write the same files.
//
// A damaged value reads as its default: a template that is not a text, is
// blank, or would make file names longer than a file system takes; a
// separator that is not a text, holds a line break (it would split a header
// line) or is longer than a file name may be.
void loadRecorderSettings(QSettings &settings, Recorder &recorder);
