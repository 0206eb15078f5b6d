#pragma once

#include <QString>

class QObject;

// Calls into the desktop: the file manager and the default URL handler. The
// window is given one; tests give it a subclass that notes the calls instead.
class Desktop
{
public:
    Desktop() = default;
    virtual ~Desktop() = default;
    Desktop(const Desktop &) = delete;
    Desktop &operator=(const Desktop &) = delete;

    // Shows `path` selected in the file manager ("explorer.exe /select," on
    // Windows; elsewhere the freedesktop file manager interface, or the
    // containing folder). The process is a child of `parent`.
    virtual void showInFileManager(const QString &path, QObject *parent);
    // Opens a local folder with the desktop's default handler.
    virtual void openFolder(const QString &folder);
};
