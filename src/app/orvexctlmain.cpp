// orvexctl: checks a 1-Wire bus and its readings from a terminal, without
// the window, through the same adapter, search, sensor model and drivers.

#include "app/busoption.h"
#include "onewire/adapter.h"
#include "onewire/familynames.h"
#include "platform/clock.h"
#include "sensors/acquisition.h"
#include "sensors/sensor.h"

#include <QCoreApplication>
#include <QTextStream>
#include <cmath>

namespace {

void quietHandler(QtMsgType, const QMessageLogContext &, const QString &)
{
}

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

const char kUsage[] =
    "usage: orvexctl scan [--bus=VALUE] [--verbose]\n"
    "       orvexctl read [--bus=VALUE] [--cycles N] [--interval S] [--fast] [--verbose]\n"
    "  --bus=sim | sim:FILE | tmex | tmex:PATH   the bus (default: ORVEX_BUS, else the driver or the demo bus)\n"
    "  --cycles N      measurement cycles to run (default 1)\n"
    "  --interval S    seconds from the start of one cycle to the next (default 0)\n"
    "  --fast          simulated bus only: run in virtual time, without real waiting\n"
    "  --verbose       print the program's log messages on standard error\n";

int usageError(const QString &what)
{
    err() << "orvexctl: " << what << "\n" << kUsage;
    return 2;
}

int scan()
{
    Adapter &adapter = Adapter::instance();
    const int opened = adapter.open();
    out() << adapter.statusText() << "\n";
    if (opened != 1) {
        out().flush();
        return 1;
    }
    RomList roms;
    adapter.search(roms);
    for (const RomId &rom : roms) {
        out() << romToText(rom, false) << "  " << romToText(rom, true) << "  "
              << FamilyNames::describe(rom.at(0) & 0xFF) << "\n";
    }
    out().flush();
    return 0;
}

QString i2cSerialText(const SensorChannel &channel)
{
    QString text;
    if (channel.i2cSerialHigh != 0)
        text += QString::number(channel.i2cSerialHigh, 16).toUpper() + QLatin1Char(' ');
    if (channel.i2cSerialLow != 0)
        text += QString::number(channel.i2cSerialLow, 16).toUpper();
    return text;
}

// One line per channel: cycle, ROM, subchannel, hub channel, I2C serial, type, value, unit.
void printCycle(int cycle, const QVector<SensorDevice *> &devices)
{
    for (const SensorDevice *device : devices) {
        for (const SensorChannel &channel : device->channels) {
            const QString value = std::isnan(channel.value) ? QStringLiteral("---")
                                                            : QString::number(channel.value, 'f', 2);
            out() << cycle << '\t' << romToText(device->rom, false) << '\t' << channel.subchannel << '\t'
                  << channel.hubChannel << '\t' << i2cSerialText(channel) << '\t' << channel.type << '\t'
                  << value << '\t' << channel.unit << '\n';
        }
    }
    out().flush();
}

int read(int cycles, int intervalS)
{
    Sensor sensor;
    Acquisition acquisition(&sensor);
    int opened = 0;
    for (int cycle = 1; cycle <= cycles; ++cycle) {
        const qint64 startMs = Clock::tickMs();
        const Acquisition::Result result = acquisition.refresh();
        opened = result.openResult;
        if (opened != 1)
            err() << "orvexctl: cycle " << cycle << ": " << Adapter::instance().statusText() << "\n";
        sensor.measureAll();
        printCycle(cycle, *sensor.devices());
        if (cycle < cycles) {
            const qint64 waitMs = startMs + qint64(intervalS) * 1000 - Clock::tickMs();
            if (waitMs > 0)
                Clock::sleepMs(int(waitMs));
        }
    }
    err().flush();
    return opened == 1 ? 0 : 1;
}

bool takeNumber(QStringList &args, int index, int min, int max, int *out)
{
    if (index + 1 >= args.size())
        return false;
    bool ok = false;
    const int value = args.at(index + 1).toInt(&ok);
    if (!ok || value < min || value > max)
        return false;
    *out = value;
    args.removeAt(index + 1);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (!args.removeAll(QStringLiteral("--verbose")))
        qInstallMessageHandler(quietHandler);

    if (args.isEmpty())
        return usageError(QStringLiteral("no command"));
    const QString command = args.takeFirst();
    if (command != QLatin1String("scan") && command != QLatin1String("read"))
        return usageError(QStringLiteral("unknown command \"%1\"").arg(command));

    int cycles = 1, intervalS = 0;
    bool fast = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString arg = args.at(i);
        if (arg.startsWith(QLatin1String("--bus=")))
            continue;
        if (command == QLatin1String("read") && arg == QLatin1String("--cycles")) {
            if (!takeNumber(args, i, 1, 1000000, &cycles))
                return usageError(QStringLiteral("--cycles takes a whole number from 1"));
        } else if (command == QLatin1String("read") && arg == QLatin1String("--interval")) {
            if (!takeNumber(args, i, 0, 86400, &intervalS))
                return usageError(QStringLiteral("--interval takes whole seconds from 0 to 86400"));
        } else if (command == QLatin1String("read") && arg == QLatin1String("--fast")) {
            fast = true;
        } else {
            return usageError(QStringLiteral("unknown option \"%1\"").arg(arg));
        }
    }

    QString error;
    if (!BusOption::install(args, &error)) {
        err() << error << "\n";
        return 2;
    }
    if (command == QLatin1String("scan"))
        return scan();
    if (fast) {
        if (!BusOption::simulated())
            return usageError(QStringLiteral("--fast needs a simulated bus"));
        Clock::setVirtual(QDateTime::currentDateTime());
    }
    return read(cycles, intervalS);
}
