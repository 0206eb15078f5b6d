#include "web/webstate.h"

#include "base/language.h"

#include <QFile>
#include <QStringList>
#include <algorithm>
#include <cmath>
#include <limits>

void appendJsonString(QByteArray &out, const QString &text)
{
    static const char hex[] = "0123456789abcdef";
    out += '"';
    const QChar *chars = text.constData();
    const int size = text.size();
    for (int i = 0; i < size; ++i) {
        const ushort u = chars[i].unicode();
        if (u >= 0x80) {
            // A run of other characters at once, as UTF-8.
            int end = i + 1;
            while (end < size && chars[end].unicode() >= 0x80)
                ++end;
            out += QStringView(chars + i, end - i).toUtf8();
            i = end - 1;
        } else if (u == '"' || u == '\\') {
            out += '\\';
            out += char(u);
        } else if (u < 0x20 || u == '<' || u == '>' || u == '&' || u == '\'') {
            // Control characters as JSON wants them; the HTML ones too, so
            // the text stays inert wherever a page puts it.
            out += "\\u00";
            out += hex[u >> 4];
            out += hex[u & 15];
        } else {
            out += char(u);
        }
    }
    out += '"';
}

void appendJsonNumber(QByteArray &out, double value)
{
    if (!std::isfinite(value)) {
        out += "null";
        return;
    }
    // The files hold two decimals: those are written without the general
    // formatter, which is the dearest step of a long history.
    const double hundredths = value * 100;
    if (std::fabs(hundredths) < 1e15 && hundredths == std::floor(hundredths)) {
        auto whole = static_cast<qint64>(hundredths);
        if (whole < 0) {
            out += '-';
            whole = -whole;
        }
        out += QByteArray::number(whole / 100);
        const int cents = int(whole % 100);
        if (cents != 0) {
            out += '.';
            out += char('0' + cents / 10);
            if (cents % 10 != 0)
                out += char('0' + cents % 10);
        }
        return;
    }
    out += QByteArray::number(value, 'g', 12);
}

namespace {

// Two digits, or four.
void appendDigits(QByteArray &out, int value, int count)
{
    char digits[4];
    for (int i = count - 1; i >= 0; --i, value /= 10)
        digits[i] = char('0' + value % 10);
    out.append(digits, count);
}

// ISO 8601 local times with their offset from UTC, written by hand: the
// offset is looked up once per hour, not once per channel.
class TimeWriter
{
public:
    void append(QByteArray &out, const QDateTime &time)
    {
        if (!time.isValid()) {
            out += "null";
            return;
        }
        append(out, time.toMSecsSinceEpoch());
    }
    void append(QByteArray &out, qint64 ms)
    {
        const qint64 hour = ms / 3600000;
        if (hour != m_hour) {
            m_hour = hour;
            m_offsetS = QDateTime::fromMSecsSinceEpoch(ms).offsetFromUtc();
        }
        const QDateTime local = QDateTime::fromMSecsSinceEpoch(ms + qint64(m_offsetS) * 1000, Qt::UTC);
        const QDate date = local.date();
        const QTime clock = local.time();
        out += '"';
        appendDigits(out, date.year(), 4);
        out += '-';
        appendDigits(out, date.month(), 2);
        out += '-';
        appendDigits(out, date.day(), 2);
        out += 'T';
        appendDigits(out, clock.hour(), 2);
        out += ':';
        appendDigits(out, clock.minute(), 2);
        out += ':';
        appendDigits(out, clock.second(), 2);
        if (m_offsetS == 0) {
            out += "Z\"";
            return;
        }
        const int minutes = qAbs(m_offsetS) / 60;
        out += m_offsetS < 0 ? '-' : '+';
        appendDigits(out, minutes / 60, 2);
        out += ':';
        appendDigits(out, minutes % 60, 2);
        out += '"';
    }

private:
    qint64 m_hour = std::numeric_limits<qint64>::min();
    int m_offsetS = 0;
};

void appendField(QByteArray &out, const char *name)
{
    out += '"';
    out += name;
    out += "\":";
}

// One line of alarms.csv, "DATE;TIME;Channel;State;Value;Limit", as an object.
void appendTransition(QByteArray &out, const QByteArray &line)
{
    static const char *const names[] = {"date", "time", "channel", "state", "value", "limit"};
    const QList<QByteArray> fields = line.trimmed().split(';');
    out += '{';
    for (int i = 0; i < 6; ++i) {
        if (i > 0)
            out += ',';
        appendField(out, names[i]);
        appendJsonString(out, QString::fromUtf8(fields.value(i)));
    }
    out += '}';
}

} // namespace

