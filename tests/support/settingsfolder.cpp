#include "support/settingsfolder.h"

#include "base/appsettings.h"

#include <QSettings>

SettingsFolder::SettingsFolder()
{
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
}

SettingsFolder::~SettingsFolder()
{
    appSettings().sync();
}
