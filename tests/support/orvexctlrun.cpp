#include "support/orvexctlrun.h"

namespace {

QProcessEnvironment environmentFor(const QStringList &env)
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
    return environment;
}

} // namespace

OrvexctlRun runOrvexctl(const QString &program, const QStringList &args, const QStringList &env, int timeoutMs)
{
    TestProcess process(program, env);
    OrvexctlRun run;
    if (process.run(args, timeoutMs)) {
        run.exitCode = process.exitCode();
        run.out = process.m_out;
        run.err = process.m_err;
    }
    return run;
}

TestProcess::TestProcess(const QString &program, const QStringList &env)
    : m_program(program)
{
    m_process.setProcessEnvironment(environmentFor(env));
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
    collect();
    return ended;
}

bool TestProcess::waitForLines(int count, int timeoutMs)
{
    collect();
    while (m_out.count('\n') < count && m_process.waitForReadyRead(timeoutMs))
        collect();
    return m_out.count('\n') >= count;
}

void TestProcess::kill()
{
    if (m_process.state() != QProcess::NotRunning) {
        m_process.kill();
        m_process.waitForFinished();
    }
    collect();
}

int TestProcess::exitCode() const
{
    const bool normal = m_process.state() == QProcess::NotRunning && m_process.exitStatus() == QProcess::NormalExit;
    return normal ? m_process.exitCode() : -1;
}

QStringList TestProcess::lines(const QByteArray &text) const
{
    collect();
    QStringList list = QString::fromUtf8(text).split(QLatin1Char('\n'));
    // After the last end of line: nothing, or a line still being written.
    if (list.last().isEmpty() || m_process.state() != QProcess::NotRunning)
        list.removeLast();
    return list;
}

void TestProcess::collect() const
{
    m_out += m_process.readAllStandardOutput();
    m_err += m_process.readAllStandardError();
}