const QByteArray &WebSnapshot::json() const
{
    std::call_once(m_made, [this] {
        QByteArray alarms = "{\"active\":[";
        for (int i = 0; i < active.size(); ++i) {
            const WebAlarm &alarm = active.at(i);
            if (i > 0)
                alarms += ',';
            alarms += "{\"key\":";
            appendJsonString(alarms, alarm.key);
            alarms += ",\"state\":";
            appendJsonString(alarms, alarm.state);
            alarms += ",\"value\":";
            appendJsonNumber(alarms, alarm.value);
            alarms += ",\"limit\":";
            appendJsonNumber(alarms, alarm.limit);
            alarms += '}';
        }
        alarms += "],\"transitions\":[";
        const QVector<QByteArray> lines =
            alarmsFile.isEmpty() ? transitions : lastAlarmLines(alarmsFile, kWebTransitions);
        for (int i = 0; i < lines.size(); ++i) {
            if (i > 0)
                alarms += ',';
            appendTransition(alarms, lines.at(i));
        }
        alarms += "]}";
        m_alarmsJson = alarms;

        QByteArray &out = m_json;
        out.reserve(512 + channels.size() * 400);
        TimeWriter times;
        out += "{\"cycle\":" + QByteArray::number(cycle) + ",\"time\":";
        times.append(out, time);
        out += ",\"cycleMs\":" + QByteArray::number(cycleMs);
        out += ",\"limitsEditable\":";
        out += limitsEditable ? "true" : "false";
        out += ",\"buses\":[";
        for (int i = 0; i < buses.size(); ++i) {
            if (i > 0)
                out += ',';
            out += "{\"bus\":" + QByteArray::number(i) + ",\"kind\":";
            appendJsonString(out, buses.at(i).kind);
            out += ",\"description\":";
            appendJsonString(out, buses.at(i).description);
            out += ",\"up\":";
            out += buses.at(i).up ? "true" : "false";
            out += '}';
        }
        out += "],\"channels\":[";
        for (int i = 0; i < channels.size(); ++i) {
            const WebChannel &c = channels.at(i);
            if (i > 0)
                out += ',';
            out += "{\"key\":";
            appendJsonString(out, c.key);
            out += ",\"rom\":";
            appendJsonString(out, c.romText);
            out += ",\"bus\":" + QByteArray::number(c.bus);
            out += ",\"subchannel\":" + QByteArray::number(c.subchannel);
            out += ",\"hubChannel\":" + QByteArray::number(c.hubChannel);
            out += ",\"i2cAddress\":" + QByteArray::number(c.i2cAddress);
            out += ",\"i2cSerial\":";
            appendJsonString(out, c.i2cSerial);
            out += ",\"type\":";
            appendJsonString(out, c.type);
            out += ",\"quantity\":";
            appendJsonString(out, c.quantity);
            out += ",\"unit\":";
            appendJsonString(out, c.unit);
            out += ",\"unitShown\":";
            appendJsonString(out, c.unitShown);
            out += ",\"value\":";
            appendJsonNumber(out, c.value);
            // The value as the window's table shows it.
            out += ",\"text\":\"";
            out += std::isnan(c.value) ? QByteArray("---") : QByteArray::number(c.value, 'f', c.decimals);
            out += "\",\"time\":";
            const qint64 ms = c.time.isValid() ? c.time.toMSecsSinceEpoch() : 0;
            if (c.time.isValid())
                times.append(out, ms);
            else
                out += "null";
            out += ",\"timeMs\":";
            out += c.time.isValid() ? QByteArray::number(ms) : QByteArray("null");
            out += ",\"fresh\":";
            out += c.fresh ? "true" : "false";
            out += ",\"failure\":";
            appendJsonString(out, c.failure);
            out += ",\"alarm\":";
            appendJsonString(out, c.alarm);
            out += ",\"limits\":";
            appendJsonString(out, c.limits);
            out += '}';
        }
        out += "],\"alarms\":";
        out += alarms;
        out += "}";
    });
    return m_json;
}

QByteArray WebSnapshot::alarmsJson() const
{
    json();
    return m_alarmsJson;
}

QVector<QByteArray> lastAlarmLines(const QString &path, int count)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    // Enough for the lines asked: a line is some 60 bytes.
    const qint64 tail = qMin<qint64>(file.size(), qint64(count) * 512);
    file.seek(file.size() - tail);
    const QByteArray bytes = file.read(tail);
    QList<QByteArray> lines = bytes.split('\n');
    lines.removeLast(); // after the last line end: empty, or a line being written
    if (tail < file.size() && !lines.isEmpty())
        lines.removeFirst(); // cut at its start
    QVector<QByteArray> kept;
    for (const QByteArray &line : qAsConst(lines)) {
        const QByteArray trimmed = line.trimmed();
        if (!trimmed.isEmpty() && !trimmed.startsWith("DATA;TIME;"))
            kept.append(trimmed);
    }
    return kept.mid(qMax(0, kept.size() - count));
}

QString webLanguage(const QString &langArgument, const QString &acceptLanguage)
{
    if (Language::isChoice(langArgument))
        return langArgument.trimmed().toLower();
    // "ru-RU,ru;q=0.9,en;q=0.8": the range of the highest weight, the first
    // of equal ones.
    QString best;
    double bestWeight = -1;
    for (const QString &part : acceptLanguage.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QStringList pieces = part.split(QLatin1Char(';'));
        double weight = 1;
        for (int i = 1; i < pieces.size(); ++i) {
            const QString parameter = pieces.at(i).trimmed();
            if (parameter.startsWith(QLatin1String("q="))) {
                bool ok = false;
                weight = parameter.mid(2).toDouble(&ok);
                if (!ok)
                    weight = 0;
            }
        }
        if (weight > bestWeight) {
            bestWeight = weight;
            best = pieces.first().trimmed();
        }
    }
    return Language::fromUiLanguages({best});
}
