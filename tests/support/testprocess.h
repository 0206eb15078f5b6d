#pragma once

#include <QByteArray>
#include <QProcess>
#include <QStringList>

// One of our programs (orvexctl, the emulator, the window) as a process the
// test can watch while it runs; its output is kept as lines. Its environment
// is the test's without the bus variables (ORVEX_BUS, ORVEX_SIM_BUS,
// ORVEX_SHARED_CLOCK); each `env` entry "NAME=value" sets a variable, a bare
// "NAME" removes one. Killed when destroyed still running.
class TestProcess
{
public:
    explicit TestProcess(const QString &program, const QStringList &env = {});
    ~TestProcess();

    void start(const QStringList &args);
    // Waits for the end and takes the rest of the output; false when it did
    // not end in time (it is killed then).
    bool finish(int timeoutMs = 60000);
    bool run(const QStringList &args, int timeoutMs = 60000)
    {
        start(args);
        return finish(timeoutMs);
    }
    // Schedules the running process ahead of every ordinary one (SCHED_FIFO,
    // all its threads), for an emulated chip that stands in for hardware:
    // a chip does not wait for the host's processors, and one starved by a
    // loaded machine answers late or reads a byte after the port's rate has
    // changed. False, with a warning, where that is not permitted.
    bool scheduleAhead();
    // Waits until it has printed `count` lines on standard output in all.
    bool waitForLines(int count, int timeoutMs = 30000);
    void kill();

    QProcess &process() { return m_process; }
    // Its exit code; -1 when it crashed, was stopped by a signal or runs still.
    int exitCode() const;
    // The whole lines printed so far, without their ends; all it printed.
    QStringList out() const { return lines(m_out); }
    QStringList err() const { return lines(m_err); }
    QByteArray outBytes() const { return collected(m_out); }
    QByteArray errBytes() const { return collected(m_err); }

private:
    QStringList lines(const QByteArray &text) const;
    const QByteArray &collected(const QByteArray &text) const;

    QString m_program;
    mutable QProcess m_process;
    mutable QByteArray m_out;
    mutable QByteArray m_err;
};
