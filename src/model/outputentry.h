#pragma once

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

class AlarmBoard;
class QSettings;
class ReadingSink;

// Where a run's outputs live: the window, or orvexctl and the service.
struct OutputHost
{
    bool window = false;
    // Seconds from the start of one cycle to the next (0: back to back).
    int cycleS = 0;
    // One line for the operator: orvexctl prints it on standard error, the
    // window logs it. Never empty when the session starts outputs.
    std::function<void(const QString &)> report;
    // Whether the operator asked the run to stop (orvexctl's signals).
    std::function<bool()> stopRequested;
    // The run's recording folder (empty: not recording), and the alarm
    // states every output may show; both set by the session.
    QString recordingFolder;
    AlarmBoard *alarms = nullptr;
    // The separators the measurement files' headers are written with, for
    // an output that reads the files back.
    QString firstSplit;
    QString lastSplit;
};

// What one output needs to start, read from the settings and, in orvexctl,
// from its options; made by its entry.
class OutputPlan
{
public:
    virtual ~OutputPlan() = default;
    // The output, running; null after one line in *error when it cannot.
    virtual std::unique_ptr<ReadingSink> start(const OutputHost &host, QString *error) = 0;
};

// What the program knows about one kind of output besides its code: its
// orvexctl options and how a run's plan for it is made. Each output declares
// its entry beside its own code; session/outputregistry.cpp lists them, and
// the window, orvexctl's options and usage and the session read them there.
struct OutputEntry
{
    // Its name among the session's outputs ("mqtt", "chart", ...).
    QString name;
    // orvexctl's options in brief ("[--mqtt URL ...]"); empty: none.
    QString synopsis;
    // orvexctl's usage lines for its options, each ending in a line break;
    // null: it has none.
    QString (*optionsUsage)() = nullptr;
    // The plan of a run: the window's (`args` null) from the settings alone;
    // orvexctl's from the settings as defaults and its options, which it
    // takes out of *args. Null when the run does not want it; null with a
    // one-line *error when an option or setting is bad (orvexctl exits 2).
    using PlanFn = std::unique_ptr<OutputPlan> (*)(QSettings &settings, QStringList *args, QString *error);
    PlanFn plan = nullptr;
};
