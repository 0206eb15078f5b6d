#pragma once

#include <QDateTime>
#include <QString>
#include <functional>

// The one source of time for the whole program: the millisecond tick of the
// conversion waits, plain sleeps, waits that process GUI events and the
// current date and time. Tests and benchmarks switch it to virtual time, where
// waiting costs no real time and only the simulated bus and explicit waits
// move the clock forward. Single-threaded like the rest of the program.
class Clock
{
public:
    // Monotonic milliseconds; stands in for the Windows tick counter. Does not wrap.
    static qint64 tickMs();
    static qint64 tickUs();

    // The current local date and time.
    static QDateTime now();

    // Sleeps without processing events.
    static void sleepMs(int ms);

    // Lets pending GUI events run once; takes no time of its own.
    static void processEvents();
    // The same, unless events ran less than 10 ms ago: for loops of short
    // bus steps (search steps, selection attempts), which keep the window
    // responsive without an event pass for every step.
    static void keepResponsive();

    // One pass of a busy-wait loop: lets pending events run, then one
    // millisecond passes (real sleep, or a virtual step).
    static void pollEvents();

    // Holds a serial line state (a break) for `ms` milliseconds of real
    // time. Line timing is no bus time: on a virtual clock it takes none.
    static void holdLineMs(int ms);

    // Time taken by simulated bus activity: moves virtual time forward;
    // in real time the work itself took the time, so nothing happens.
    static void spendUs(qint64 us);

    // Virtual time starts at `start` (local time) and only moves when waited on.
    static void setVirtual(const QDateTime &start = QDateTime(QDate(2025, 1, 27), QTime(14, 3, 5)));
    static bool isVirtual();

    // Virtual time only: moves the clock forward, as if that much time had passed.
    static void advanceMs(qint64 ms);

    // Virtual time kept in the file at `path` (created when missing), shared
    // by every process that maps the same file: a program and the emulated
    // adapter it talks to then run on one clock, each charging the time it
    // spends. The clock reads `start` now; it goes on from where the file
    // stands. False with a one-line *error when the file cannot be mapped.
    static bool setVirtualShared(const QString &path, const QDateTime &start, QString *error);

    // Waits for input that another party produces (a serial port) for at most
    // `timeoutMs` milliseconds of real time, also on a virtual clock: the
    // other party answers in real time, and whoever simulates the bus charges
    // the bus time. `poll(sliceMs)` waits at most that long for input and
    // returns true once enough is there. Pending events run between polls, so
    // a party in this thread (an emulated adapter) gets its turn.
    static bool waitForInput(const std::function<bool(int sliceMs)> &poll, int timeoutMs);

    // A time line of its own for work done side by side with other work (one
    // bus of several measured at once). On a virtual clock, the time the
    // current thread spends and waits while the lane exists moves only the
    // lane, which starts where the clock stands when the lane is made; the
    // clock itself stays until join() moves it to where the latest lane
    // ended. On a real clock (or a shared one) a lane changes nothing. A lane
    // belongs to the thread that made it.
    class Lane
    {
    public:
        Lane();
        ~Lane();
        Lane(const Lane &) = delete;
        Lane &operator=(const Lane &) = delete;
        // Where this lane's time stands (µs on the tick counter).
        qint64 endUs() const { return m_us; }

    private:
        qint64 m_us = 0;
        qint64 *m_outer = nullptr;
    };
    // Moves a virtual clock forward to `us` on the tick counter (never back).
    static void joinLanes(qint64 us);
};
