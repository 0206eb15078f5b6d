// ds2480-emu: an emulated DS2480B serial 1-Wire adapter on a pseudo-terminal,
// in front of a simulated bus, to try the program and test it without
// hardware. It prints the port to open and then takes commands on standard
// input, one per line, to pull the adapter out and put it back, to reset the
// chip or to garble its answers.

#include "base/clock.h"
#include "sim/simbackend.h"
#include "sim/simbusloader.h"
#include "sim/simds2480b.h"
#include "sim/simpty.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTextStream>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

const char kUsage[] =
    "usage: ds2480-emu [--link PATH] [--clock FILE] [--latency MS] [--silent] [BUSFILE]\n"
    "  BUSFILE       the simulated bus (a bus file as for --bus=sim:FILE; default: the demo bus)\n"
    "  --link PATH   also make PATH a symbolic link to the port, kept across replugs\n"
    "  --clock FILE  run in virtual time kept in FILE, shared with orvexctl --fast\n"
    "                (ORVEX_SHARED_CLOCK=FILE); without it the chip answers in real\n"
    "                time, as late as a chip would: every byte's line time at the\n"
    "                host's baud rate and every command's 1-Wire time\n"
    "  --latency MS  MS milliseconds of USB-serial converter latency per turnaround\n"
    "  --silent      the chip answers nothing (an adapter that is not there)\n"
    "  --help        this text\n"
    "A break resets the chip: on a pseudo-terminal (which carries none) SIGUSR1,\n"
    "or a NUL the program sends at half the baud rate or slower.\n"
    "Commands on standard input: unplug, replug, reset (a break), silent, answer\n"
    "(stop being silent), drop (lose the next answer byte), corrupt (flip bit 7 of\n"
    "the next answer byte), vanish N (the port vanishes after N more bytes),\n"
    "violations (the datasheet violations the program made, then cleared), quit.\n"
    "Each command is answered \"ok COMMAND\" on standard output.\n";

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

struct Options
{
    QString link;
    QString clockFile;
    QString busFile;
    bool silent = false;
    int latencyMs = -1;
};

// Reads the command line into *options; false after printing why not (or
// the usage, with *exitCode 0).
bool parseOptions(const QStringList &args, Options *options, int *exitCode)
{
    for (int i = 0; i < args.size(); ++i) {
        const QString arg = args.at(i);
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            out() << kUsage;
            *exitCode = 0;
            return false;
        } else if (arg == QLatin1String("--link") && i + 1 < args.size()) {
            options->link = args.at(++i);
        } else if (arg == QLatin1String("--clock") && i + 1 < args.size()) {
            options->clockFile = args.at(++i);
        } else if (arg == QLatin1String("--latency") && i + 1 < args.size()) {
            bool ok = false;
            options->latencyMs = args.at(++i).toInt(&ok);
            if (!ok || options->latencyMs < 0 || options->latencyMs > 1000) {
                err() << "ds2480-emu: --latency wants milliseconds from 0 to 1000\n";
                *exitCode = 2;
                return false;
            }
        } else if (arg == QLatin1String("--silent")) {
            options->silent = true;
        } else if (!arg.startsWith(QLatin1String("--")) && options->busFile.isEmpty()) {
            options->busFile = arg;
        } else {
            err() << "ds2480-emu: unknown option \"" << arg << "\"\n" << kUsage;
            *exitCode = 2;
            return false;
        }
    }
    return true;
}

// SIGUSR1 stands for a break: the handler only writes to this pipe, and the
// event loop resets the chip.
int breakPipe[2] = {-1, -1};

void onBreakSignal(int)
{
    const char b = 1;
    const ssize_t written = ::write(breakPipe[1], &b, 1);
    (void)written;
}

