#include "base/cpumeter.h"

#include <ctime>

namespace {

struct MeterState
{
    bool enabled = false;
    CpuMeter::Phase current = CpuMeter::None;
    qint64 sinceUs = 0; // when the current phase was last entered or resumed
    qint64 usedUs[CpuMeter::PhaseCount] = {};
};

MeterState &state()
{
    static MeterState s;
    return s;
}

// Charges the time since the last switch to the phase that ran, and starts
// timing `next`.
void switchTo(CpuMeter::Phase next)
{
    MeterState &s = state();
    const qint64 now = CpuMeter::processUs();
    if (s.current != CpuMeter::None)
        s.usedUs[s.current] += now - s.sinceUs;
    s.current = next;
    s.sinceUs = now;
}

} // namespace

CpuMeter::Scope::Scope(Phase phase)
    : m_on(state().enabled)
{
    if (!m_on)
        return;
    m_outer = state().current;
    switchTo(phase);
}

CpuMeter::Scope::~Scope()
{
    if (m_on)
        switchTo(m_outer);
}

void CpuMeter::setEnabled(bool on)
{
    MeterState &s = state();
    s.enabled = on;
    s.current = None;
}

void CpuMeter::reset()
{
    MeterState &s = state();
    for (qint64 &used : s.usedUs)
        used = 0;
    s.sinceUs = processUs();
}

qint64 CpuMeter::usedUs(Phase phase)
{
    return phase >= 0 && phase < PhaseCount ? state().usedUs[phase] : 0;
}

CpuMeter::Phase CpuMeter::current()
{
    return state().current;
}

qint64 CpuMeter::processUs()
{
    return qint64(std::clock()) * 1000000 / CLOCKS_PER_SEC;
}
