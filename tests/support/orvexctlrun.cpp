#include "support/orvexctlrun.h"

#include <QProcess>

OrvexctlRun runOrvexctl(const QString &program, const QStringList &args, const QStringList &env, int timeoutMs)
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
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, args);
    OrvexctlRun run;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}
