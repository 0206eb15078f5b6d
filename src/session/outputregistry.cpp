#include "session/outputregistry.h"

#include "alarms/alarmoutput.h"
#include "chart/trendarchive.h"
#include "faces/metricsface.h"
#include "faces/owserverface.h"
#include "publish/mqttoutput.h"
#include "web/webpage.h"

namespace OutputRegistry {

// One line per output; the order is the order of delivery. Alarms come
// first: every other output sees a reading's alarm state already decided.
const QVector<OutputEntry> &entries()
{
    static const QVector<OutputEntry> all = {
        AlarmOutput::outputEntry(),
        TrendArchive::outputEntry(),
        MqttOutput::entry(),
        OwserverFace::outputEntry(),
        MetricsFace::outputEntry(),
        WebPage::outputEntry(),
    };
    return all;
}

QString optionsUsage(const QVector<OutputEntry> &entries)
{
    QString text;
    for (const OutputEntry &entry : entries) {
        if (entry.optionsUsage)
            text += entry.optionsUsage();
    }
    return text;
}

QStringList synopsis(const QVector<OutputEntry> &entries)
{
    QStringList words;
    for (const OutputEntry &entry : entries) {
        if (!entry.synopsis.isEmpty())
            words << entry.synopsis;
    }
    return words;
}

bool plan(const QVector<OutputEntry> &entries, QSettings &settings, QStringList *args,
          std::vector<SessionDescription::PlannedOutput> *plans, QString *error)
{
    // orvexctl stops at the first bad option; the window runs the outputs
    // whose settings are good and reports the others.
    QStringList problems;
    for (const OutputEntry &entry : entries) {
        if (!entry.plan)
            continue;
        QString problem;
        std::unique_ptr<OutputPlan> made = entry.plan(settings, args, &problem);
        if (!problem.isEmpty()) {
            problems << problem;
            if (args)
                break;
        }
        if (made)
            plans->push_back({entry.name, std::move(made)});
    }
    *error = problems.join(QLatin1Char('\n'));
    return problems.isEmpty();
}

} // namespace OutputRegistry
