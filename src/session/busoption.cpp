#include "session/busoption.h"

#include "onewire/tmex.h"
#include "bus/tmexlibrary.h"
#include "bus/serialbackend.h"
#include "bus/usbadapters.h"
#include "bus/usbbackend.h"
#include "sim/simbackend.h"
#include "sim/simbusloader.h"

namespace {

std::unique_ptr<BusBackend> &installed()
{
    static std::unique_ptr<BusBackend> backend;
    return backend;
}

const char kPrefix[] = "--bus=";
const char kChoices[] = "sim, sim:FILE, tmex, tmex:PATH, serial:PORT, usb, usb:SERIAL or usb:BUS-PORT";

QString defaultDriverName()
{
#ifdef _WIN32
    return QStringLiteral("IBFS64.dll");
#else
    return QStringLiteral("IBFS64");
#endif
}

} // namespace

QString BusOption::value(const QStringList &args)
{
    QString chosen;
    bool found = false;
    for (const QString &arg : args) {
        if (arg.startsWith(QLatin1String(kPrefix))) {
            chosen = arg.mid(int(sizeof kPrefix) - 1);
            found = true;
        }
    }
    if (!found)
        chosen = QString::fromLocal8Bit(qgetenv("ORVEX_BUS"));
    return chosen;
}

std::unique_ptr<BusBackend> BusOption::open(const QString &value, QString *error)
{
    if (value.isEmpty()) {
#ifdef _WIN32
        QString ignored;
        if (auto driver = TmexLibrary::load(defaultDriverName(), &ignored))
            return driver;
#endif
        // One USB adapter and nothing chosen: the operator plugged it in to
        // use it. With two or more the choice is the operator's (usb:...).
        if (UsbAdapters::survey(false).size() == 1)
            return std::make_unique<UsbBackend>();
        return SimBusLoader::loadDemo(error);
    }
    if (value == QLatin1String("sim"))
        return SimBusLoader::loadDemo(error);
    if (value.startsWith(QLatin1String("sim:")) && value.size() > 4)
        return SimBusLoader::loadFile(value.mid(4), error);
    if (value == QLatin1String("tmex"))
        return TmexLibrary::load(defaultDriverName(), error);
    if (value.startsWith(QLatin1String("tmex:")) && value.size() > 5)
        return TmexLibrary::load(value.mid(5), error);
    if (value.startsWith(QLatin1String("serial:")) && value.size() > 7)
        return std::make_unique<SerialBackend>(value.mid(7));
    if (value == QLatin1String("usb"))
        return std::make_unique<UsbBackend>();
    if (value.startsWith(QLatin1String("usb:")) && value.size() > 4)
        return std::make_unique<UsbBackend>(value.mid(4));
    if (error)
        *error = QStringLiteral("--bus=%1: unknown bus (expected %2)").arg(value, QLatin1String(kChoices));
    return nullptr;
}

bool BusOption::install(const QStringList &args, QString *error)
{
    const QString chosen = value(args);
    if (chosen.isEmpty() && args.contains(QLatin1String(kPrefix))) {
        if (error)
            *error = QStringLiteral("--bus=: no bus given (expected %1)").arg(QLatin1String(kChoices));
        return false;
    }
    std::unique_ptr<BusBackend> backend = open(chosen, error);
    if (!backend)
        return false;
    // Process-wide on purpose: the TMEX calls stand for the driver library,
    // one per process as the real one is. The adapter sessions on it belong
    // to the measurement sessions.
    Tmex::setBackend(backend.get());
    installed() = std::move(backend);
    return true;
}

SimBackend *BusOption::simulated()
{
    return dynamic_cast<SimBackend *>(installed().get());
}
