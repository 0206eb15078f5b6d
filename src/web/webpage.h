#pragma once

#include "faces/facesnapshot.h"
#include "model/channelid.h"
#include "model/outputentry.h"
#include "model/readingsink.h"
#include "web/webconfig.h"
#include "web/webstate.h"

#include <QByteArray>
#include <QHash>
#include <QMutex>
#include <QObject>
#include <QString>
#include <QVector>
#include <atomic>
#include <memory>

class AlarmBoard;
class MhdConnectionShare;
class RecordIndex;
class TrendArchive;
struct MHD_Connection;
struct MHD_Daemon;

// The live web page as an output ("web"): the table, the adapter lines,
// trend charts and the alarms in any browser, and the JSON API beside it
// (/api/channels, /api/events, /api/history, /api/alarms, /api/limits).
// libmicrohttpd serves it on a thread of its own from a snapshot replaced
// at every cycle's end; the charts read the recorded files there, or,
// while not recording, an archive of this run's readings. Read-only unless
// a password file names who may change alarm limits, which change the
// run's limits only, never a file.
class WebPage : public QObject, public ReadingSink
{
    Q_OBJECT
public:
    explicit WebPage(const WebConfig &config, QObject *parent = nullptr);
    ~WebPage() override;

    // Its registration among the outputs ("web").
    static OutputEntry outputEntry();

    // Where the files are (empty: not recording) and the separators their
    // headers are written with; the run's alarms (not owned; null: none).
    void setHost(const OutputHost &host);
    bool start(QString *error);
    quint16 port() const { return m_port; }

    void takeReading(const SensorDevice &device, int index) override;
    void cycleEnded(const CycleSummary &summary) override;

    // The snapshot clients are answered from now. Any thread.
    std::shared_ptr<const WebSnapshot> snapshot() const;
    // The page in `language` ("ru" or "en"), as served at "/".
    QByteArray pageFor(const QString &language) const;
    // Event streams open now; connections pushed out or refused so far.
    int streamCount() const;
    int evictedConnections() const;

    // libmicrohttpd's callbacks, on the server's thread.
    struct Request;
    struct Stream;
    int answer(MHD_Connection *connection, const char *url, const char *method, const char *uploadData,
               size_t *uploadSize, void **state);
    long long streamRead(Stream *stream, char *buffer, size_t max);
    void streamGone(Stream *stream);

private:
    struct Answer;
    Answer route(MHD_Connection *connection, const QByteArray &path, const QByteArray &method, Request &request);
    Answer history(MHD_Connection *connection);
    // Whether the request may change limits (the first call, before its
    // body): 200, or the refusal to answer.
    Answer mayChangeLimits(MHD_Connection *connection);
    Answer changeLimits(const Request &request);
    int openStream(MHD_Connection *connection);
    bool loadPasswords(QString *error);
    bool checkPassword(const QString &user, const QString &password) const;
    void endStream(MHD_Connection *connection);
    void publish(std::shared_ptr<const WebSnapshot> snapshot);

    WebConfig m_config;
    QString m_folder;
    QString m_firstSplit;
    QString m_lastSplit;
    AlarmBoard *m_alarms = nullptr;

    // GUI thread: what the snapshots are made from.
    FaceSnapshotBuilder m_builder;
    struct Serial
    {
        quint64 high = 0;
        quint64 low = 0;
        QString text;
    };
    QHash<ChannelId, Serial> m_i2cSerials;
    QHash<ChannelId, QString> m_keys;
    QHash<QString, QString> m_units; // unit -> as people write it
    QHash<ChannelId, int> m_lastStates; // AlarmState, for the transitions seen while not recording
    QVector<QByteArray> m_transitions;

    // The readings of this run while not recording; the server reads it
    // under the lock, which a reading holds only to append itself.
    std::unique_ptr<TrendArchive> m_archive;
    mutable QMutex m_archiveMutex;

    mutable QMutex m_snapshotMutex;
    std::shared_ptr<const WebSnapshot> m_snapshot;

    // Server thread only.
    std::unique_ptr<RecordIndex> m_index;
    std::unique_ptr<MhdConnectionShare> m_share;
    QHash<QString, QByteArray> m_passwords; // user -> crypt hash

    mutable QMutex m_streamMutex;
    QVector<Stream *> m_streams;
    bool m_stopping = false;

    QByteArray m_pages[2]; // "ru", "en"
    QByteArray m_script;
    QByteArray m_style;
    QByteArray m_chartLibrary;

    MHD_Daemon *m_daemon = nullptr;
    quint16 m_port = 0;
};
