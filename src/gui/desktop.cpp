#include "gui/desktop.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

namespace {

// Runs `program` without waiting; `failed` runs when it is not installed,
// cannot start or ends with a non-zero status.
void runWatched(const QString &program, const QStringList &args, QObject *parent, const std::function<void()> &failed)
{
    const QString path = QStandardPaths::findExecutable(program);
    if (path.isEmpty()) {
        if (failed)
            failed();
        return;
    }
    auto *process = new QProcess(parent);
    QObject::connect(process, &QProcess::errorOccurred, process, [process, failed](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        if (failed)
            failed();
        process->deleteLater();
    });
    QObject::connect(process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), process,
                     [process, failed](int code, QProcess::ExitStatus status) {
                         if ((code != 0 || status != QProcess::NormalExit) && failed)
                             failed();
                         process->deleteLater();
                     });
    process->start(path, args);
}

} // namespace

void Desktop::showInFileManager(const QString &path, QObject *parent, const Failed &failed)
{
#ifdef _WIN32
    Q_UNUSED(failed);
    auto *process = new QProcess(parent);
    process->start(QStringLiteral("explorer.exe"), {QStringLiteral("/select,"), QDir::toNativeSeparators(path)});
#else
    // Without a file manager on the session bus, the folder alone.
    const QString folder = QFileInfo(path).absolutePath();
    const auto withoutSelection = [this, folder, parent, failed] { openFolder(folder, parent, failed); };
    runWatched(QStringLiteral("dbus-send"),
               {QStringLiteral("--session"), QStringLiteral("--print-reply"),
                QStringLiteral("--dest=org.freedesktop.FileManager1"), QStringLiteral("--type=method_call"),
                QStringLiteral("/org/freedesktop/FileManager1"), QStringLiteral("org.freedesktop.FileManager1.ShowItems"),
                QStringLiteral("array:string:") + QUrl::fromLocalFile(path).toString(), QStringLiteral("string:")},
               parent, withoutSelection);
#endif
}

void Desktop::openFolder(const QString &folder, QObject *parent, const Failed &failed)
{
#ifdef _WIN32
    Q_UNUSED(parent);
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder)) && failed)
        failed();
#else
    runWatched(QStringLiteral("xdg-open"), {folder}, parent, failed);
#endif
}
