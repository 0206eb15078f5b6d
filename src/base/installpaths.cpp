#include "base/installpaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QStringList>

#ifndef ORVEX_SOURCE_DIR
#define ORVEX_SOURCE_DIR "."
#endif

#ifndef ORVEX_INSTALL_BINDIR
#define ORVEX_INSTALL_BINDIR "/usr/local/bin"
#endif

namespace InstallPaths {

bool sameFolder(const QString &programFolder, const QString &installBinFolder)
{
    const QString program = QFileInfo(programFolder).canonicalFilePath();
    return !program.isEmpty() && program == QFileInfo(installBinFolder).canonicalFilePath();
}

bool installed()
{
    const QString program = QCoreApplication::applicationDirPath();
    const QStringList binFolders = QStringLiteral(ORVEX_INSTALL_BINDIR).split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (const QString &binFolder : binFolders) {
        if (sameFolder(program, binFolder))
            return true;
    }
    return false;
}

QString stateFolder()
{
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + QStringLiteral("/.local/state");
    return QDir::cleanPath(base + QStringLiteral("/orvex"));
}

QString logParentFolder()
{
    return installed() ? stateFolder() : QCoreApplication::applicationDirPath();
}

QString mqttQueueFolder()
{
    if (installed())
        return stateFolder() + QStringLiteral("/mqtt");
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
           + QStringLiteral("/Tresvant/Орвекс/mqtt");
}

QString userGuide()
{
    if (installed())
        return QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/../share/orvex/doc/user-guide.md"));
    return QStringLiteral(ORVEX_SOURCE_DIR "/docs/user-guide.md");
}

} // namespace InstallPaths
