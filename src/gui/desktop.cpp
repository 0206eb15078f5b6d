#include "gui/desktop.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

void Desktop::showInFileManager(const QString &path, QObject *parent)
{
    auto *process = new QProcess(parent);
#ifdef _WIN32
    process->start(QStringLiteral("explorer.exe"), {QStringLiteral("/select,"), QDir::toNativeSeparators(path)});
#else
    if (!QStandardPaths::findExecutable(QStringLiteral("dbus-send")).isEmpty()) {
        process->start(QStringLiteral("dbus-send"),
                       {QStringLiteral("--session"), QStringLiteral("--dest=org.freedesktop.FileManager1"),
                        QStringLiteral("--type=method_call"), QStringLiteral("/org/freedesktop/FileManager1"),
                        QStringLiteral("org.freedesktop.FileManager1.ShowItems"),
                        QStringLiteral("array:string:") + QUrl::fromLocalFile(path).toString(),
                        QStringLiteral("string:")});
    } else {
        delete process;
        QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(path).absolutePath()));
    }
#endif
}

void Desktop::openFolder(const QString &folder)
{
    QDesktopServices::openUrl(QUrl::fromLocalFile(folder));
}
