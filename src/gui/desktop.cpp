#include "gui/desktop.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace {

std::function<void(const QString &)> &fileManagerForTest()
{
    static std::function<void(const QString &)> show;
    return show;
}

} // namespace

void Desktop::setFileManagerForTest(std::function<void(const QString &path)> show)
{
    fileManagerForTest() = std::move(show);
}

void Desktop::showInFileManager(const QString &path, QObject *parent)
{
    if (fileManagerForTest()) {
        fileManagerForTest()(path);
        return;
    }
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
