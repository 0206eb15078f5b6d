#include "session/recordersettings.h"

#include "table/recorder.h"

#include <QSettings>

namespace {

// The value of `key` when it is stored as one plain text (an INI line with
// an unquoted comma, for one, reads as a list and is not).
bool storedText(QSettings &settings, const QString &key, QString *text)
{
    const QVariant value = settings.value(key);
    if (value.userType() != QMetaType::QString)
        return false;
    *text = value.toString();
    return true;
}

QString storedTemplate(QSettings &settings)
{
    QString text;
    if (!storedText(settings, QStringLiteral("Settings/OutFileFormat"), &text) || text.trimmed().isEmpty()
        || !Recorder::fitsFileName(text))
        return QString::fromLatin1(Recorder::DefaultTemplate);
    return text;
}

QString storedSeparator(QSettings &settings, const QString &key, const QString &fallback)
{
    QString text;
    if (!storedText(settings, key, &text) || text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'))
        || text.toUtf8().size() > Recorder::MaxFileNameBytes)
        return fallback;
    return text;
}

} // namespace

void loadRecorderSettings(QSettings &settings, Recorder &recorder)
{
    recorder.setNameTemplate(storedTemplate(settings));
    recorder.setFirstSplit(storedSeparator(settings, QStringLiteral("Settings/FirstSplit"), QStringLiteral("'")));
    recorder.setLastSplit(storedSeparator(settings, QStringLiteral("Settings/LastSplit"), QString()));
}
