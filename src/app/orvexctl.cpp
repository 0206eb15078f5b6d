// orvexctl's commands: scan, ports and read, on the measurement session the
// window uses, with the outputs of the registry it is given.

#include "app/orvexctl.h"

#include "base/appsettings.h"
#include "base/clock.h"
#include "bus/busbackend.h"
#include "model/channelid.h"
#include "onewire/adapter.h"
#include "onewire/tmex.h"
#include "sensors/acquisition.h"
#include "sensors/sensor.h"
#include "session/busoption.h"
#include "session/masterregistry.h"
#include "session/measurementsession.h"
#include "session/outputregistry.h"
#include "sim/simdevicefactory.h"
#include "sim/simi2cfactory.h"
#include "table/recorder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QTextCodec>
#include <QTextStream>
#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstring>
#include <memory>

namespace {

QTextStream &out()
{
    static QTextStream stream(stdout);
    stream.setCodec("UTF-8");
    return stream;
}

QTextStream &err()
{
    static QTextStream stream(stderr);
    stream.setCodec("UTF-8");
    return stream;
}

QString translated(const char *source)
{
    return QCoreApplication::translate("Orvexctl", source);
}

// orvexctl's own texts are English at the source; the Russian comes from the
// translation like the window's English does.
const char kUsageCommands[] = QT_TRANSLATE_NOOP(
    "Orvexctl",
    "usage: orvexctl scan [--bus=VALUE ...] [--verbose]\n"
    "       orvexctl ports [PORT...]\n"
    "       orvexctl types\n"
    "       orvexctl thresholds ROM TL:TH [--bus=VALUE ...] [--fast] [--verbose]\n"
    "       orvexctl read [--bus=VALUE ...] [--cycles N] [--interval S] [--fast [--start T]]\n"
    "                     [--record DIR [--template TEMPLATE]] [--verbose]\n");

const char kUsageOptions[] = QT_TRANSLATE_NOOP(
    "Orvexctl",
    "  --cycles N      measurement cycles to run (default 1); 0: until stopped (SIGTERM, SIGINT), which\n"
    "                  ends the cycle under way, writes out files and queue, and exits 0\n"
    "  --interval S    seconds from the start of one cycle to the next (default 0)\n"
    "  --fast          simulated bus only: run in virtual time, without real waiting; over a serial\n"
    "                  bus, the emulated adapter's clock file in ORVEX_SHARED_CLOCK (ds2480-emu --clock)\n"
    "  --start T       with --fast: the virtual clock's start, local time yyyy-MM-ddThh:mm:ss (default: now)\n"
    "  --help, -h      print this text and stop; --version: print the version and stop\n"
    "  --record DIR    write the measurement files into the folder DIR (made when missing), as the window does\n"
    "  --template TEMPLATE  file-name template for --record (default: the stored setting\n"
    "                  Settings/OutFileFormat, else %DATE%-%TIME%_%TS%%SC%_%SN1W%_%I2CSNH%_%I2CSNL%_%I2CA%_%MHCH%)\n"
    "  --verbose       print the program's log messages on standard error\n"
    "  ports           the serial ports (or the PORTs given) and whether a DS2480B adapter answers there\n"
    "  types           the chip types a bus file (sim:FILE) may hold: default family and the keys each reads\n");

const char kExitCodes[] = QT_TRANSLATE_NOOP(
    "Orvexctl",
    "exit codes: 0 done; 1 the adapter did not open (ports: no DS2480B answered); 2 a bad option, bus or\n"
    "  file (an unreadable MQTT password or CA file, a CA file without a certificate, a queue in use);\n"
    "  3 the MQTT broker refused the credentials or TLS failed, 4 the MQTT broker was not reached at all:\n"
    "  the readings stay queued; 5 readings were not delivered: the broker did not take them all in the\n"
    "  wait at the end (they stay queued), or the queue could not keep some (they are lost); a run\n"
    "  stopped by a signal ends 0 when all it did not deliver stays queued; 6 thresholds were not written\n"
    "  into the thermometer; 7 the --record folder did not take every reading (the count is on stderr)\n");

// `words` after `line`, wrapped at 100 columns, further lines indented by
// `indent` columns (where the options' texts begin).
QString wrapped(QString line, const QStringList &words, int indentColumns = 18)
{
    const int kWidth = 100;
    const QString indent(indentColumns, QLatin1Char(' '));
    QString done;
    bool fresh = true; // no word on `line` yet
    for (const QString &word : words) {
        if (!fresh && line.size() + 1 + word.size() > kWidth) {
            done += line + QLatin1Char('\n');
            line = indent;
            fresh = true;
        }
        if (!fresh)
            line += QLatin1Char(' ');
        line += word;
        fresh = false;
    }
    return done + line + QLatin1Char('\n');
}

// The usage; its bus values and default choice are the registered masters',
// the options of outputs the registered outputs'.
QString usage(const QVector<OutputEntry> &outputs)
{
    // A line break goes before a "|", never after it.
    QStringList forms = MasterRegistry::forms();
    for (int i = 1; i < forms.size(); ++i)
        forms[i].prepend(QLatin1String("| "));
    QStringList defaults;
    for (const MasterEntry *entry : MasterRegistry::defaultOrder())
        defaults << translated(entry->defaultUsage.toUtf8().constData());
    const QString defaultText = QCoreApplication::translate("Orvexctl", "the bus (default: ORVEX_BUS, else %1)")
                                    .arg(defaults.join(QCoreApplication::translate("Orvexctl", ", else ")));
    // The outputs' options continue the last command's synopsis, lined up
    // under its continuation line, whose indent differs with the language.
    const QString commands = translated(kUsageCommands);
    const QString lastLine = commands.section(QLatin1Char('\n'), -2, -2);
    int indent = 0;
    while (indent < lastLine.size() && lastLine.at(indent) == QLatin1Char(' '))
        ++indent;
    const QString outputsLine = wrapped(QString(indent, QLatin1Char(' ')), OutputRegistry::synopsis(outputs), indent);
    return commands + (outputsLine.trimmed().isEmpty() ? QString() : outputsLine)
        + wrapped(QStringLiteral("  --bus="), forms)
        + wrapped(QString(18, QLatin1Char(' ')), defaultText.split(QLatin1Char(' ')))
        + translated(kUsageOptions) + OutputRegistry::optionsUsage(outputs);
}

struct ReadOptions
{
    int cycles = 1;
    int intervalS = 0;
    QString recordFolder;   // empty: no recording
    bool templateGiven = false;
    QString nameTemplate;   // already cleaned
    // The outputs the options and settings ask for, in the registry's order.
    std::vector<SessionDescription::PlannedOutput> outputs;
};

// The registered outputs of this run (the program's, or a test's).
const QVector<OutputEntry> *g_outputs = nullptr;

int usageError(const QString &what)
{
    err() << "orvexctl: " << what << "\n" << usage(*g_outputs);
    return 2;
}

// The exit code of a run whose --record folder did not take every reading.
const int kUnwrittenReadings = 7;

// Set by SIGTERM and SIGINT: the cycle under way is the last.
volatile std::sig_atomic_t g_stopRequested = 0;

void requestStop(int)
{
    g_stopRequested = 1;
}

// SIGTERM and SIGINT end an endless run after its current cycle instead of
// killing it; without SA_RESTART, so a wait between cycles ends at once.
void catchStopSignals()
{
    struct sigaction action = {};
    action.sa_handler = requestStop;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGTERM, SIGINT})
        sigaction(signal, &action, nullptr);
}

