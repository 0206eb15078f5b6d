#include "base/switches.h"

#include "base/appstate.h"

namespace {

struct Flags
{
    bool defaultLogOutput = false;
    bool pt100Mode = false;
    bool logFileEnabled = false;
    bool shtMode = false;
};

Flags &flags()
{
    static Flags f;
    return f;
}

bool matches(const QString &arg, const char *name)
{
    const QString sw = QLatin1String(name);
    return arg.left(sw.size()).toLower() == sw;
}

} // namespace

void Switches::parse(const QStringList &args)
{
    Flags &f = flags();
    for (const QString &arg : args) {
        if (matches(arg, "-ldbg")) {
            f.defaultLogOutput = true;
        } else if (matches(arg, "-pt100")) {
            f.pt100Mode = true;
            AppState::instance().setPt100Mode(true);
        } else if (matches(arg, "-v1")) {
            f.logFileEnabled = true;
        } else if (matches(arg, "-sht")) {
            f.shtMode = true;
            AppState::instance().setShtMode(true);
        }
    }
}

bool Switches::defaultLogOutput()
{
    return flags().defaultLogOutput;
}

bool Switches::pt100Mode()
{
    return flags().pt100Mode;
}

bool Switches::logFileEnabled()
{
    return flags().logFileEnabled;
}

bool Switches::shtMode()
{
    return flags().shtMode;
}

void Switches::resetForTest()
{
    flags() = Flags();
}
