#include "web/webhistory.h"

#include "alarms/alarmlog.h"
#include "chart/measurementfilereader.h"
#include "chart/trendarchive.h"
#include "sensors/sensor.h"
#include "web/webstate.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

const double NaN = std::numeric_limits<double>::quiet_NaN();

bool parseTime(const QString &text, qint64 *ms)
{
    bool isNumber = false;
    const qint64 number = text.toLongLong(&isNumber);
    if (isNumber) {
        *ms = number;
        return true;
    }
    const QDateTime time = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!time.isValid())
        return false;
    *ms = time.toMSecsSinceEpoch();
    return true;
}

} // namespace

bool HistoryQuery::parse(const QString &channel, const QString &from, const QString &to, const QString &points,
                         qint64 nowMs, qint64 maxSpanMs, HistoryQuery *query, QString *error)
{
    HistoryQuery made;
    made.channel = channel.trimmed();
    if (made.channel.isEmpty()) {
        *error = QStringLiteral("channel= names the channel, as /api/channels gives its key");
        return false;
    }
    made.toMs = nowMs;
    if (!to.isEmpty() && !parseTime(to, &made.toMs)) {
        *error = QStringLiteral("to= takes Unix milliseconds or an ISO 8601 date and time");
        return false;
    }
    made.fromMs = made.toMs - 3600 * 1000;
    if (!from.isEmpty() && !parseTime(from, &made.fromMs)) {
        *error = QStringLiteral("from= takes Unix milliseconds or an ISO 8601 date and time");
        return false;
    }
    if (made.fromMs > made.toMs) {
        *error = QStringLiteral("from= is after to=");
        return false;
    }
    if (made.toMs - made.fromMs > maxSpanMs) {
        *error = QStringLiteral("the span is longer than %1 days").arg(maxSpanMs / (24 * 3600 * 1000));
        return false;
    }
    if (!points.isEmpty()) {
        bool ok = false;
        made.points = points.toInt(&ok);
        if (!ok || made.points < 2 || made.points > kMaxPoints) {
            *error = QStringLiteral("points= takes a whole number from 2 to %1").arg(kMaxPoints);
            return false;
        }
    }
    *query = made;
    return true;
}

RecordIndex::RecordIndex(const QString &folder, const QString &firstSplit, const QString &lastSplit)
    : m_folder(folder)
    , m_firstSplit(firstSplit)
    , m_lastSplit(lastSplit)
{
}

void RecordIndex::refresh()
{
    // Listed afresh each time: a new file may arrive within the folder's
    // time stamp's resolution. Only new or replaced files are opened.
    const QFileInfoList files = QDir(m_folder).entryInfoList({QStringLiteral("*.csv")}, QDir::Files, QDir::Name);
    QHash<QString, Header> kept;
    kept.reserve(files.size());
    for (const QFileInfo &info : files) {
        const QString name = info.fileName();
        if (name == QLatin1String(AlarmLog::FileName))
            continue;
        auto known = m_headers.constFind(name);
        if (known != m_headers.constEnd() && info.size() >= known->size && !known->channel.isEmpty()) {
            Header header = *known;
            header.size = info.size();
            kept.insert(name, header);
            continue;
        }
        Header header;
        header.size = info.size();
        const MeasurementFileReader::Result read =
            MeasurementFileReader::readHeader(info.filePath(), m_firstSplit, m_lastSplit);
        if (read.channel) {
            header.channel = read.channel->key();
            header.type = read.channel->type;
            header.unit = read.channel->unit;
            kept.insert(name, header);
        } else if (known == m_headers.constEnd() || info.size() != known->size) {
            kept.insert(name, header); // not (yet) one: tried again once it grows
        }
    }
    m_headers.swap(kept);
}

QStringList RecordIndex::filesOf(const QString &channel, QString *type, QString *unit)
{
    refresh();
    QStringList files;
    for (auto it = m_headers.cbegin(); it != m_headers.cend(); ++it) {
        if (it->channel == channel)
            files << it.key();
    }
    std::sort(files.begin(), files.end());
    qint64 newest = std::numeric_limits<qint64>::min();
    for (const QString &name : qAsConst(files)) {
        const qint64 modified = QFileInfo(QDir(m_folder).filePath(name)).lastModified().toMSecsSinceEpoch();
        if (modified >= newest) {
            newest = modified;
            *type = m_headers.value(name).type;
            *unit = m_headers.value(name).unit;
        }
    }
    return files;
}

const QVector<HistoryPoint> &RecordIndex::keptReadings(const QString &name)
{
    const QString path = QDir(m_folder).filePath(name);
    const qint64 size = QFileInfo(path).size();
    Kept &kept = m_kept[name];
    if (size < kept.size)
        kept = Kept(); // replaced by another file of that name
    kept.used = ++m_uses;
    if (kept.endByte == 0 || size > kept.endByte) {
        qint64 endByte = kept.endByte;
        QVector<HistoryPoint> &points = kept.points;
        MeasurementFileReader::readEach(
            path, m_firstSplit, m_lastSplit, [&points](qint64 ms, double value) { points.append({ms, value}); },
            kept.endByte, &endByte);
        kept.endByte = endByte;
        kept.size = size;
    }
    // Within bounds: the files asked for longest ago are forgotten.
    qint64 total = 0;
    for (const Kept &each : qAsConst(m_kept))
        total += each.points.size();
    while (total > kKeptReadings && m_kept.size() > 1) {
        auto oldest = m_kept.end();
        for (auto it = m_kept.begin(); it != m_kept.end(); ++it) {
            if (it.key() != name && (oldest == m_kept.end() || it->used < oldest->used))
                oldest = it;
        }
        total -= oldest->points.size();
        m_kept.erase(oldest);
    }
    return m_kept[name].points;
}

