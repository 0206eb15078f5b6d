#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

class BusBackend;
class SimBackend;

// Chooses the bus backend at start-up: "--bus=VALUE" on the command line
// (the last one wins) or the environment variable ORVEX_BUS, with VALUE one
// of the forms the masters declare (session/masterregistry.cpp; sim, sim:FILE,
// tmex, serial:PORT, usb, ...). Without either: the masters that take part in
// the default choice, in their order (the TMEX driver where one is installed,
// else the one USB adapter when exactly one is plugged in, else the demo bus).
class BusOption
{
public:
    // The chosen value ("" for the default), from the arguments or the environment.
    static QString value(const QStringList &args);
    // Every --bus value in the arguments, in order; without one, the values
    // ORVEX_BUS names, separated by spaces; an empty list for the default choice.
    // A bare "--bus=" gives an empty value, which the caller refuses.
    static QStringList values(const QStringList &args);
    // Opens the backend named by `value`; on failure null and a one-line *error.
    static std::unique_ptr<BusBackend> open(const QString &value, QString *error);
    // Opens the chosen backend (the last "--bus=" wins). On failure null
    // with a one-line *error.
    static std::unique_ptr<BusBackend> openChosen(const QStringList &args, QString *error);
    // Opens every bus given (the default bus when none is): several buses
    // measured by one session. On failure an empty list and a one-line *error
    // naming the bus that failed.
    static std::vector<std::unique_ptr<BusBackend>> openAll(const QStringList &args, QString *error);
    // `backend` when it is a simulated bus, else null.
    static SimBackend *simulated(BusBackend *backend);
};
