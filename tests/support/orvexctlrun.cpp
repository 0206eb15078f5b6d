#include "support/orvexctlrun.h"

#include "support/testprocess.h"

OrvexctlRun runOrvexctl(const QString &program, const QStringList &args, const QStringList &env, int timeoutMs)
{
    TestProcess process(program, env);
    OrvexctlRun run;
    if (process.run(args, timeoutMs)) {
        run.exitCode = process.exitCode();
        run.out = process.outBytes();
        run.err = process.errBytes();
    }
    return run;
}
