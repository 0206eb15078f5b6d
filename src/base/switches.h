#pragma once

#include <QStringList>

// The four command-line switches and the process-wide flags they set. All
// flags are false until parse() sees their switch.
class Switches
{
public:
    // Tests every argument, in order, against "-ldbg", "-pt100", "-v1" and
    // "-sht" in that order; the first switch that matches ends the tests for
    // that argument. A switch matches the argument's first characters in any
    // letter case, so "-PT100" and "-pt100x" both count as "-pt100".
    // "-pt100" and "-sht" are also copied into AppState.
    static void parse(const QStringList &args);

    // "-ldbg": keep Qt's default message output instead of the log file handler.
    static bool defaultLogOutput();
    // "-pt100": Pt100-emulator calibration controls and behaviour.
    static bool pt100Mode();
    // "-v1": the message handler writes to the log file.
    static bool logFileEnabled();
    // "-sht": SHT heater controls and heater driving.
    static bool shtMode();

    // Tests only: all flags false again (AppState is left alone).
    static void resetForTest();
};
