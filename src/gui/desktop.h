#pragma once

#include <QString>
#include <functional>

class QObject;

// Calls into the desktop: the file manager and the default URL handler. The
// window is given one; tests give it a subclass that notes the calls instead.
// Nothing waits: whether it worked is known later, and `failed` (may be
// empty) runs then when nothing could show the folder.
class Desktop
{
public:
    using Failed = std::function<void()>;

    Desktop() = default;
    virtual ~Desktop() = default;
    Desktop(const Desktop &) = delete;
    Desktop &operator=(const Desktop &) = delete;

    // Shows `path` selected in the file manager ("explorer.exe /select," on
    // Windows; elsewhere the freedesktop file manager interface, else the
    // containing folder opened). The processes are children of `parent`.
    virtual void showInFileManager(const QString &path, QObject *parent, const Failed &failed);
    // Opens a local folder with the desktop's default handler (xdg-open).
    virtual void openFolder(const QString &folder, QObject *parent, const Failed &failed);
};
