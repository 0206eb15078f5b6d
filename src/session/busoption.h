#pragma once

#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

class BusBackend;
class SimBackend;

// Chooses the bus backend at start-up: "--bus=VALUE" on the command line
// (the last one wins) or the environment variable ORVEX_BUS, with VALUE one of
//   sim          the built-in demo bus
//   sim:FILE     a simulated bus described by a JSON file
//   tmex         the TMEX driver (IBFS64.dll on Windows)
//   tmex:PATH    a TMEX-compatible driver library at PATH
//   serial:PORT  a DS2480B serial adapter on the port PORT (/dev/ttyUSB0)
//   usb          the first USB adapter with a DS2490 (04FA:2490)
//   usb:SERIAL   the USB adapter whose ID chip has this serial number
//   usb:BUS-PORT the USB adapter at this USB position (1-2, 1-2.3)
// Without either: the TMEX driver where one is installed, else the one USB
// adapter when exactly one is plugged in, else the demo bus.
class BusOption
{
public:
    // The chosen value ("" for the default), from the arguments or the environment.
    static QString value(const QStringList &args);
    // Opens the backend named by `value`; on failure null and a one-line *error.
    static std::unique_ptr<BusBackend> open(const QString &value, QString *error);
    // Every "--bus=" value in order; without one, the environment's ORVEX_BUS
    // when set (one value), else none.
    static QStringList values(const QStringList &args);
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
