#pragma once

#include <QByteArray>
#include <QStringList>

// One finished run of orvexctl.
struct OrvexctlRun
{
    int exitCode = -1; // -1: crashed or did not finish in time
    QByteArray out;
    QByteArray err;
};

// Runs orvexctl with `args` in the test's environment without the bus
// variables (ORVEX_BUS, ORVEX_SIM_BUS, ORVEX_SHARED_CLOCK); each `env` entry
// "NAME=value" sets a variable, a bare "NAME" removes one.
OrvexctlRun runOrvexctl(const QString &program, const QStringList &args, const QStringList &env = {},
                        int timeoutMs = 60000);