bool RecordIndex::readings(const QStringList &files, qint64 fromMs, qint64 toMs, int maxReadings,
                           QVector<HistoryPoint> *points, QString *error)
{
    for (const QString &name : files) {
        const QVector<HistoryPoint> &kept = keptReadings(name);
        // In time order as a rule: the span found by halving, then checked line by line.
        auto at = std::lower_bound(kept.begin(), kept.end(), fromMs,
                                   [](const HistoryPoint &p, qint64 ms) { return p.ms < ms; });
        if (at != kept.begin() && !std::is_sorted(kept.begin(), at,
                                                  [](const HistoryPoint &a, const HistoryPoint &b) { return a.ms < b.ms; }))
            at = kept.begin(); // the clock went back somewhere: every line is looked at
        for (; at != kept.end(); ++at) {
            if (at->ms < fromMs || at->ms > toMs)
                continue;
            if (points->size() >= maxReadings) {
                *error = QStringLiteral("more than %1 readings: ask for a shorter span or with points=").arg(maxReadings);
                points->clear();
                return false;
            }
            points->append(*at);
        }
    }
    // Files of several runs, each in time order.
    if (files.size() > 1)
        std::stable_sort(points->begin(), points->end(),
                         [](const HistoryPoint &a, const HistoryPoint &b) { return a.ms < b.ms; });
    return true;
}

QVector<HistoryPoint> reduceHistory(const QVector<HistoryPoint> &readings, qint64 fromMs, qint64 toMs, int points)
{
    const int cells = qMax(1, points / 2);
    if (readings.size() <= points)
        return readings;
    const double cellMs = double(qMax<qint64>(1, toMs - fromMs)) / cells;
    QVector<HistoryPoint> out;
    out.reserve(points + 16);
    int at = 0;
    while (at < readings.size()) {
        const int cell = qBound(0, int((readings.at(at).ms - fromMs) / cellMs), cells - 1);
        int low = -1, high = -1;
        bool gap = false;
        int end = at;
        for (; end < readings.size(); ++end) {
            const HistoryPoint &p = readings.at(end);
            if (qBound(0, int((p.ms - fromMs) / cellMs), cells - 1) != cell)
                break;
            if (std::isnan(p.value)) {
                // A gap ends the cell's stretch: what came before it is kept apart.
                if (low >= 0)
                    break;
                gap = true;
                continue;
            }
            if (low < 0 || p.value < readings.at(low).value)
                low = end;
            if (high < 0 || p.value > readings.at(high).value)
                high = end;
        }
        if (gap)
            out.append({readings.at(at).ms, NaN});
        if (low >= 0) {
            out.append(readings.at(qMin(low, high)));
            if (low != high)
                out.append(readings.at(qMax(low, high)));
        }
        at = qMax(end, at + 1);
    }
    return out;
}

bool archiveHistory(const TrendArchive &archive, const QString &channel, qint64 fromMs, qint64 toMs,
                    QVector<HistoryPoint> *points, QString *type, QString *unit)
{
    const std::shared_ptr<TrendChannel> found = archive.channel(channel);
    if (!found)
        return false;
    *type = found->type;
    *unit = found->unit;
    const TrendSeries &series = *found->series;
    for (int i = series.lowerBound(fromMs); i < series.size(); ++i) {
        const TrendRecord record = series.record(i);
        if (record.firstMs > toMs)
            break;
        if (record.isGap()) {
            points->append({record.firstMs, NaN});
            continue;
        }
        if (record.count == 1 || record.firstMs == record.lastMs) {
            points->append({record.firstMs, record.first});
            continue;
        }
        // A summed-up stretch: its ends, and its extremes in between.
        const qint64 middle = record.firstMs + (record.lastMs - record.firstMs) / 2;
        points->append({record.firstMs, record.first});
        points->append({middle, record.min});
        points->append({middle, record.max});
        points->append({record.lastMs, record.last});
        if (record.interrupted)
            points->append({record.lastMs, NaN});
    }
    return true;
}

QByteArray historyJson(const HistoryQuery &query, const QString &type, const QString &unit, const QString &source,
                       const QStringList &files, bool reduced, const QVector<HistoryPoint> &points)
{
    QByteArray out;
    out.reserve(256 + points.size() * 24);
    out += "{\"channel\":";
    appendJsonString(out, query.channel);
    out += ",\"type\":";
    appendJsonString(out, type);
    out += ",\"unit\":";
    appendJsonString(out, unit);
    const ChannelTraits *traits = Sensor::unitTraits(unit);
    out += ",\"unitShown\":";
    appendJsonString(out, traits ? QString::fromUtf8(traits->shown) : unit);
    out += ",\"from\":" + QByteArray::number(query.fromMs) + ",\"to\":" + QByteArray::number(query.toMs);
    out += ",\"source\":";
    appendJsonString(out, source);
    out += ",\"files\":[";
    for (int i = 0; i < files.size(); ++i) {
        if (i > 0)
            out += ',';
        appendJsonString(out, files.at(i));
    }
    out += "],\"reduced\":";
    out += reduced ? "true" : "false";
    out += ",\"readings\":[";
    for (int i = 0; i < points.size(); ++i) {
        if (i > 0)
            out += ',';
        out += '[';
        out += QByteArray::number(points.at(i).ms);
        out += ',';
        appendJsonNumber(out, points.at(i).value);
        out += ']';
    }
    out += "]}";
    return out;
}
