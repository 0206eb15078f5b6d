#pragma once

#include "faces/facesnapshot.h"
#include "model/outputentry.h"
#include "model/readingsink.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>

class AlarmBoard;
class QSettings;
struct MHD_Daemon;

// Where the Prometheus endpoint listens. The window reads it from the
// "Metrics/..." settings; orvexctl from its --metrics option.
struct MetricsConfig
{
    bool enabled = false;
    ListenAddress listen;
    int maxConnections = 16;
    int timeoutS = 10; // a connection idle this long (real time) is closed

    // "Metrics/Listen" ([ADDRESS:]PORT; empty: off).
    static MetricsConfig fromSettings(QSettings &settings, QString *error);
    // orvexctl: takes "--metrics [ADDRESS:]PORT" out of `args`. False with *error.
    static bool takeOptions(QStringList &args, MetricsConfig *config, QString *error);
    static QString optionsUsage();
};

// The Prometheus text exposition of a snapshot: one gauge per quantity in
// base units, the time of each channel's last reading, failed readings by
// reason, the cycle's duration, each bus's state and whether each channel
// with alarm limits is in alarm. A channel whose last
// reading failed or is stale has no value sample.
QByteArray metricsText(const FaceSnapshot &snapshot);

// An output that serves /metrics over HTTP (libmicrohttpd, on its own
// thread) from a snapshot replaced at every cycle's end.
class MetricsFace : public QObject, public ReadingSink
{
    Q_OBJECT
public:
    explicit MetricsFace(const MetricsConfig &config, QObject *parent = nullptr);
    ~MetricsFace() override;

    // Its registration among the outputs ("metrics").
    static OutputEntry outputEntry();

    bool start(QString *error);
    quint16 port() const { return m_port; }
    // Scrapes of /metrics answered so far.
    int scrapes() const { return m_scrapes.load(); }

    void takeReading(const SensorDevice &device, int index) override;
    void cycleEnded(const CycleSummary &summary) override;
    // The run's alarms (not owned; null: none): orvex_alarm_active per
    // channel with limits.
    void setAlarmBoard(const AlarmBoard *board) { m_alarms = board; }

    // The page a scrape gets now. Any thread.
    QByteArray page();

private:

    MetricsConfig m_config;
    FaceSnapshotBuilder m_builder;
    SnapshotHolder m_snapshot;
    MHD_Daemon *m_daemon = nullptr;
    quint16 m_port = 0;
    std::atomic<int> m_scrapes{0};
    const AlarmBoard *m_alarms = nullptr;
};
