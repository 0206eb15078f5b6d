#pragma once

#include <QString>
#include <functional>

class QObject;

// Calls into the desktop: the file manager and the default URL handler.
class Desktop
{
public:
    // Shows `path` selected in the file manager ("explorer.exe /select," on
    // Windows; elsewhere the freedesktop file manager interface, or the
    // containing folder). The process is a child of `parent`.
    static void showInFileManager(const QString &path, QObject *parent);
    // Opens a local folder with the desktop's default handler.
    static void openFolder(const QString &folder);

    // Tests: showInFileManager() hands the path to `show` instead of starting
    // anything; null restores the file manager.
    static void setFileManagerForTest(std::function<void(const QString &path)> show);
};
