// ds2480-emu: an emulated DS2480B serial 1-Wire adapter on a pseudo-terminal,
// in front of a simulated bus, to try the program and test it without
// hardware. It prints the port to open and then takes commands on standard
// input, one per line, to pull the adapter out and put it back or to garble
// its answers.

#include "base/clock.h"
#include "sim/simbackend.h"
#include "sim/simbusloader.h"
#include "sim/simds2480b.h"
#include "sim/simpty.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTextStream>

#include <unistd.h>

namespace {

const char kUsage[] =
    "usage: ds2480-emu [--link PATH] [--clock FILE] [--latency MS] [--silent] [BUSFILE]\n"
    "  BUSFILE       the simulated bus (a bus file as for --bus=sim:FILE; default: the demo bus)\n"
    "  --link PATH   also make PATH a symbolic link to the port, kept across replugs\n"
    "  --clock FILE  run in virtual time kept in FILE, shared with orvexctl --fast\n"
    "                (ORVEX_SHARED_CLOCK=FILE)\n"
    "  --latency MS  charge the serial line's time to the clock: every byte at 9600\n"
    "                baud, and MS milliseconds of converter latency per turnaround\n"
    "  --silent      the chip answers nothing (an adapter that is not there)\n"
    "Commands on standard input: unplug, replug, silent, answer (stop being silent),\n"
    "drop (lose the next answer byte), corrupt (flip bit 7 of the next answer byte),\n"
    "vanish N (the port vanishes after N more bytes), quit.\n";

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

QTextStream &err()
{
    static QTextStream stream(stderr);
    return stream;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    QString link;
    QString clockFile;
    QString busFile;
    bool silent = false;
    int latencyMs = -1;
    for (int i = 0; i < args.size(); ++i) {
        const QString arg = args.at(i);
        if (arg == QLatin1String("--link") && i + 1 < args.size()) {
            link = args.at(++i);
        } else if (arg == QLatin1String("--clock") && i + 1 < args.size()) {
            clockFile = args.at(++i);
        } else if (arg == QLatin1String("--latency") && i + 1 < args.size()) {
            bool ok = false;
            latencyMs = args.at(++i).toInt(&ok);
            if (!ok || latencyMs < 0 || latencyMs > 1000) {
                err() << "ds2480-emu: --latency wants milliseconds from 0 to 1000\n";
                return 2;
            }
        } else if (arg == QLatin1String("--silent")) {
            silent = true;
        } else if (!arg.startsWith(QLatin1String("--")) && busFile.isEmpty()) {
            busFile = arg;
        } else {
            err() << "ds2480-emu: unknown option \"" << arg << "\"\n" << kUsage;
            return 2;
        }
    }

    QString error;
    if (!clockFile.isEmpty() && !Clock::setVirtualShared(clockFile, QDateTime::currentDateTime(), &error)) {
        err() << "ds2480-emu: --clock " << error << "\n";
        return 2;
    }
    std::unique_ptr<SimBackend> backend =
        busFile.isEmpty() ? SimBusLoader::loadDemo(&error) : SimBusLoader::loadFile(busFile, &error);
    if (!backend) {
        err() << error << "\n";
        return 2;
    }
    SimDs2480b chip(&backend->bus());
    chip.setSilent(silent);
    SimPty port(&chip);
    if (latencyMs >= 0)
        port.setLineTiming(true, latencyMs * 1000);
    if (!port.open(link, &error)) {
        err() << "ds2480-emu: " << error << "\n";
        return 1;
    }
    out() << port.path() << "\n";
    out().flush();

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&]() {
        QByteArray line;
        char c = 0; // stays 0 when the first read finds the end of input
        while (::read(STDIN_FILENO, &c, 1) == 1 && c != '\n')
            line.append(c);
        if (line.isEmpty() && c != '\n') {
            input.setEnabled(false); // end of input: go on until killed
            return;
        }
        const QList<QByteArray> words = line.trimmed().split(' ');
        const QByteArray command = words.value(0);
        QString problem;
        if (command == "unplug") {
            port.unplug();
        } else if (command == "replug") {
            if (!port.replug(&problem))
                err() << "ds2480-emu: " << problem << "\n";
        } else if (command == "silent") {
            chip.setSilent(true);
        } else if (command == "answer") {
            chip.setSilent(false);
        } else if (command == "drop") {
            chip.dropAnswer();
        } else if (command == "corrupt") {
            chip.corruptAnswer();
        } else if (command == "vanish") {
            port.vanishAfter(words.value(1).toInt());
        } else if (command == "quit") {
            app.quit();
            return;
        } else if (!command.isEmpty()) {
            err() << "ds2480-emu: unknown command \"" << QString::fromLatin1(command) << "\"\n";
        }
        out() << "ok " << QString::fromLatin1(command) << "\n";
        out().flush();
        err().flush();
    });
    return app.exec();
}
