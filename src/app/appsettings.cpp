#include "app/appsettings.h"

#include <QSettings>

QSettings &appSettings()
{
    static QSettings settings(QSettings::IniFormat, QSettings::UserScope,
                              QStringLiteral("Tresvant"), QStringLiteral("Орвекс"));
    return settings;
}
