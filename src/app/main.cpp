#include "base/appstate.h"
#include "session/busoption.h"
#include "gui/mainwindow.h"
#include "base/switches.h"

#include <QApplication>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral(ORVEX_VERSION));
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);

    QString error;
    if (!BusOption::install(args, &error)) {
        QTextStream(stderr) << error << "\n";
        return 2;
    }

    auto *window = new MainWindow();
    // Only after the window exists: nothing its set-up does may see a switch.
    Switches::parse(args);
    window->setWindowTitle(QCoreApplication::applicationName() + QLatin1Char(' ')
                           + QCoreApplication::applicationVersion());
    if (window->instanceState() < 0) {
        delete window;
        return 1;
    }

    if (!Switches::defaultLogOutput())
        window->installLogHandler();
    window->showShtHeater(AppState::instance().shtMode());
    window->show();
    const int result = app.exec();
    delete window;
    // The log file goes away with the process-wide objects; later messages
    // take Qt's default output.
    qInstallMessageHandler(nullptr);
    return result;
}
