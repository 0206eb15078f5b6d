#include "platform/clock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

namespace {

struct ClockState
{
    bool virtualTime = false;
    qint64 virtualUs = 0;
    QDateTime virtualStart;
    QElapsedTimer real;
};

ClockState &state()
{
    static ClockState s;
    if (!s.real.isValid())
        s.real.start();
    return s;
}

} // namespace

qint64 Clock::tickUs()
{
    ClockState &s = state();
    if (s.virtualTime)
        return s.virtualUs;
    return s.real.nsecsElapsed() / 1000;
}

qint64 Clock::tickMs()
{
    return tickUs() / 1000;
}

QDateTime Clock::now()
{
    ClockState &s = state();
    if (s.virtualTime)
        return s.virtualStart.addMSecs(s.virtualUs / 1000);
    return QDateTime::currentDateTime();
}

void Clock::sleepMs(int ms)
{
    if (ms <= 0)
        return;
    ClockState &s = state();
    if (s.virtualTime)
        s.virtualUs += qint64(ms) * 1000;
    else
        QThread::msleep(static_cast<unsigned long>(ms));
}

void Clock::processEvents()
{
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
}

void Clock::pollEvents()
{
    processEvents();
    sleepMs(1);
}

void Clock::waitProcessingEvents(int ms)
{
    const qint64 end = tickMs() + ms;
    while (tickMs() < end)
        pollEvents();
}

void Clock::spendUs(qint64 us)
{
    ClockState &s = state();
    if (s.virtualTime && us > 0)
        s.virtualUs += us;
}

void Clock::setVirtual(const QDateTime &start)
{
    ClockState &s = state();
    s.virtualTime = true;
    s.virtualStart = start;
    s.virtualUs = 0;
}

void Clock::setReal()
{
    state().virtualTime = false;
}

bool Clock::isVirtual()
{
    return state().virtualTime;
}

void Clock::advanceMs(qint64 ms)
{
    ClockState &s = state();
    if (s.virtualTime && ms > 0)
        s.virtualUs += ms * 1000;
}
