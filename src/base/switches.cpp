#include "base/switches.h"

namespace {

bool matches(const QString &arg, const char *name)
{
    const QString sw = QLatin1String(name);
    return arg.left(sw.size()).toLower() == sw;
}

} // namespace

Switches Switches::parse(const QStringList &args)
{
    Switches f;
    for (const QString &arg : args) {
        if (matches(arg, "-ldbg"))
            f.defaultLogOutput = true;
        else if (matches(arg, "-pt100"))
            f.pt100Mode = true;
        else if (matches(arg, "-v1"))
            f.logFileEnabled = true;
        else if (matches(arg, "-sht"))
            f.shtMode = true;
    }
    return f;
}