// Why the adapter did not open, in one line: the bus's own words (no such
// port, no USB adapter plugged in) where it has them, else the driver's status.
QString openFailure(const Adapter &adapter, const BusBackend *backend)
{
    if (backend && !backend->problem().isEmpty())
        return backend->problem();
    return adapter.statusText().replace(QLatin1Char('\n'), QStringLiteral("; "));
}

// The pause until the next cycle, cut short by a stop request; the
// publisher's network answers are taken meanwhile.
void waitForNextCycle(qint64 waitMs)
{
    const qint64 endMs = Clock::tickMs() + waitMs;
    while (!g_stopRequested) {
        QCoreApplication::processEvents();
        const qint64 leftMs = endMs - Clock::tickMs();
        if (leftMs <= 0)
            break;
        Clock::sleepMs(int(qMin<qint64>(leftMs, 100)));
    }
}

// What answers behind a DS28E17: every hub channel and sensor type is tried
// (the stored scan options do not narrow it), one indented line per sensor:
// hub channel, I2C address byte, I2C serial, the sensor's channel types.
void describeBridge(const RomId &rom, MeasurementSession &session, int bus)
{
    SensorDevice device;
    session.readBridge(bus, rom, device);
    if (device.channels.isEmpty()) {
        out() << "    " << QCoreApplication::translate("Orvexctl", "no I2C sensor answers") << "\n";
        return;
    }
    QStringList lines;
    QStringList keys;
    for (const SensorChannel &c : device.channels) {
        const QString serial = c.i2cSerialText();
        const QString key = QStringLiteral("%1/%2/%3").arg(c.hubChannel).arg(c.i2cAddress).arg(serial);
        const int at = keys.indexOf(key);
        if (at >= 0) {
            lines[at] += QStringLiteral(", ") + c.type;
            continue;
        }
        keys << key;
        lines << QStringLiteral("    hub channel %1  I2C address 0x%2  I2C serial %3  %4")
                     .arg(c.hubChannel)
                     .arg(QString::number(c.i2cAddress, 16).toUpper().rightJustified(2, QLatin1Char('0')))
                     .arg(serial.isEmpty() ? QStringLiteral("-") : serial, c.type);
    }
    for (const QString &line : lines)
        out() << line << "\n";
}

