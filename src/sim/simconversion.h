#pragma once

#include <QtGlobal>

// Timing and power of a conversion in a simulated chip. A parasite-powered
// chip takes its conversion current through the strong pull-up: if the pull-up
// is not switched on with the command, or drops (a reset, or the master
// switching it off) before the conversion time is over, the chip browns out.
class SimConversion
{
public:
    // Starts a conversion at the current clock tick.
    void start(qint64 durationUs, bool parasite);
    void onStrongPullup(bool on);

    // Converting and the conversion time not yet over.
    bool busy() const;
    // True once, when a conversion's time is over: the caller stores its
    // result then. *powered tells whether the chip had power throughout.
    bool takeFinished(bool *powered);
    // When the conversion sampled the temperature (its start), ms.
    qint64 startMs() const { return m_startUs / 1000; }

private:
    bool m_running = false;
    bool m_parasite = false;
    bool m_pullupSeen = false;
    bool m_brownOut = false;
    qint64 m_startUs = 0;
    qint64 m_endUs = 0;
};
