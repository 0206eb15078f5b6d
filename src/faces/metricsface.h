#pragma once

#include "faces/facesnapshot.h"
#include "model/outputentry.h"
#include "model/readingsink.h"

#include <QByteArray>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <memory>

class AlarmBoard;
class MhdConnectionShare;
class QSettings;
struct MHD_Connection;
struct MHD_Daemon;

// Where the Prometheus endpoint listens. The window reads it from the
// "Metrics/..." settings; orvexctl from its --metrics option.
struct MetricsConfig
{
    bool enabled = false;
    ListenAddress listen;
    // At most this many at once; a newcomer beyond them takes the place of
    // the one that has waited longest without a request (ConnectionShare).
    int maxConnections = 16;
    int timeoutS = 10; // a connection idle this long (real time) is closed

    // "Metrics/Listen" ([ADDRESS:]PORT; empty: off).
    static MetricsConfig fromSettings(QSettings &settings, QString *error);
    // orvexctl: takes "--metrics [ADDRESS:]PORT" out of `args`. False with *error.
    static bool takeOptions(QStringList &args, MetricsConfig *config, QString *error);
    static QString optionsUsage();
};

// The Prometheus text exposition of a snapshot: one gauge per quantity in
// base units with the digits the table shows, the time of each channel's
// last reading, failed readings by reason (every reason from 0), the
// cycle's duration, each bus's state and whether each channel with alarm
// limits is in alarm. A channel whose last reading failed or is stale has
// no value sample.
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
    // Connections closed to make room for newcomers so far.
    int evictedConnections() const;

    void takeReading(const SensorDevice &device, int index) override;
    void cycleEnded(const CycleSummary &summary) override;
    // The run's alarms (not owned; null: none): orvex_alarm_active per
    // channel with limits.
    void setAlarmBoard(const AlarmBoard *board) { m_alarms = board; }

    // The page a scrape gets now. Any thread.
    QByteArray page();
    // The server's thread: a request of `connection` has arrived whole.
    void requestStarted(MHD_Connection *connection);

private:
    MetricsConfig m_config;
    std::unique_ptr<MhdConnectionShare> m_share;
    FaceSnapshotBuilder m_builder;
    SnapshotHolder m_snapshot;
    MHD_Daemon *m_daemon = nullptr;
    quint16 m_port = 0;
    std::atomic<int> m_scrapes{0};
    QMutex m_pageMutex;
    std::shared_ptr<const FaceSnapshot> m_pageOf; // the snapshot m_page shows
    QByteArray m_page;
    const AlarmBoard *m_alarms = nullptr;
};
