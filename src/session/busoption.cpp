#include "session/busoption.h"

#include "onewire/tmex.h"
#include "bus/simbackend.h"
#include "session/masterregistry.h"

namespace {

std::unique_ptr<BusBackend> &installed()
{
    static std::unique_ptr<BusBackend> backend;
    return backend;
}

const char kPrefix[] = "--bus=";

// "sim, sim:FILE, ... or usb:BUS-PORT", for the errors.
QString choices()
{
    QStringList forms = MasterRegistry::forms();
    const QString last = forms.takeLast();
    return forms.join(QLatin1String(", ")) + QLatin1String(" or ") + last;
}

} // namespace

QString BusOption::value(const QStringList &args)
{
    const QStringList all = values(args);
    return all.isEmpty() ? QString() : all.last();
}

QStringList BusOption::values(const QStringList &args)
{
    QStringList chosen;
    for (const QString &arg : args) {
        if (arg.startsWith(QLatin1String(kPrefix)))
            chosen << arg.mid(int(sizeof kPrefix) - 1);
    }
    if (chosen.isEmpty()) {
        const QString fromEnvironment = QString::fromLocal8Bit(qgetenv("ORVEX_BUS"));
        if (!fromEnvironment.isEmpty())
            chosen << fromEnvironment;
    }
    return chosen;
}

std::unique_ptr<BusBackend> BusOption::open(const QString &value, QString *error)
{
    if (value.isEmpty()) {
        std::unique_ptr<BusBackend> backend;
        for (const MasterEntry *entry : MasterRegistry::defaultOrder()) {
            backend = entry->choose(error);
            if (backend)
                break;
        }
        return backend;
    }
    QString argument;
    if (const MasterEntry *entry = MasterRegistry::find(value, &argument))
        return entry->open(argument, error);
    if (error)
        *error = QStringLiteral("--bus=%1: unknown bus (expected %2)").arg(value, choices());
    return nullptr;
}

bool BusOption::install(const QStringList &args, QString *error)
{
    const QString chosen = value(args);
    if (chosen.isEmpty() && args.contains(QLatin1String(kPrefix))) {
        if (error)
            *error = QStringLiteral("--bus=: no bus given (expected %1)").arg(choices());
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
