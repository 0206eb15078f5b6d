#include "base/installpaths.h"

#include <QtTest>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace {

const QString kSourceDir = QStringLiteral(TEST_DATA_DIR "/../..");

// The page's text with roff's "\-" as the plain "-" a reader sees.
QString manPage(const QString &name)
{
    QFile file(kSourceDir + QStringLiteral("/packaging/man/") + name);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll()).replace(QStringLiteral("\\-"), QStringLiteral("-"));
}

QStringList switchesIn(const QString &text)
{
    QStringList found;
    const QRegularExpression pattern(QStringLiteral("(?:^|[\\s,\\[])(--?[a-z][a-z0-9-]*)"));
    auto it = pattern.globalMatch(text);
    while (it.hasNext())
        found << it.next().captured(1);
    found.removeDuplicates();
    return found;
}

bool pageNames(const QString &page, const QString &option)
{
    return page.contains(QRegularExpression(QStringLiteral("(?:^|[^a-z0-9-])") + QRegularExpression::escape(option)
                                            + QStringLiteral("(?:[^a-z0-9-]|$)")));
}

} // namespace

class TstInstallation : public QObject
{
    Q_OBJECT
private slots:
    // The manual pages keep up with the switches: orvexctl's usage (--help, and
    // the longer text of a usage error, which adds the MQTT options) and the
    // window's switches as Switches::parse and the bus option test them.
    void manPagesNameEverySwitch()
    {
        const QString ctlPage = manPage(QStringLiteral("orvexctl.1"));
        QVERIFY(!ctlPage.isEmpty());
        QProcess help;
        help.start(QStringLiteral(ORVEXCTL_BIN), {QStringLiteral("--help")});
        QVERIFY(help.waitForFinished());
        QProcess usage;
        usage.start(QStringLiteral(ORVEXCTL_BIN), {QStringLiteral("read"), QStringLiteral("--no-such-switch")});
        QVERIFY(usage.waitForFinished());
        const QStringList ctlSwitches = switchesIn(QString::fromUtf8(help.readAllStandardOutput() + usage.readAllStandardError()));
        QVERIFY(ctlSwitches.contains(QStringLiteral("--mqtt-password-file")));
        QVERIFY(ctlSwitches.contains(QStringLiteral("-h")));
        for (const QString &option : ctlSwitches) {
            if (option != QLatin1String("--no-such-switch"))
                QVERIFY2(pageNames(ctlPage, option), qPrintable(option + QStringLiteral(" is not in orvexctl.1")));
        }

        const QString windowPage = manPage(QStringLiteral("orvex.1"));
        QFile switchesSource(kSourceDir + QStringLiteral("/src/base/switches.cpp"));
        QVERIFY(switchesSource.open(QIODevice::ReadOnly));
        QStringList windowSwitches{QStringLiteral("--bus")};
        const QRegularExpression matched(QStringLiteral("matches\\(arg, \"(-[a-z0-9]+)\"\\)"));
        auto it = matched.globalMatch(QString::fromUtf8(switchesSource.readAll()));
        while (it.hasNext())
            windowSwitches << it.next().captured(1);
        QCOMPARE(windowSwitches.size(), 5);
        for (const QString &option : windowSwitches)
            QVERIFY2(pageNames(windowPage, option), qPrintable(option + QStringLiteral(" is not in orvex.1")));
    }

    void installedMeansTheInstallBinFolder()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("usr/bin")));
        QVERIFY(QFile::link(dir.path() + QStringLiteral("/usr/bin"), dir.path() + QStringLiteral("/bin")));
        QVERIFY(InstallPaths::sameFolder(dir.path() + QStringLiteral("/bin"), dir.path() + QStringLiteral("/usr/bin/")));
        QVERIFY(!InstallPaths::sameFolder(dir.path(), dir.path() + QStringLiteral("/usr/bin")));
        QVERIFY(!InstallPaths::sameFolder(dir.path() + QStringLiteral("/gone"), dir.path() + QStringLiteral("/gone")));

        // A test runs from the build folder: the files stay where they always were.
        QVERIFY(!InstallPaths::installed());
        QCOMPARE(InstallPaths::logParentFolder(), QCoreApplication::applicationDirPath());
        QCOMPARE(InstallPaths::mqttQueueFolder(),
                 QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)
                     + QStringLiteral("/Tresvant/Орвекс/mqtt"));
    }

    void stateFolderFollowsXdg()
    {
        const QByteArray saved = qgetenv("XDG_STATE_HOME");
        qputenv("XDG_STATE_HOME", "/srv/state/");
        QCOMPARE(InstallPaths::stateFolder(), QStringLiteral("/srv/state/orvex"));
        // Relative paths are to be ignored, as is an empty value.
        qputenv("XDG_STATE_HOME", "state");
        QCOMPARE(InstallPaths::stateFolder(), QDir::homePath() + QStringLiteral("/.local/state/orvex"));
        qputenv("XDG_STATE_HOME", "");
        QCOMPARE(InstallPaths::stateFolder(), QDir::homePath() + QStringLiteral("/.local/state/orvex"));
        qputenv("XDG_STATE_HOME", saved);
    }
};

QTEST_GUILESS_MAIN(TstInstallation)
#include "tst_installation.moc"