// Every bus in turn: with several, each bus's lines follow a line naming it.
int scan(MeasurementSession &session, const QStringList &busValues)
{
    session.open();
    int result = 0;
    for (int bus = 0; bus < session.busCount(); ++bus) {
        if (session.busCount() > 1)
            out() << "bus " << busValues.value(bus) << "\n";
        Adapter &adapter = session.adapter(bus);
        if (session.busResult(bus).openResult != 1) {
            out().flush();
            err() << "orvexctl: " << openFailure(adapter, session.backend(bus)) << "\n";
            result = 1;
            continue;
        }
        out() << adapter.statusText() << "\n";
        RomList roms;
        session.searchRoms(bus, roms);
        for (const RomId &rom : roms) {
            out() << romToText(rom, false) << "  " << romToText(rom, true) << "  "
                  << Sensor::describeFamily(rom.at(0) & 0xFF) << "\n";
            // A device the program reads that this bus cannot reach beyond
            // the search says why.
            uint8_t bytes[8];
            for (int i = 0; i < 8; ++i)
                bytes[i] = uint8_t(rom.value(i));
            const Sensor::Family *family = Sensor::findFamily(bytes[0]);
            const QString unreachable = session.backend(bus) && family && family->read
                                            ? session.backend(bus)->deviceProblem(bytes)
                                            : QString();
            if (!unreachable.isEmpty())
                out() << "    " << unreachable << "\n";
            else if ((rom.at(0) & 0xFF) == 0x19)
                describeBridge(rom, session, bus);
        }
    }
    out().flush();
    return result;
}

// What became of one bus in a cycle, for the lines of its channels.
enum class BusCycle { Read, NoAdapter, AdapterLost };

// Why a channel has no reading of this cycle, in the operator's words.
QString notReadText(const SensorDevice &device, const SensorChannel &channel, BusCycle bus)
{
    switch (bus) {
    case BusCycle::NoAdapter:
        return QCoreApplication::translate("Orvexctl", "not read: the adapter did not open");
    case BusCycle::AdapterLost:
        return QCoreApplication::translate("Orvexctl", "not read: the adapter was lost during the cycle");
    case BusCycle::Read:
        break;
    }
    if (!(device.presence & 1))
        return QCoreApplication::translate("Orvexctl", "not read: not found by this cycle's search");
    if (channel.missed)
        return QCoreApplication::translate("Orvexctl", "not read: the device did not answer");
    return QCoreApplication::translate("Orvexctl", "not read in this cycle");
}

