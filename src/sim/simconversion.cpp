#include "sim/simconversion.h"

#include "base/clock.h"

void SimConversion::start(qint64 durationUs, bool parasite)
{
    m_running = true;
    m_parasite = parasite;
    m_pullupSeen = false;
    m_brownOut = false;
    m_startUs = Clock::tickUs();
    m_endUs = m_startUs + durationUs;
}

bool SimConversion::busy() const
{
    return m_running && Clock::tickUs() < m_endUs;
}

void SimConversion::onStrongPullup(bool on)
{
    if (!busy())
        return;
    if (on)
        m_pullupSeen = true;
    else
        m_brownOut = true;
}

bool SimConversion::takeFinished(bool *powered)
{
    if (!m_running || busy())
        return false;
    m_running = false;
    *powered = !m_parasite || (m_pullupSeen && !m_brownOut);
    return true;
}
