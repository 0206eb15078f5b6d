// orvexctl: checks a 1-Wire bus from a terminal, without the window.

#include "app/busoption.h"
#include "onewire/adapter.h"
#include "onewire/familynames.h"

#include <QCoreApplication>
#include <QTextStream>

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
    "  --bus=sim | sim:FILE | tmex | tmex:PATH   the bus to use (default: ORVEX_BUS, else the driver or the demo bus)\n";

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

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (!args.removeAll(QStringLiteral("--verbose")))
        qInstallMessageHandler(quietHandler);

    if (args.isEmpty() || args.first() != QLatin1String("scan")) {
        err() << (args.isEmpty() ? QString() : QStringLiteral("orvexctl: unknown command \"%1\"\n").arg(args.first()))
              << kUsage;
        return 2;
    }
    for (const QString &arg : args.mid(1)) {
        if (!arg.startsWith(QLatin1String("--bus="))) {
            err() << "orvexctl: unknown option \"" << arg << "\"\n" << kUsage;
            return 2;
        }
    }
    QString error;
    if (!BusOption::install(args, &error)) {
        err() << error << "\n";
        return 2;
    }
    return scan();
}
