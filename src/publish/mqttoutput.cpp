#include "publish/mqttoutput.h"

#include "model/readingsink.h"
#include "publish/mqttconfig.h"
#include "publish/mqttpublisher.h"

#include <QCoreApplication>
#include <QSettings>

namespace {

// The wait for the network thread once the run has ended.
const int kStopWaitMs = 2000;

// orvexctl's publisher: every line about the link goes to the operator, and
// the end of the run waits for the broker and says what stayed behind.
class ConsolePublishing : public ReadingSink
{
public:
    ConsolePublishing(const MqttConfig &config, const OutputHost &host)
        : m_publisher(std::make_unique<MqttPublisher>(config))
        , m_host(host)
    {
    }

    bool start(QString *error)
    {
        if (!m_publisher->start(error)) {
            *error = QStringLiteral("MQTT: ") + *error;
            return false;
        }
        MqttPublisher *publisher = m_publisher.get();
        const OutputHost host = m_host;
        QObject::connect(publisher, &MqttPublisher::stateChanged, publisher,
                         [publisher, host] { host.report(publisher->statusText()); });
        // A queue the disk has no room for is no reason to stop: said, and tried again.
        if (!publisher->queueProblem().isEmpty())
            m_host.report(publisher->statusText());
        return true;
    }

    void takeReading(const SensorDevice &device, int index) override { m_publisher->takeReading(device, index); }
    void cycleEnded(const CycleSummary &summary) override { m_publisher->cycleEnded(summary); }
    MqttPublisher &publisher() { return *m_publisher; }

    // 0, or the exit code of a run whose readings never reached the broker:
    // refused for good (its line came with the state), never connected, or
    // left behind. The counts are taken after the stop, from what the
    // queue's file holds; readings it could not take are lost and said so,
    // the system's reason first.
    int finish() override
    {
        MqttPublisher &mqtt = *m_publisher;
        mqtt.waitUntilDelivered(mqtt.config().finishWaitS * 1000);
        mqtt.disconnect();
        const MqttPublisher::State state = mqtt.state();
        const bool everConnected = mqtt.everConnected();
        mqtt.stop(kStopWaitMs);
        const QString folder = mqtt.config().queueFolder;
        const int lost = mqtt.unstored();
        const int kept = mqtt.queued() - lost;
        if (lost > 0) {
            m_host.report(QStringLiteral("MQTT: %1: %2 reading(s) could not be written to the queue in %3 and are lost")
                              .arg(mqtt.queueProblem())
                              .arg(lost)
                              .arg(folder));
        }
        if (state == MqttPublisher::State::Failed) {
            m_host.report(QStringLiteral("MQTT: %1 message(s) stay queued in %2").arg(kept).arg(folder));
            return MqttOutput::kRefused;
        }
        if (!everConnected) {
            m_host.report(QStringLiteral("MQTT: %1 was not reached during the run; %2 message(s) stay queued in %3")
                              .arg(mqtt.config().brokerText())
                              .arg(kept)
                              .arg(folder));
            return MqttOutput::kUnreached;
        }
        if (kept > 0)
            m_host.report(QStringLiteral("MQTT: %1 message(s) not acknowledged stay queued in %2").arg(kept).arg(folder));
        const bool stopped = m_host.stopRequested && m_host.stopRequested();
        if (lost > 0 || (kept > 0 && !stopped))
            return MqttOutput::kUndelivered;
        return 0;
    }

private:
    std::unique_ptr<MqttPublisher> m_publisher;
    OutputHost m_host;
};

class MqttPlan : public OutputPlan
{
public:
    MqttPlan(QSettings *settings, const MqttConfig &config)
        : m_settings(settings)
        , m_config(config)
    {
    }

    std::unique_ptr<ReadingSink> start(const OutputHost &host, QString *error) override
    {
        // The window's publisher runs even when its settings cannot work:
        // the status bar says why.
        if (host.window) {
            MqttPublisher *publisher = MqttPublisher::fromSettings(*m_settings, nullptr);
            if (publisher)
                publisher->setAlarmBoard(host.alarms);
            return std::unique_ptr<ReadingSink>(publisher);
        }
        MqttConfig config = m_config;
        config.cycleS = host.cycleS;
        auto publishing = std::make_unique<ConsolePublishing>(config, host);
        publishing->publisher().setAlarmBoard(host.alarms);
        if (!publishing->start(error))
            return nullptr;
        return publishing;
    }

private:
    QSettings *m_settings;
    MqttConfig m_config;
};

QString usage()
{
    return QCoreApplication::translate("Orvexctl", MqttConfig::optionsUsage());
}

// The window publishes when "Mqtt/Url" is set; orvexctl takes the stored
// "Mqtt/..." settings as defaults and publishes only with --mqtt.
std::unique_ptr<OutputPlan> plan(QSettings &settings, QStringList *args, QString *error)
{
    QString ignored;
    MqttConfig config = MqttConfig::fromSettings(settings, &ignored);
    if (args && !MqttConfig::takeOptions(*args, &config, error))
        return nullptr;
    if (!config.enabled())
        return nullptr;
    return std::make_unique<MqttPlan>(&settings, config);
}

} // namespace

OutputEntry MqttOutput::entry()
{
    OutputEntry entry;
    entry.name = QStringLiteral("mqtt");
    entry.synopsis = QStringLiteral("[--mqtt URL ...]");
    entry.optionsUsage = usage;
    entry.plan = plan;
    return entry;
}