// One line per channel: cycle, ROM, subchannel, hub channel, I2C serial,
// type, value, unit. A value is printed only for a reading taken in this
// cycle (a reading number not printed before); a failed reading and a
// channel without a reading of this cycle print "---" and, after the unit,
// why. `printed` holds each channel's last printed reading number.
void printCycle(int cycle, MeasurementSession &session, const QVector<BusCycle> &buses,
                QHash<ChannelId, uint64_t> &printed)
{
    for (int bus = 0; bus < session.busCount(); ++bus) {
        for (const SensorDevice *device : qAsConst(*session.sensor(bus).devices())) {
            for (int index = 0; index < device->channels.size(); ++index) {
                const SensorChannel &channel = device->channels.at(index);
                uint64_t &last = printed[ChannelId::of(*device, index)];
                const bool fresh = channel.reading > last && !channel.missed;
                QString value = QStringLiteral("---");
                QString why;
                if (!fresh)
                    why = notReadText(*device, channel, buses.at(bus));
                else if (std::isnan(channel.value))
                    why = Sensor::failureText(channel.failure);
                else
                    value = QString::number(channel.value, 'f', channel.decimals());
                if (fresh)
                    last = channel.reading;
                out() << cycle << '\t' << romToText(device->rom, false) << '\t' << channel.subchannel << '\t'
                      << channel.hubChannel << '\t' << channel.i2cSerialText() << '\t' << channel.type << '\t'
                      << value << '\t' << channel.unit;
                if (!why.isEmpty())
                    out() << '\t' << why;
                out() << '\n';
            }
        }
    }
    out().flush();
}

// The files are written by the window's own table and recorder, through the
// same measurement session: after every cycle the table update hands each
// new reading to the recorder, exactly as the window's timer does.
int read(MeasurementSession &session, const ReadOptions &options)
{
    const bool recording = !options.recordFolder.isEmpty();
    int opened = 0;
    const bool endless = options.cycles == 0;
    if (endless)
        catchStopSignals();
    QHash<ChannelId, uint64_t> printed;
    for (int cycle = 1; endless || cycle <= options.cycles; ++cycle) {
        const qint64 startMs = Clock::tickMs();
        session.cycle();
        opened = 1;
        QVector<BusCycle> buses(session.busCount(), BusCycle::Read);
        const QString cycleText = QCoreApplication::translate("Orvexctl", "cycle %1").arg(cycle);
        for (int bus = 0; bus < session.busCount(); ++bus) {
            Adapter &adapter = session.adapter(bus);
            if (session.busResult(bus).openResult != 1) {
                opened = session.busResult(bus).openResult;
                buses[bus] = BusCycle::NoAdapter;
                err() << "orvexctl: " << cycleText << ": " << openFailure(adapter, session.backend(bus)) << "\n";
            } else if (adapter.tmex().TMValidSession(adapter.sessionHandle()) != 1) {
                // Opened at the start of the cycle and gone before its end:
                // the readings after that point are missing.
                buses[bus] = BusCycle::AdapterLost;
                err() << "orvexctl: " << cycleText << ": "
                      << QCoreApplication::translate("Orvexctl", "the adapter was lost during the cycle") << ": "
                      << openFailure(adapter, session.backend(bus)) << "\n";
            }
        }
        if (recording) {
            const QString problem = session.recorder().problemText();
            if (!problem.isEmpty())
                err() << "orvexctl: " << cycleText << ": " << problem << "\n";
        }
        // Everything about a finished cycle is out before the next one
        // starts, so a stopped run loses none of it: the error lines first,
        // then the readings.
        err().flush();
        printCycle(cycle, session, buses, printed);
        if (g_stopRequested)
            break;
        if (endless || cycle < options.cycles)
            waitForNextCycle(startMs + qint64(options.intervalS) * 1000 - Clock::tickMs());
        if (g_stopRequested)
            break;
    }
    const int delivered = session.finishOutputs();
    int code = opened != 1 ? 1 : delivered;
    // Readings the files never got are a failed run, not a done one.
    const int unwritten = recording ? session.recorder().unwrittenReadings() : 0;
    if (unwritten > 0) {
        err() << "orvexctl: --record: " << options.recordFolder << ": "
              << QCoreApplication::translate("Orvexctl", "%n reading(s) could not be written", nullptr, unwritten) << "\n";
        if (code == 0)
            code = kUnwrittenReadings;
    }
    err().flush();
    return code;
}

