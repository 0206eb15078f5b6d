#include "app/recordersettings.h"

#include "table/recorder.h"

#include <QSettings>

void loadRecorderSettings(QSettings &settings, Recorder &recorder)
{
    recorder.setNameTemplate(settings.value(QStringLiteral("Settings/OutFileFormat"),
                                            QString::fromLatin1(Recorder::DefaultTemplate)).toString());
    recorder.setFirstSplit(settings.value(QStringLiteral("Settings/FirstSplit"), QStringLiteral("'")).toString());
    recorder.setLastSplit(settings.value(QStringLiteral("Settings/LastSplit"), QString()).toString());
}
