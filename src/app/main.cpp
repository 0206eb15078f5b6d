#include "base/appsettings.h"
#include "base/language.h"
#include "base/logmessagehandler.h"
#include "bus/busbackend.h"
#include "session/busoption.h"
#include "gui/mainwindow.h"
#include "base/switches.h"

#include <QCoreApplication>
#include <QApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QTextStream>
#include <cstring>

namespace {

const char kUsage[] =
    "usage: orvex [--bus=VALUE] [-ldbg] [-pt100] [-v1] [-sht]\n"
    "  --bus=VALUE  the bus, as orvexctl takes it (see orvexctl --help; default: ORVEX_BUS, else the\n"
    "               driver, else the one USB adapter plugged in, else the demo bus)\n"
    "  -ldbg        Qt's own log output on standard error instead of the program's log handler\n"
    "  -pt100       Pt100 emulator calibration controls\n"
    "  -v1          the program's log into a file in its state folder (Logs/)\n"
    "  -sht         SHT heater controls\n"
    "  --help, -h   print this text and stop; --version: print the version and stop\n"
    "exit codes: 0 the window was closed; 1 another copy is running; 2 a bad bus value or bus file;\n"
    "            3 no display to show the window on\n";

// Answered before the window's application object exists, so they work
// without a display.
bool answersAlone(int argc, char *argv[], int *code)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            QTextStream(stdout) << kUsage;
            *code = 0;
            return true;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            QTextStream(stdout) << "orvex " ORVEX_VERSION "\n";
            *code = 0;
            return true;
        }
    }
    return false;
}

// Whether Qt's platform plugin would find no display to connect to: it
// would then abort the process with a page of its own. Only the cases that
// are certain: the default (X11) or xcb platform without DISPLAY, and no
// platform chosen with neither DISPLAY nor WAYLAND_DISPLAY set. Any other
// platform (offscreen, wayland, a -platform argument) is left to Qt.
bool noDisplay(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strncmp(argv[i], "-platform=", 10) == 0)
            return false;
    }
    const bool x11 = !qEnvironmentVariableIsEmpty("DISPLAY");
    const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
    if (platform.isEmpty())
        return !x11 && !wayland;
    return platform.startsWith("xcb") && !x11;
}

// One line instead of Qt's abort: there is no display, and the bus can be
// read from a terminal with orvexctl (the one beside this program when it
// runs from its build folder), in the window's language.
int refuseWithoutDisplay(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    Language::install(&app, Language::forWindow(appSettings()));
    QString orvexctl = QStringLiteral("orvexctl");
    const QString self = QString::fromLocal8Bit(argv[0]);
    if (self.contains(QLatin1Char('/'))) {
        const QString beside = QFileInfo(self).path() + QStringLiteral("/orvexctl");
        if (QFileInfo(beside).isExecutable() && !beside.startsWith(QLatin1String("/usr/")))
            orvexctl = beside;
    }
    QString bus = QStringLiteral("--bus=sim");
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--bus=", 6) == 0)
            bus = QString::fromLocal8Bit(argv[i]);
    }
    QTextStream(stderr) << "orvex: "
                        << QCoreApplication::translate("main", "нет дисплея (не заданы DISPLAY и WAYLAND_DISPLAY), "
                                                               "окно не откроется; шину можно прочитать в терминале: %1")
                               .arg(orvexctl + QStringLiteral(" read ") + bus + QStringLiteral(" --cycles 1"))
                        << "\n";
    return 3;
}

// Once the helper window exists, the display name is no longer added to
// titles: the main window's own ("Орвекс 25.01.27.0") is left as it is.
void keepOwnTitle(QWidget *window)
{
    window->winId();
    QGuiApplication::setApplicationDisplayName(QStringLiteral(""));
    const QString title = window->windowTitle();
    window->setWindowTitle(title + QLatin1Char(' '));
    window->setWindowTitle(title);
}

} // namespace

int main(int argc, char *argv[])
{
    int code = 0;
    if (answersAlone(argc, argv, &code))
        return code;
    if (noDisplay(argc, argv))
        return refuseWithoutDisplay(argc, argv);
    // Start-up messages wait until main() has chosen where the log goes.
    holdLogMessages();
    QApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVEX_VERSION));
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);

    // The window's language (and Qt's own texts): the operator's choice in
    // the settings, else the locale's. It takes effect for the whole run.
    Language::install(&app, Language::forWindow(appSettings()));

    QString error;
    const std::unique_ptr<BusBackend> bus = BusOption::openChosen(args, &error);
    if (!bus) {
        QTextStream(stderr) << error << "\n";
        // Started from a desktop menu, nobody reads standard error.
        QMessageBox::critical(nullptr, QCoreApplication::translate("MainWindow", "Орвекс"),
                              QCoreApplication::translate("main", "Программа не может начать работу:\n")
                                  + error);
        releaseHeldLogMessages();
        return 2;
    }

    const Switches switches = Switches::parse(args);
    // The window system names the program's hidden helper window (X11's
    // client leader, made with the first window) and the start-up questions
    // after the display name: in the window's language, not the settings'
    // application name.
    QGuiApplication::setApplicationDisplayName(QCoreApplication::translate("MainWindow", "Орвекс"));
    auto *window = new MainWindow(bus.get());
    if (window->instanceState() < 0) {
        delete window;
        releaseHeldLogMessages();
        return 1;
    }
    keepOwnTitle(window);

    // Only after the window exists: nothing its set-up does may see a switch.
    window->applySwitches(switches);
    setLogFileEnabled(switches.logFileEnabled);
    if (!switches.defaultLogOutput)
        window->installLogHandler();
    releaseHeldLogMessages();
    window->show();
    const int result = app.exec();
    delete window;
    // The log file goes away with the process-wide objects; later messages
    // take Qt's default output.
    qInstallMessageHandler(nullptr);
    return result;
}
