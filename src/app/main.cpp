#include "base/logmessagehandler.h"
#include "bus/busbackend.h"
#include "session/busoption.h"
#include "gui/mainwindow.h"
#include "base/switches.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QTranslator>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVEX_VERSION));
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);

    // Qt's own texts (standard buttons, file dialogs) in Russian, as the window.
    QTranslator qtTexts;
    if (qtTexts.load(QLocale(QLocale::Russian), QStringLiteral("qtbase"), QStringLiteral("_"),
                     QLibraryInfo::location(QLibraryInfo::TranslationsPath)))
        app.installTranslator(&qtTexts);

    QString error;
    const std::unique_ptr<BusBackend> bus = BusOption::openChosen(args, &error);
    if (!bus) {
        QTextStream(stderr) << error << "\n";
        // Started from a desktop menu, nobody reads standard error.
        QMessageBox::critical(nullptr, QStringLiteral("Орвекс"),
                              QStringLiteral("Программа не может начать работу:\n") + error);
        return 2;
    }

    const Switches switches = Switches::parse(args);
    auto *window = new MainWindow(bus.get());
    window->setWindowTitle(QCoreApplication::applicationName() + QLatin1Char(' ')
                           + QCoreApplication::applicationVersion());
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
