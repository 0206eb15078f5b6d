#pragma once

#include <QByteArray>
#include <QHash>
#include <QMap>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QVector>
#include <memory>

class TrendArchive;

// One reading of a channel's history: NaN for a failed one.
struct HistoryPoint
{
    qint64 ms = 0;
    double value = 0;
};

// What /api/history is asked: the channel (ChannelId's text), the span
// [fromMs, toMs] and, when `points` > 0, the most points to draw it with.
struct HistoryQuery
{
    QString channel;
    qint64 fromMs = 0;
    qint64 toMs = 0;
    int points = 0;

    static constexpr int kMaxPoints = 5000;

    // From the request's arguments: `from` and `to` as Unix milliseconds or
    // ISO 8601 date and time (local when without an offset); `to` defaults
    // to `nowMs`, `from` to an hour before `to`. False with *error (for a
    // 400 answer) when one is malformed, `from` is after `to` or the span
    // is longer than `maxSpanMs`.
    static bool parse(const QString &channel, const QString &from, const QString &to, const QString &points,
                      qint64 nowMs, qint64 maxSpanMs, HistoryQuery *query, QString *error);
};

// The measurement files of a recording folder by channel, found from
// their headers and kept while their folder does not change, so a history
// request reads only the files of its channel. Server thread only.
class RecordIndex
{
public:
    RecordIndex(const QString &folder, const QString &firstSplit, const QString &lastSplit);

    QString folder() const { return m_folder; }
    // The files holding the channel with key `channel`, by name, with its
    // type and unit as the newest of them gives them.
    QStringList filesOf(const QString &channel, QString *type, QString *unit);
    // Every reading of those files from fromMs to toMs, in time order; false
    // with *error when they hold more than `maxReadings`. The readings of
    // the files asked for last are kept (kKeptReadings in all), so that a
    // file is read again only from where it has grown.
    bool readings(const QStringList &files, qint64 fromMs, qint64 toMs, int maxReadings,
                  QVector<HistoryPoint> *points, QString *error);

    static constexpr int kKeptReadings = 2000000; // 32 MB: three weeks at 1 s

private:
    struct Header
    {
        QString channel; // empty: no measurement file
        QString type;
        QString unit;
        qint64 size = 0; // when read: a file that shrank was replaced
    };
    void refresh();

    QString m_folder;
    QString m_firstSplit;
    QString m_lastSplit;
    qint64 m_folderStamp = -1;
    QHash<QString, Header> m_headers; // by file name

    struct Kept
    {
        qint64 size = 0;    // the file's size when last read
        qint64 endByte = 0; // where its last whole line ended
        quint64 used = 0;
        QVector<HistoryPoint> points;
    };
    const QVector<HistoryPoint> &keptReadings(const QString &name);
    QHash<QString, Kept> m_kept;
    quint64 m_uses = 0;
};

// Reduces readings in time order to at most about `points` points over
// [fromMs, toMs]: each of points / 2 equal intervals keeps its lowest and
// highest reading in time order, and a failed reading stays a gap.
QVector<HistoryPoint> reduceHistory(const QVector<HistoryPoint> &readings, qint64 fromMs, qint64 toMs, int points);

// The readings the archive holds for `channel` from fromMs to toMs (a
// summed-up stretch of the older part as its first, lowest, highest and
// last reading), with its type and unit; false when it has none.
bool archiveHistory(const TrendArchive &archive, const QString &channel, qint64 fromMs, qint64 toMs,
                    QVector<HistoryPoint> *points, QString *type, QString *unit);

// The document /api/history answers.
QByteArray historyJson(const HistoryQuery &query, const QString &type, const QString &unit, const QString &source,
                       const QStringList &files, bool reduced, const QVector<HistoryPoint> &points);