// What every master finds plugged in (the serial ports, or the PORTs given,
// and whether a DS2480B answers there; the USB adapters), one line each.
// Exit code 0 when an adapter answered.
// One cycle, so the write goes to a thermometer whose fresh reading passed
// its checks, then the write of its own TH and TL; the outcome in words.
int thresholds(MeasurementSession &session, const QString &romText, int lowCelsius, int highCelsius)
{
    session.cycle();
    if (session.busResult(0).openResult != 1) {
        err() << openFailure(session.adapter(), session.backend()) << "\n";
        return 1;
    }
    uint64_t key = 0;
    for (const SensorDevice *device : session.allDevices()) {
        if (device && romToText(device->rom, false).compare(romText, Qt::CaseInsensitive) == 0)
            key = device->key;
    }
    int result = 0;
    session.writeThresholds(key, highCelsius, lowCelsius, [&result](int outcome) { result = outcome; });
    const QString text = MeasurementSession::thresholdsResultText(result);
    if (result != 1) {
        err() << "orvexctl: " << romText << ": " << text << "\n";
        return 6;
    }
    out() << romText << ": " << text << "\n";
    out().flush();
    return 0;
}

// "TL:TH" as whole degrees; false when it is not that.
bool parseThresholds(const QString &text, int *low, int *high)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    bool lowOk = false, highOk = false;
    if (parts.size() == 2) {
        *low = parts.at(0).toInt(&lowOk);
        *high = parts.at(1).toInt(&highOk);
    }
    return lowOk && highOk;
}

int ports(const QStringList &paths)
{
    QVector<MasterEntry::Found> found;
    for (const MasterEntry &entry : MasterRegistry::entries()) {
        if (entry.survey)
            found += entry.survey(paths);
    }
    if (found.isEmpty())
        err() << "orvexctl: " << QCoreApplication::translate("Orvexctl", "no serial ports") << "\n";
    bool answered = false;
    for (const MasterEntry::Found &f : found) {
        out() << f.line << "\n";
        answered = answered || f.answers;
    }
    out().flush();
    err().flush();
    return answered ? 0 : 1;
}

// The chip types of bus files, from the bus loader's own tables: the 1-Wire
// chips with their default family, then the I2C chips behind a bridge, each
// with the keys it reads besides those every entry has.
int types()
{
    const auto line = [](const QString &type, const QString &family, const QStringList &keys) {
        const QString text = type.leftJustified(18) + family.leftJustified(11) + keys.join(QLatin1Char(' '));
        out() << text.trimmed() << "\n";
    };
    for (const QString &type : SimDeviceFactory::types()) {
        const QString family = QString::number(SimDeviceFactory::defaultFamily(type), 16).toUpper();
        line(type, QStringLiteral("family ") + family.rightJustified(2, QLatin1Char('0')), SimDeviceFactory::keys(type));
    }
    line(QStringLiteral("i2c[]"), QString(), SimI2cFactory::commonKeys());
    for (const QString &type : SimI2cFactory::types())
        line(QStringLiteral("i2c ") + type, QString(), SimI2cFactory::keys(type));
    out().flush();
    return 0;
}

// A whole number written as decimal digits only: no sign, no blanks, no
// other base, so " 2" or "+3" is refused rather than read as 2 or 3.
bool takeNumber(QStringList &args, int index, int min, int max, int *out)
{
    if (index + 1 >= args.size())
        return false;
    const QString text = args.at(index + 1);
    if (text.isEmpty() || text.size() > 9)
        return false;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    const int value = text.toInt();
    if (value < min || value > max)
        return false;
    *out = value;
    args.removeAt(index + 1);
    return true;
}

bool takeText(QStringList &args, int index, QString *out)
{
    if (index + 1 >= args.size())
        return false;
    *out = args.takeAt(index + 1);
    return true;
}

