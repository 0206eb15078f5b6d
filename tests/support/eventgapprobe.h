#pragma once

#include <QObject>
#include <QtGlobal>

// Measures how long the GUI thread goes without processing events, in clock
// time (virtual time in tests and benchmarks): a posted event that posts
// itself again whenever it is delivered, so every pass of event processing
// delivers it once. Started, it notes the longest stretch between two
// deliveries (and from the start and to the stop).
class EventGapProbe : public QObject
{
    Q_OBJECT
public:
    EventGapProbe();

    // Begins a measurement (forgetting the last one) and posts the event.
    void start();
    // Ends the measurement; the stretch up to now counts.
    void stop();

    qint64 longestUs() const { return m_longestUs; }
    // When the longest stretch began, µs on the clock.
    qint64 longestFromUs() const { return m_longestFromUs; }
    int deliveries() const { return m_deliveries; }

protected:
    void customEvent(QEvent *event) override;

private:
    void note(qint64 nowUs);

    bool m_running = false;
    bool m_posted = false;
    qint64 m_lastUs = 0;
    qint64 m_longestUs = 0;
    qint64 m_longestFromUs = 0;
    int m_deliveries = 0;
};
