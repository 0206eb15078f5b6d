#include "support/testprocess.h"

#include <QDir>

#include <cerrno>
#include <cstring>
#include <sched.h>

TestProcess::TestProcess(const QString &program, const QStringList &env)
    : m_program(program)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"ORVEX_BUS", "ORVEX_SIM_BUS", "ORVEX_SHARED_CLOCK"})
        environment.remove(QLatin1String(name));
    for (const QString &e : env) {
        if (e.contains(QLatin1Char('=')))
            environment.insert(e.section(QLatin1Char('='), 0, 0), e.section(QLatin1Char('='), 1));
        else
            environment.remove(e);
    }
    m_process.setProcessEnvironment(environment);
}

TestProcess::~TestProcess()
{
    kill();
}

void TestProcess::start(const QStringList &args)
{
    m_process.start(m_program, args);
    m_process.waitForStarted(30000);
}

bool TestProcess::finish(int timeoutMs)
{
    const bool ended = m_process.state() == QProcess::NotRunning || m_process.waitForFinished(timeoutMs);
    if (!ended)
        kill();
    collected(m_out);
    return ended;
}

bool TestProcess::waitForLines(int count, int timeoutMs)
{
    while (collected(m_out).count('\n') < count) {
        if (!m_process.waitForReadyRead(timeoutMs))
            return false;
    }
    return true;
}

bool TestProcess::scheduleAhead()
{
    const qint64 pid = m_process.processId();
    if (pid <= 0)
        return false;
    // The lowest real-time priority is enough to go before every process
    // of the normal class; the kernel's real-time throttling still leaves
    // the others their share should the process ever spin.
    sched_param priority{};
    priority.sched_priority = sched_get_priority_min(SCHED_FIFO);
    bool all = true;
    const QStringList threads = QDir(QStringLiteral("/proc/%1/task").arg(pid)).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &thread : threads) {
        if (sched_setscheduler(pid_t(thread.toInt()), SCHED_FIFO, &priority) != 0) {
            qWarning("%s: not scheduled ahead of other processes: %s", qPrintable(m_program), std::strerror(errno));
            all = false;
            break;
        }
    }
    return all && !threads.isEmpty();
}

void TestProcess::kill()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished();
    }
}

int TestProcess::exitCode() const
{
    const bool normal = m_process.state() == QProcess::NotRunning && m_process.exitStatus() == QProcess::NormalExit;
    return normal ? m_process.exitCode() : -1;
}

QStringList TestProcess::lines(const QByteArray &text) const
{
    QStringList list = QString::fromUtf8(collected(text)).split(QLatin1Char('\n'));
    // After the last end of line: nothing, or a line still being written.
    if (list.last().isEmpty() || m_process.state() != QProcess::NotRunning)
        list.removeLast();
    return list;
}

// `text` (m_out or m_err) with what the process has written since.
const QByteArray &TestProcess::collected(const QByteArray &text) const
{
    m_out += m_process.readAllStandardOutput();
    m_err += m_process.readAllStandardError();
    return text;
}
