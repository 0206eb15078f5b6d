#pragma once

#include "model/outputentry.h"
#include "session/sessiondescription.h"

#include <QVector>

class QSettings;

// Every kind of output the program can feed, one entry each, in the order
// they are started, fed and listed in orvexctl's usage.
namespace OutputRegistry {

const QVector<OutputEntry> &entries();

// The usage lines of every entry's options, in order.
QString optionsUsage(const QVector<OutputEntry> &entries);
// Every entry's options in brief ("[--mqtt URL ...]"), in order.
QStringList synopsis(const QVector<OutputEntry> &entries);

// The plans of a run, in order, for the outputs it wants: the window's
// (`args` null) from the settings; orvexctl's from the settings and the
// options each entry takes out of *args. False after one line in *error
// when an option or a setting is bad: orvexctl's run stops there, the
// window's has the plans of the outputs whose settings are good (and a
// line for each of the others).
bool plan(const QVector<OutputEntry> &entries, QSettings &settings, QStringList *args,
          std::vector<SessionDescription::PlannedOutput> *plans, QString *error);

} // namespace OutputRegistry
