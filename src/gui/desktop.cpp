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
    if (QStandardPaths::findExecutable(QStringLiteral("xdg-open")).isEmpty()) {
        if (failed)
            failed();
        return;
    }
    // Without a desktop environment xdg-open runs the file manager itself
    // and waits for it, and a process of ours would be ended with the
    // window: a shell starts it, reports its failure if it fails at once,
    // and otherwise leaves it running on its own after 2 s.
    runWatched(QStringLiteral("sh"),
               {QStringLiteral("-c"),
                QStringLiteral("xdg-open \"$1\" >/dev/null 2>&1 & opener=$!; sleep 2; "
                               "kill -0 $opener 2>/dev/null && exit 0; wait $opener"),
                QStringLiteral("orvex-open"), folder},
               parent, failed);
#endif
}
