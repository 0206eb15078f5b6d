#pragma once

#include "model/outputentry.h"
#include "model/readingsink.h"

#include <QSettings>

// A face (a server answering from the latest readings) as a registered
// output: `Face` is made from its `Config` and listens on start(). The
// window serves when the face's "…/Listen" setting names a port; orvexctl
// takes the other settings as defaults and serves only when its option
// asks.
namespace FaceOutput {

// A face that shows alarms (has setAlarmBoard) is given the run's board.
template <typename Face>
auto attachAlarms(Face &face, const OutputHost &host, int) -> decltype(face.setAlarmBoard(host.alarms), void())
{
    face.setAlarmBoard(host.alarms);
}
template <typename Face>
void attachAlarms(Face &, const OutputHost &, long)
{
}

template <typename Face, typename Config>
class Plan : public OutputPlan
{
public:
    explicit Plan(const Config &config)
        : m_config(config)
    {
    }

    std::unique_ptr<ReadingSink> start(const OutputHost &host, QString *error) override
    {
        auto face = std::make_unique<Face>(m_config);
        attachAlarms(*face, host, 0);
        if (!face->start(error))
            return nullptr;
        return face;
    }

private:
    Config m_config;
};

template <typename Face, typename Config>
std::unique_ptr<OutputPlan> plan(QSettings &settings, QStringList *args, QString *error)
{
    QString settingsError;
    Config config = Config::fromSettings(settings, &settingsError);
    if (args) {
        config.enabled = false;
        if (!Config::takeOptions(*args, &config, error))
            return nullptr;
    } else {
        *error = settingsError;
    }
    if (!config.enabled)
        return nullptr;
    return std::make_unique<Plan<Face, Config>>(config);
}

// The entry of a face named `name` whose one option `synopsis` gives in brief.
template <typename Face, typename Config>
OutputEntry entry(const QString &name, const QString &synopsis)
{
    OutputEntry made;
    made.name = name;
    made.synopsis = synopsis;
    made.optionsUsage = Config::optionsUsage;
    made.plan = plan<Face, Config>;
    return made;
}

} // namespace FaceOutput
