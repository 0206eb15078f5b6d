// orvexctl: checks a 1-Wire bus and its readings from a terminal, without
// the window, through the same adapter, search, sensor model and drivers.

#include "app/orvexctl.h"
#include "base/language.h"
#include "session/outputregistry.h"

#include <QCoreApplication>
#include <cstring>
#include <memory>

namespace {

void quietHandler(QtMsgType, const QMessageLogContext &, const QString &)
{
}

// Whether `option` stands on the command line; for the choices that must be
// made before the application object exists.
bool hasOption(int argc, char *argv[], const char *option)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], option) == 0)
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    // A console program: it starts on a machine without a display. The
    // handler goes in first, so only orvexctl's own lines reach standard error.
    if (!hasOption(argc, argv, "--verbose"))
        qInstallMessageHandler(quietHandler);
    auto app = std::make_unique<QCoreApplication>(argc, argv);
    // Messages in the locale's language; what it records never changes with it.
    Language::install(app.get(), Language::forConsole());
    return orvexctlMain(app->arguments().mid(1), OutputRegistry::entries());
}
