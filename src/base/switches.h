#pragma once

#include <QStringList>

// The window's four command-line switches, parsed once by main() and handed
// to whatever reads them. All false unless their switch is given.
struct Switches
{
    // "-ldbg": keep Qt's default message output instead of the log file handler.
    bool defaultLogOutput = false;
    // "-pt100": Pt100-emulator calibration controls and behaviour.
    bool pt100Mode = false;
    // "-v1": the message handler writes to the log file.
    bool logFileEnabled = false;
    // "-sht": SHT heater controls and heater driving.
    bool shtMode = false;

    // Tests every argument, in order, against "-ldbg", "-pt100", "-v1" and
    // "-sht" in that order; the first switch that matches ends the tests for
    // that argument. A switch matches the argument's first characters in any
    // letter case, so "-PT100" and "-pt100x" both count as "-pt100".
    static Switches parse(const QStringList &args);
};