// Takes the options of `scan` and `read` from `args`, leaving the bus
// choice there. Returns -1 when they are good, else the exit code after the
// usage error has been printed.
int takeOptions(QStringList &args, const QString &command, ReadOptions *options, bool *fast, QDateTime *start)
{
    if (command == QLatin1String("read")) {
        // Every registered output takes its options; the stored settings are
        // their defaults, and only its option turns one on.
        QString error;
        if (!OutputRegistry::plan(*g_outputs, appSettings(), &args, &options->outputs, &error))
            return usageError(error);
    }
    bool startGiven = false;
    QString startText;
    QString templateText;
    for (int i = 0; i < args.size(); ++i) {
        const QString arg = args.at(i);
        if (arg.startsWith(QLatin1String("--bus=")))
            continue;
        const bool read = command == QLatin1String("read");
        if (read && arg == QLatin1String("--cycles")) {
            if (!takeNumber(args, i, 0, 1000000, &options->cycles))
                return usageError(QCoreApplication::translate("Orvexctl", "--cycles takes a whole number from 0 (0: until stopped)"));
        } else if (read && arg == QLatin1String("--interval")) {
            if (!takeNumber(args, i, 0, 86400, &options->intervalS))
                return usageError(QCoreApplication::translate("Orvexctl", "--interval takes whole seconds from 0 to 86400"));
        } else if ((read || command == QLatin1String("thresholds")) && arg == QLatin1String("--fast")) {
            *fast = true;
        } else if (read && arg == QLatin1String("--start")) {
            if (!takeText(args, i, &startText))
                return usageError(QCoreApplication::translate("Orvexctl", "--start takes a local time yyyy-MM-ddThh:mm:ss"));
            startGiven = true;
        } else if (read && arg == QLatin1String("--record")) {
            if (!takeText(args, i, &options->recordFolder) || options->recordFolder.isEmpty())
                return usageError(QCoreApplication::translate("Orvexctl", "--record takes a folder"));
        } else if (read && arg == QLatin1String("--template")) {
            if (!takeText(args, i, &templateText))
                return usageError(QCoreApplication::translate("Orvexctl", "--template takes a file-name template"));
            options->templateGiven = true;
        } else {
            return usageError(QCoreApplication::translate("Orvexctl", "unknown option \"%1\"").arg(arg));
        }
    }

    if (startGiven) {
        if (!*fast)
            return usageError(QCoreApplication::translate("Orvexctl", "--start needs --fast"));
        *start = QDateTime::fromString(startText, QStringLiteral("yyyy-MM-ddThh:mm:ss"));
        if (!start->isValid())
            return usageError(QCoreApplication::translate("Orvexctl", "--start takes a local time yyyy-MM-ddThh:mm:ss, not \"%1\"").arg(startText));
    }
    if (options->templateGiven) {
        if (options->recordFolder.isEmpty())
            return usageError(QCoreApplication::translate("Orvexctl", "--template needs --record"));
        // As the template window takes a template: blank means the default,
        // characters that may not stand in a file name become "_".
        if (templateText.trimmed().isEmpty())
            templateText = QString::fromLatin1(Recorder::DefaultTemplate);
        Recorder::sanitizeTemplate(templateText);
        options->nameTemplate = templateText;
    }
    if (!options->recordFolder.isEmpty()) {
        const QFileInfo folder(options->recordFolder);
        if (!folder.isDir()) {
            if (folder.exists() || !QDir().mkpath(options->recordFolder)) {
                err() << "orvexctl: --record: "
                      << QCoreApplication::translate("Orvexctl", "\"%1\" is no folder and cannot be made one")
                             .arg(options->recordFolder)
                      << "\n";
                return 2;
            }
            err() << "orvexctl: --record: "
                  << QCoreApplication::translate("Orvexctl", "made the folder \"%1\"").arg(options->recordFolder) << "\n";
        }
        options->recordFolder = QDir::cleanPath(folder.absoluteFilePath());
        // File names may hold Russian letters; the window writes them in UTF-8.
        QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
    }

    return -1;
}

// --fast: virtual time from `start` (default: now), shared with an emulated
// adapter in another process through ORVEX_SHARED_CLOCK. -1 when it runs,
// else the exit code after the error line.
int startVirtualClock(const std::vector<std::unique_ptr<BusBackend>> &buses, const QDateTime &start)
{
    const QString sharedClock = QString::fromLocal8Bit(qgetenv("ORVEX_SHARED_CLOCK"));
    const bool simulated = std::all_of(buses.begin(), buses.end(), [](const std::unique_ptr<BusBackend> &bus) {
        return BusOption::simulated(bus.get()) != nullptr;
    });
    if (!simulated && sharedClock.isEmpty())
        return usageError(QCoreApplication::translate("Orvexctl", "--fast needs a simulated bus, or the emulated "
                                                             "adapter's clock file in ORVEX_SHARED_CLOCK"));
    const QDateTime begin = start.isValid() ? start : Clock::now();
    QString error;
    if (sharedClock.isEmpty()) {
        Clock::setVirtual(begin);
    } else if (!Clock::setVirtualShared(sharedClock, begin, &error)) {
        err() << "orvexctl: ORVEX_SHARED_CLOCK: " << error << "\n";
        return 2;
    }
    return -1;
}

} // namespace

