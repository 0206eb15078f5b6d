#pragma once

#include "faces/facesnapshot.h"
#include "model/outputentry.h"
#include "model/readingsink.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>

class QSettings;
class QThread;
class OwListener;

// Where and how the owserver-protocol face listens. The window reads it from
// the "Owserver/..." settings; orvexctl from its --owserver options.
struct OwserverConfig
{
    bool enabled = false;
    ListenAddress listen;         // 4304 is the protocol's usual port
    // At most this many at once; a newcomer beyond them takes the place of
    // the one that has waited longest without a request (ConnectionShare).
    int maxConnections = 32;
    int requestTimeoutMs = 5000;  // a request must arrive whole within this of its first byte (real time)
    int idleTimeoutMs = 30000;    // a kept connection with nothing to do is closed after this

    // "Owserver/Listen" ([ADDRESS:]PORT; empty: off), "Owserver/MaxConnections".
    static OwserverConfig fromSettings(QSettings &settings, QString *error);
    // orvexctl: takes "--owserver [ADDRESS:]PORT" out of `args`. False with *error.
    static bool takeOptions(QStringList &args, OwserverConfig *config, QString *error);
    static QString optionsUsage();
};

// An output that serves the session's latest readings over the owserver
// protocol: every device of every bus at the root, the usual properties of
// each 1-Wire thermometer, and the sensors behind a DS28E17 in its "i2c"
// directory. Answers from a snapshot replaced at every cycle's end, on a
// thread of its own: a client never holds up measuring. Read-only.
class OwserverFace : public QObject, public ReadingSink
{
    Q_OBJECT
public:
    explicit OwserverFace(const OwserverConfig &config, QObject *parent = nullptr);
    ~OwserverFace() override;

    // Its registration among the outputs ("owserver").
    static OutputEntry outputEntry();

    // Starts listening. False with *error (the port is taken, say).
    bool start(QString *error);
    quint16 port() const { return m_port; }
    // Connections closed because their header was malformed or too large.
    int rejectedConnections() const;
    // Connections closed to make room for newcomers.
    int evictedConnections() const;

    void takeReading(const SensorDevice &device, int index) override;
    void cycleEnded(const CycleSummary &summary) override;

private:
    OwserverConfig m_config;
    FaceSnapshotBuilder m_builder;
    SnapshotHolder m_snapshot;
    QThread *m_thread = nullptr;
    OwListener *m_listener = nullptr;
    quint16 m_port = 0;
};
