#pragma once

#include "model/outputentry.h"

#include <QStringList>
#include <QVector>

// orvexctl's run: the command line without the program's name, the outputs
// registered (the program's own, or a test's with one more); the exit code.
// The application object exists; the log handler is the caller's.
int orvexctlMain(QStringList args, const QVector<OutputEntry> &outputs);
