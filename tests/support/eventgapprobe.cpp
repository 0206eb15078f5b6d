#include "support/eventgapprobe.h"

#include "base/clock.h"

#include <QCoreApplication>
#include <QEvent>

namespace {

const QEvent::Type kProbeEvent = QEvent::Type(QEvent::User + 71);

} // namespace

EventGapProbe::EventGapProbe() = default;

void EventGapProbe::start()
{
    m_running = true;
    m_lastUs = Clock::tickUs();
    m_longestUs = 0;
    m_longestFromUs = m_lastUs;
    m_deliveries = 0;
    if (!m_posted) {
        m_posted = true;
        QCoreApplication::postEvent(this, new QEvent(kProbeEvent));
    }
}

void EventGapProbe::stop()
{
    if (m_running)
        note(Clock::tickUs());
    m_running = false;
}

void EventGapProbe::note(qint64 nowUs)
{
    if (nowUs - m_lastUs > m_longestUs) {
        m_longestUs = nowUs - m_lastUs;
        m_longestFromUs = m_lastUs;
    }
    m_lastUs = nowUs;
}

void EventGapProbe::customEvent(QEvent *event)
{
    if (event->type() != kProbeEvent)
        return;
    m_posted = false;
    if (!m_running)
        return;
    note(Clock::tickUs());
    ++m_deliveries;
    // Qt delivers an event posted during a pass only in the next pass.
    m_posted = true;
    QCoreApplication::postEvent(this, new QEvent(kProbeEvent));
}
