#pragma once

#include <QtGlobal>

// Where the CPU time of a measurement cycle goes, for the benchmark: the
// search, the device reads, the table update and the file writing each
// bracket their work with a Scope. A scope opened inside another charges its
// time to itself alone, so the phases add up without overlap. Switched off
// (the default) a scope costs one test of a flag. GUI thread only.
//
// Process-wide, like the clock it reads: the CPU time it splits is the
// process's, whichever session spends it, so one meter per process is all
// there can be. Only the benchmark switches it on.
class CpuMeter
{
public:
    enum Phase { Search, Reads, Table, Files, PhaseCount, None = -1 };

    class Scope
    {
    public:
        explicit Scope(Phase phase);
        ~Scope();
        Scope(const Scope &) = delete;
        Scope &operator=(const Scope &) = delete;

    private:
        bool m_on;
        Phase m_outer = None;
    };

    static void setEnabled(bool on);
    // Forgets what the phases have used so far.
    static void reset();
    // Process CPU time charged to `phase` since the last reset, µs.
    static qint64 usedUs(Phase phase);
    // The phase whose scope is innermost now; None outside every scope.
    static Phase current();
    // The process's CPU time so far, µs: the clock the phases are charged by.
    static qint64 processUs();
};
