#include "session/busoption.h"

#include "session/masterregistry.h"
#include "sim/simbackend.h"

namespace {

const char kPrefix[] = "--bus=";

// "sim, sim:FILE, ... or usb:BUS-PORT", for the errors.
QString choices()
{
    QStringList forms = MasterRegistry::forms();
    const QString last = forms.takeLast();
    return forms.join(QLatin1String(", ")) + QLatin1String(" or ") + last;
}

// An empty value from a bare "--bus=" (not from the default choice): refused
// with a one-line *error.
bool bareBusOption(const QString &value, const QStringList &args, QString *error)
{
    if (!value.isEmpty() || !args.contains(QLatin1String(kPrefix)))
        return false;
    if (error)
        *error = QStringLiteral("--bus=: no bus given (expected %1)").arg(choices());
    return true;
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
    // The environment may name several buses, separated by spaces (the
    // service's settings file); the window takes the last, as of arguments.
    if (chosen.isEmpty())
        chosen = QString::fromLocal8Bit(qgetenv("ORVEX_BUS")).split(QLatin1Char(' '), Qt::SkipEmptyParts);
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

std::unique_ptr<BusBackend> BusOption::openChosen(const QStringList &args, QString *error)
{
    const QString chosen = value(args);
    if (bareBusOption(chosen, args, error))
        return nullptr;
    return open(chosen, error);
}

std::vector<std::unique_ptr<BusBackend>> BusOption::openAll(const QStringList &args, QString *error)
{
    std::vector<std::unique_ptr<BusBackend>> buses;
    QStringList chosen = values(args);
    if (chosen.isEmpty())
        chosen << QString();
    for (const QString &value : qAsConst(chosen)) {
        if (bareBusOption(value, args, error))
            return {};
        std::unique_ptr<BusBackend> backend = open(value, error);
        if (!backend)
            return {};
        buses.push_back(std::move(backend));
    }
    return buses;
}

SimBackend *BusOption::simulated(BusBackend *backend)
{
    return dynamic_cast<SimBackend *>(backend);
}
