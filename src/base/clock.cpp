#include "base/clock.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <atomic>

namespace {

// The lane of the current thread, if any (Clock::Lane).
thread_local qint64 *t_laneUs = nullptr;
// When the current thread last let events run (Clock::keepResponsive).
thread_local qint64 t_lastEventsUs = -1;

struct ClockState
{
    bool virtualTime = false;
    qint64 localUs = 0;
    // Shared virtual time: the counter lives in a mapped file.
    QFile sharedFile;
    std::atomic<qint64> *sharedUs = nullptr;
    QDateTime virtualStart;
    QElapsedTimer real;

    qint64 virtualUs() const
    {
        if (sharedUs)
            return sharedUs->load();
        return t_laneUs ? *t_laneUs : localUs;
    }
    void addUs(qint64 us)
    {
        if (t_laneUs && !sharedUs)
            *t_laneUs += us;
        else if (sharedUs)
            sharedUs->fetch_add(us);
        else
            localUs += us;
    }
    void unshare()
    {
        if (sharedUs) {
            sharedFile.unmap(reinterpret_cast<uchar *>(sharedUs));
            sharedFile.close();
            sharedUs = nullptr;
        }
    }
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
        return s.virtualUs();
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
        return s.virtualStart.addMSecs(s.virtualUs() / 1000);
    return QDateTime::currentDateTime();
}

void Clock::sleepMs(int ms)
{
    if (ms <= 0)
        return;
    ClockState &s = state();
    if (s.virtualTime)
        s.addUs(qint64(ms) * 1000);
    else
        QThread::msleep(static_cast<unsigned long>(ms));
}

void Clock::holdLineMs(int ms)
{
    if (ms > 0 && !state().virtualTime)
        QThread::msleep(static_cast<unsigned long>(ms));
}

void Clock::processEvents()
{
    t_lastEventsUs = tickUs();
    if (QCoreApplication::instance())
        QCoreApplication::processEvents();
}

void Clock::keepResponsive()
{
    const qint64 kSliceUs = 10000;
    const qint64 last = t_lastEventsUs;
    const qint64 now = tickUs();
    if (last < 0 || now < last || now - last >= kSliceUs)
        processEvents();
}

void Clock::pollEvents()
{
    processEvents();
    sleepMs(1);
}

void Clock::spendUs(qint64 us)
{
    ClockState &s = state();
    if (s.virtualTime && us > 0)
        s.addUs(us);
}

void Clock::setVirtual(const QDateTime &start)
{
    ClockState &s = state();
    s.unshare();
    s.virtualTime = true;
    s.virtualStart = start;
    s.localUs = 0;
}

bool Clock::isVirtual()
{
    return state().virtualTime;
}

void Clock::advanceMs(qint64 ms)
{
    ClockState &s = state();
    if (s.virtualTime && ms > 0)
        s.addUs(ms * 1000);
}

bool Clock::setVirtualShared(const QString &path, const QDateTime &start, QString *error)
{
    static_assert(std::atomic<qint64>::is_always_lock_free, "the shared counter must be lock-free");
    ClockState &s = state();
    s.unshare();
    s.sharedFile.setFileName(path);
    const QByteArray zero(int(sizeof(qint64)), '\0');
    if (!s.sharedFile.open(QIODevice::ReadWrite)
        || (s.sharedFile.size() < qint64(sizeof(qint64))
            && (s.sharedFile.write(zero) != zero.size() || !s.sharedFile.flush()))) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, s.sharedFile.errorString());
        s.sharedFile.close();
        return false;
    }
    uchar *memory = s.sharedFile.map(0, sizeof(qint64));
    if (!memory) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(path, s.sharedFile.errorString());
        s.sharedFile.close();
        return false;
    }
    s.sharedUs = reinterpret_cast<std::atomic<qint64> *>(memory);
    s.virtualTime = true;
    s.virtualStart = start.addMSecs(-(s.sharedUs->load() / 1000));
    return true;
}

Clock::Lane::Lane()
    : m_us(tickUs())
    , m_outer(t_laneUs)
{
    t_laneUs = &m_us;
}

Clock::Lane::~Lane()
{
    t_laneUs = m_outer;
}

void Clock::joinLanes(qint64 us)
{
    ClockState &s = state();
    if (!s.virtualTime || s.sharedUs || t_laneUs)
        return;
    if (us > s.localUs)
        s.localUs = us;
}

bool Clock::waitForInput(const std::function<bool(int sliceMs)> &poll, int timeoutMs)
{
    // Short slices: the window stays responsive while a slow adapter answers,
    // and an emulated adapter in this thread answers between them.
    const int kSliceMs = 2;
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        processEvents();
        const qint64 leftMs = timeoutMs - waited.elapsed();
        if (poll(int(qBound<qint64>(0, leftMs, kSliceMs))))
            return true;
        if (waited.elapsed() >= timeoutMs)
            return false;
    }
}