// The commands on standard input; one line each time the notifier fires.
class Console
{
public:
    Console(SimDs2480b *chip, SimPty *port)
        : m_chip(chip)
        , m_port(port)
    {
    }
    // Reads one line; false at the end of input.
    bool readLine(QByteArray *line)
    {
        char c = 0; // stays 0 when the first read finds the end of input
        while (::read(STDIN_FILENO, &c, 1) == 1 && c != '\n')
            line->append(c);
        return !(line->isEmpty() && c != '\n');
    }
    // Carries out one command; false for quit.
    bool run(const QByteArray &line)
    {
        const QList<QByteArray> words = line.trimmed().split(' ');
        const QByteArray command = words.value(0);
        QString problem;
        if (command == "unplug") {
            m_port->unplug();
        } else if (command == "replug") {
            if (!m_port->replug(&problem))
                err() << "ds2480-emu: " << problem << "\n";
        } else if (command == "reset") {
            m_chip->masterReset();
        } else if (command == "silent") {
            m_chip->setSilent(true);
        } else if (command == "answer") {
            m_chip->setSilent(false);
        } else if (command == "drop") {
            m_chip->dropAnswer();
        } else if (command == "corrupt") {
            m_chip->corruptAnswer();
        } else if (command == "vanish") {
            m_port->vanishAfter(words.value(1).toInt());
        } else if (command == "violations") {
            const QStringList violations = m_chip->violations();
            out() << "violations " << violations.size();
            for (const QString &v : violations)
                out() << "; " << v;
            out() << "\n";
            m_chip->clearViolations();
        } else if (command == "quit") {
            return false;
        } else if (!command.isEmpty()) {
            err() << "ds2480-emu: unknown command \"" << QString::fromLatin1(command) << "\"\n";
        }
        out() << "ok " << QString::fromLatin1(command) << "\n";
        out().flush();
        err().flush();
        return true;
    }

private:
    SimDs2480b *m_chip;
    SimPty *m_port;
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    Options options;
    int exitCode = 0;
    if (!parseOptions(app.arguments().mid(1), &options, &exitCode))
        return exitCode;

    QString error;
    if (!options.clockFile.isEmpty()) {
        if (!Clock::setVirtualShared(options.clockFile, QDateTime::currentDateTime(), &error)) {
            err() << "ds2480-emu: --clock " << error << "\n";
            return 2;
        }
    } else {
        // Real time: the chip keeps its own clock, never behind real time,
        // and its answers wait until that clock says they are due.
        Clock::setVirtual(QDateTime::currentDateTime());
    }
    std::unique_ptr<SimBackend> backend = options.busFile.isEmpty() ? SimBusLoader::loadDemo(&error)
                                                                    : SimBusLoader::loadFile(options.busFile, &error);
    if (!backend) {
        err() << error << "\n";
        return 2;
    }
    SimDs2480b chip(&backend->bus());
    chip.setSilent(options.silent);
    SimPty port(&chip);
    // In real time the line is always timed; on a shared clock only when
    // asked, so a run's times match the simulated bus's.
    const bool realTime = options.clockFile.isEmpty();
    if (realTime || options.latencyMs >= 0)
        port.setLineTiming(true, std::max(0, options.latencyMs) * 1000);
    port.setRealTimePacing(realTime);
    if (!port.open(options.link, &error)) {
        err() << "ds2480-emu: " << error << "\n";
        return 1;
    }
    out() << port.path() << "\n";
    out().flush();

    if (::pipe2(breakPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        err() << "ds2480-emu: pipe: " << strerror(errno) << "\n";
        return 1;
    }
    std::signal(SIGUSR1, onBreakSignal);
    QSocketNotifier breaks(breakPipe[0], QSocketNotifier::Read);
    QObject::connect(&breaks, &QSocketNotifier::activated, [&]() {
        char drained[16];
        while (::read(breakPipe[0], drained, sizeof drained) > 0) {
        }
        chip.masterReset();
    });

    Console console(&chip, &port);
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, [&]() {
        QByteArray line;
        if (!console.readLine(&line)) {
            input.setEnabled(false); // end of input: go on until killed
            return;
        }
        if (!console.run(line))
            app.quit();
    });
    return app.exec();
}