int orvexctlMain(QStringList args, const QVector<OutputEntry> &outputs)
{
    g_outputs = &outputs;
    args.removeAll(QStringLiteral("--verbose"));

    if (args.isEmpty())
        return usageError(QCoreApplication::translate("Orvexctl", "no command"));
    // Asked for anywhere on the line, they answer alone.
    if (args.contains(QStringLiteral("--help")) || args.contains(QStringLiteral("-h"))) {
        out() << usage(outputs) << translated(kExitCodes);
        out().flush();
        return 0;
    }
    if (args.contains(QStringLiteral("--version"))) {
        out() << "orvexctl " << ORVEX_VERSION << "\n";
        out().flush();
        return 0;
    }
    const QString command = args.takeFirst();
    if (command == QLatin1String("ports"))
        return ports(args);
    if (command == QLatin1String("types") && args.isEmpty())
        return types();
    const bool writesThresholds = command == QLatin1String("thresholds");
    if (command != QLatin1String("scan") && command != QLatin1String("read") && !writesThresholds)
        return usageError(QCoreApplication::translate("Orvexctl", "unknown command \"%1\"").arg(command));
    QString thermometer;
    int lowCelsius = 0, highCelsius = 0;
    if (writesThresholds) {
        if (args.size() < 2 || args.at(0).startsWith(QLatin1Char('-'))
            || !parseThresholds(args.at(1), &lowCelsius, &highCelsius))
            return usageError(QCoreApplication::translate("Orvexctl", "thresholds takes a ROM and TL:TH in whole degrees, e.g. 28FF641E1D160300 10:30"));
        thermometer = args.takeFirst();
        args.removeFirst();
    }

    ReadOptions options;
    bool fast = false;
    QDateTime start;
    const int refused = takeOptions(args, command, &options, &fast, &start);
    if (refused >= 0)
        return refused;

    QString error;
    SessionDescription description;
    description.buses = BusOption::openAll(args, &error);
    if (description.buses.empty()) {
        err() << error << "\n";
        return 2;
    }
    // The operator's scan options, as the window applies them.
    description.scanAllChannel = storedScanAllChannel(appSettings());
    description.scanAllType = storedScanAllType(appSettings());
    if (command == QLatin1String("scan")) {
        const std::unique_ptr<MeasurementSession> session = MeasurementSession::fromDescription(std::move(description), nullptr);
        return scan(*session, BusOption::values(args));
    }
    if (fast) {
        const int refusedClock = startVirtualClock(description.buses, start);
        if (refusedClock >= 0)
            return refusedClock;
    }
    if (writesThresholds) {
        const std::unique_ptr<MeasurementSession> session = MeasurementSession::fromDescription(std::move(description), nullptr);
        return thresholds(*session, thermometer, lowCelsius, highCelsius);
    }
    // The table runs while recording or while an output listens.
    description.recordingFolder = options.recordFolder;
    if (options.templateGiven)
        description.nameTemplate = options.nameTemplate;
    description.outputs = std::move(options.outputs);
    description.host.cycleS = options.intervalS;
    description.host.report = [](const QString &line) {
        err() << "orvexctl: " << line << "\n";
        err().flush();
    };
    description.host.stopRequested = [] { return g_stopRequested != 0; };
    const std::function<void(const QString &)> report = description.host.report;
    // Made only now, so %DATE% and %TIME% name the clock's start.
    const std::unique_ptr<MeasurementSession> session = MeasurementSession::fromDescription(std::move(description), &error);
    if (!error.isEmpty()) {
        // An output that cannot start ends the run before its first cycle.
        for (const QString &line : error.split(QLatin1Char('\n')))
            report(line);
        return 2;
    }
    return read(*session, options);
}
