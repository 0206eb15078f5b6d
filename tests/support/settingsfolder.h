#pragma once

#include <QTemporaryDir>

// A settings folder of the test's own: the process-wide settings object
// (appSettings) keeps its file there. The object outlives the test and would
// write its pending changes at exit, after the folder is gone, leaving a new
// folder behind in the temporary directory; this writes them while the
// folder still exists, so nothing is left.
class SettingsFolder
{
public:
    SettingsFolder();
    ~SettingsFolder();
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
};
