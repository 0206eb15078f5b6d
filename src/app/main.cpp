#include "base/appsettings.h"
#include "base/language.h"
#include "base/logmessagehandler.h"
#include "bus/busbackend.h"
#include "session/busoption.h"
#include "gui/mainwindow.h"
#include "base/switches.h"

#include <QCoreApplication>
#include <QApplication>
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
    "exit codes: 0 the window was closed; 1 another copy is running; 2 a bad bus value or bus file\n";

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

} // namespace

int main(int argc, char *argv[])
{
    int code = 0;
    if (answersAlone(argc, argv, &code))
        return code;
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
        return 2;
    }

    const Switches switches = Switches::parse(args);
    auto *window = new MainWindow(bus.get());
    if (window->instanceState() < 0) {
        delete window;
        return 1;
    }

    // Only after the window exists: nothing its set-up does may see a switch.
    window->applySwitches(switches);
    setLogFileEnabled(switches.logFileEnabled);
    if (!switches.defaultLogOutput)
        window->installLogHandler();
    window->show();
    const int result = app.exec();
    delete window;
    // The log file goes away with the process-wide objects; later messages
    // take Qt's default output.
    qInstallMessageHandler(nullptr);
    return result;
}
