#include "chart/measurementfilereader.h"

#include "table/recorder.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QStringList>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>

namespace {

const double NaN = std::numeric_limits<double>::quiet_NaN();

// Puts in `out` the field as written between the configured separators,
// else with any quotes, apostrophes and blanks around it taken off; false
// when neither form passes `valid`.
bool unwrap(const QString &raw, const QString &firstSplit, const QString &lastSplit,
            const std::function<bool(const QString &)> &valid, QString *out)
{
    QString text = raw;
    if (!firstSplit.isEmpty() && text.startsWith(firstSplit))
        text.remove(0, firstSplit.size());
    if (!lastSplit.isEmpty() && text.endsWith(lastSplit))
        text.chop(lastSplit.size());
    if (valid(text)) {
        *out = text;
        return true;
    }
    static const QRegularExpression wrapping(QStringLiteral("^[\\s'\"]+|[\\s'\"]+$"));
    text = raw;
    text.remove(wrapping);
    if (valid(text)) {
        *out = text;
        return true;
    }
    return false;
}

bool isRomText(const QString &text)
{
    static const QRegularExpression rom(QStringLiteral("^[0-9A-F]{16}$"));
    return rom.match(text).hasMatch();
}

bool isInteger(const QString &text)
{
    bool ok = false;
    QLocale::c().toInt(text, &ok);
    return ok;
}

// "" or "HHHHHHHHHHHHHHHH-" and/or "LLLLLLLLLLLLLLLL": the I2C serial line's parts.
const QRegularExpression &serialPattern()
{
    static const QRegularExpression pattern(QStringLiteral("^(?:([0-9A-F]{16})-)?([0-9A-F]{16})?$"));
    return pattern;
}

// The operator's sentence for a problem at line `line` of file `name`.
QString lineProblem(const QString &name, int line, const QString &what)
{
    return QCoreApplication::translate("MeasurementFileReader", "Файл «%1», строка %2: %3").arg(name).arg(line).arg(what);
}

// The header's lines (at most HeaderLines) of the file's whole lines, without
// line-end characters; `*dataStart` is where the line after them begins.
QStringList headerLines(const QByteArray &bytes, int *dataStart)
{
    QStringList lines;
    int at = 0;
    while (lines.size() < Recorder::HeaderLines) {
        const int end = bytes.indexOf('\n', at);
        if (end < 0)
            break;
        int length = end - at;
        if (length > 0 && bytes.at(end - 1) == '\r')
            --length;
        lines << QString::fromUtf8(bytes.constData() + at, length);
        at = end + 1;
    }
    *dataStart = at;
    return lines;
}

// Puts in `rest` what follows each header line's tag; false, with the
// problem in *problem, when the header is missing, short or someone else's.
bool splitHeader(const QStringList &lines, const QString &name, QString (&rest)[Recorder::HeaderLines],
                 QString *problem)
{
    for (int i = 0; i < Recorder::HeaderLines; ++i) {
        const QString tag = QString::fromUtf8(Recorder::HeaderTags[i]);
        if (i >= lines.size()) {
            *problem = i == 0
                ? QCoreApplication::translate("MeasurementFileReader",
                                              "Файл «%1» пуст или не дописан: в нём нет ни одной целой строки.")
                      .arg(name)
                : lineProblem(name, i + 1,
                              QCoreApplication::translate("MeasurementFileReader", "заголовок файла не дописан."));
            return false;
        }
        const QString &line = lines.at(i);
        if (!line.startsWith(tag) || (i >= 8 && line != tag)) {
            *problem = lineProblem(name, i + 1,
                                   QCoreApplication::translate("MeasurementFileReader",
                                                               "это не файл измерений (ожидалось «%1»).")
                                       .arg(tag));
            return false;
        }
        rest[i] = line.mid(tag.size());
    }
    return true;
}

// Fills in the channel's identity, type and unit from the header fields;
// false, with the problem in *problem, at the first field that is damaged.
bool readIdentity(const QString (&rest)[Recorder::HeaderLines], const QString &firstSplit, const QString &lastSplit,
                  const QString &name, TrendChannel *channel, QString *problem)
{
    QString field;
    auto badHeader = [&](int line, const QString &what) {
        *problem = lineProblem(name, line,
                               QCoreApplication::translate("MeasurementFileReader", "заголовок повреждён (%1).").arg(what));
        return false;
    };
    if (!unwrap(rest[0], firstSplit, lastSplit, isRomText, &channel->romText))
        return badHeader(1, QCoreApplication::translate("MeasurementFileReader", "нет номера 1-Wire"));
    if (!unwrap(rest[1], firstSplit, lastSplit, isInteger, &field))
        return badHeader(2, QCoreApplication::translate("MeasurementFileReader", "нет адреса I2C"));
    channel->i2cAddress = field.toInt();
    const auto isSerial = [](const QString &text) { return serialPattern().match(text).hasMatch(); };
    if (!unwrap(rest[2], firstSplit, lastSplit, isSerial, &field))
        return badHeader(3, QCoreApplication::translate("MeasurementFileReader", "неверный серийный номер I2C"));
    const QRegularExpressionMatch serial = serialPattern().match(field);
    channel->i2cSerialHigh = serial.captured(1).toULongLong(nullptr, 16);
    channel->i2cSerialLow = serial.captured(2).toULongLong(nullptr, 16);
    if (!unwrap(rest[3], firstSplit, lastSplit, isInteger, &field))
        return badHeader(4, QCoreApplication::translate("MeasurementFileReader", "нет канала мультихаба"));
    channel->hubChannel = field.toInt();
    if (!unwrap(rest[4], firstSplit, lastSplit, isInteger, &field))
        return badHeader(5, QCoreApplication::translate("MeasurementFileReader", "нет номера канала датчика"));
    channel->subchannel = field.toInt();
    channel->type = rest[5].trimmed();
    channel->unit = rest[7].trimmed();
    return true;
}

// Digits at `text[0, count)` as a number; -1 when one is no digit.
int digits(const char *text, int count)
{
    int n = 0;
    for (int i = 0; i < count; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return -1;
        n = n * 10 + (text[i] - '0');
    }
    return n;
}

// Turns the data lines' local dates and times into ms since the epoch. A
// week at 1 s has 600,000 lines but only 168 hours: the local-time
// conversion, by far the dearest step, runs once per hour.
class LineTimes
{
public:
    // Invalid (false) for a date or time that does not exist.
    bool toMs(const char *date, int dateLength, const char *time, int timeLength, qint64 *ms)
    {
        int year = -1, month = -1, day = -1, hour = -1, minute = -1, second = -1;
        if (dateLength == 10 && date[4] == '.' && date[7] == '.') {
            year = digits(date, 4);
            month = digits(date + 5, 2);
            day = digits(date + 8, 2);
        }
        if (timeLength == 8 && time[2] == ':' && time[5] == ':') {
            hour = digits(time, 2);
            minute = digits(time + 3, 2);
            second = digits(time + 6, 2);
        }
        if (year < 0 || month < 0 || day < 0 || hour < 0 || minute < 0 || second < 0) {
            // Not in the writer's exact form: the general parser decides.
            const QDateTime parsed(
                QDate::fromString(QString::fromUtf8(date, dateLength), QLatin1String(Recorder::DateFormat)),
                QTime::fromString(QString::fromUtf8(time, timeLength), QLatin1String(Recorder::TimeFormat)));
            *ms = parsed.toMSecsSinceEpoch();
            return parsed.isValid();
        }
        if (minute > 59 || second > 59)
            return false;
        const qint64 key = ((qint64(year) * 100 + month) * 100 + day) * 100 + hour;
        if (key != m_hourKey) {
            const QDateTime start(QDate(year, month, day), QTime(hour, 0));
            m_hourKey = key;
            m_hourValid = start.isValid() && start.time().hour() == hour;
            m_hourMs = start.toMSecsSinceEpoch();
        }
        *ms = m_hourMs + (minute * 60 + second) * 1000;
        return m_hourValid;
    }

private:
    qint64 m_hourKey = -1;
    qint64 m_hourMs = 0;
    bool m_hourValid = false;
};

// A data line's value: "---" is a failed reading; else a number with a
// decimal comma (or point).
bool parseValueBytes(const char *text, int length, double *value)
{
    if (length == 3 && text[0] == '-' && text[1] == '-' && text[2] == '-') {
        *value = NaN;
        return true;
    }
    if (length <= 0 || length > 40)
        return false;
    char buffer[41];
    for (int i = 0; i < length; ++i)
        buffer[i] = text[i] == ',' ? '.' : text[i];
    buffer[length] = '\0';
    bool ok = false;
    *value = QByteArray::fromRawData(buffer, length).toDouble(&ok);
    return ok && std::isfinite(*value);
}

// A data line "date;time;value[;sample;deviation]": its time and value;
// false when the line is damaged. A failed reading without a time is taken,
// with *hasTime false.
bool parseDataLine(const char *line, int length, LineTimes &times, qint64 *ms, bool *hasTime, double *value)
{
    int fieldStart[6];
    int fields = 0;
    fieldStart[fields++] = 0;
    for (int i = 0; i < length && fields < 6; ++i) {
        if (line[i] == ';')
            fieldStart[fields++] = i + 1;
    }
    *value = NaN;
    *hasTime = false;
    if (fields != 3 && fields != 5)
        return false;
    fieldStart[fields] = length + 1;
    auto fieldLength = [&](int f) { return fieldStart[f + 1] - 1 - fieldStart[f]; };
    if (!parseValueBytes(line + fieldStart[2], fieldLength(2), value))
        return false;
    const int dateLength = fieldLength(0);
    const int timeLength = fieldLength(1);
    if (dateLength == 0 || timeLength == 0)
        return true;
    *hasTime = true;
    return times.toMs(line, dateLength, line + fieldStart[1], timeLength, ms);
}

// The readings of the data lines (the whole lines from `at` on): each with
// a time to `take(ms, value)`; a reading without a time and a damaged line
// each to `gap()`. Counts both in `result`, and names the first damaged
// line in its problem. Stops early when asked to (progress->cancel).
// Returns where the first line not yet whole begins.
template <typename Take, typename Gap>
int readData(const QByteArray &bytes, int at, const QString &name, const Take &take, const Gap &gap,
             MeasurementFileReader::Result &result, MeasurementFileReader::Progress *progress)
{
    int firstDamaged = 0;
    int lineNumber = Recorder::HeaderLines;
    LineTimes times;
    const char *data = bytes.constData();
    const int size = bytes.size();
    while (at < size) {
        const char *found = static_cast<const char *>(memchr(data + at, '\n', size_t(size - at)));
        if (!found)
            break; // a line still being written
        const int end = int(found - data);
        int length = end - at;
        if (length > 0 && data[end - 1] == '\r')
            --length;
        ++lineNumber;
        if (progress && (lineNumber & 0x3FFF) == 0) {
            progress->doneBytes = at;
            if (progress->cancel)
                return at;
        }
        qint64 ms = 0;
        bool hasTime = false;
        double value = NaN;
        const bool ok = parseDataLine(data + at, length, times, &ms, &hasTime, &value);
        at = end + 1;
        if (ok && hasTime) {
            take(ms, value);
            ++result.readings;
            continue;
        }
        if (ok) {
            ++result.readings;
        } else {
            if (firstDamaged == 0)
                firstDamaged = lineNumber;
            ++result.damagedLines;
        }
        gap();
    }
    if (progress)
        progress->doneBytes = size;
    if (firstDamaged > 0) {
        QString what = QCoreApplication::translate("MeasurementFileReader", "строка повреждена и пропущена");
        if (result.damagedLines > 1)
            what += QCoreApplication::translate("MeasurementFileReader", " (всего повреждённых строк: %1)")
                        .arg(result.damagedLines);
        result.problem = lineProblem(name, firstDamaged, what + QLatin1Char('.'));
    }
    return at;
}

} // namespace

namespace {

// The file's bytes (at most `limit`; -1: all) without a byte-order mark,
// and its channel from the header; null channel and the problem in
// `result` when it cannot be read or is no measurement file.
std::shared_ptr<TrendChannel> openChannel(const QString &path, const QString &firstSplit, const QString &lastSplit,
                                          qint64 limit, QByteArray *bytes, int *dataStart,
                                          MeasurementFileReader::Result &result,
                                          MeasurementFileReader::Progress *progress, int *markBytes = nullptr)
{
    const QString name = QFileInfo(path).fileName();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.problem = QCoreApplication::translate("MeasurementFileReader", "Файл «%1» не открывается: %2")
                             .arg(name, file.errorString());
        return nullptr;
    }
    if (progress)
        progress->totalBytes = file.size();
    *bytes = limit < 0 ? file.readAll() : file.read(limit);
    file.close();
    if (bytes->startsWith("\xEF\xBB\xBF")) {
        bytes->remove(0, 3);
        if (markBytes)
            *markBytes = 3;
    }

    const QStringList lines = headerLines(*bytes, dataStart);
    QString rest[Recorder::HeaderLines];
    if (!splitHeader(lines, name, rest, &result.problem))
        return nullptr;
    auto channel = std::make_shared<TrendChannel>();
    channel->filePath = path;
    if (!readIdentity(rest, firstSplit, lastSplit, name, channel.get(), &result.problem))
        return nullptr;
    return channel;
}

} // namespace

MeasurementFileReader::Result MeasurementFileReader::read(const QString &path, const QString &firstSplit,
                                                          const QString &lastSplit, Progress *progress)
{
    Result result;
    QByteArray bytes;
    int dataStart = 0;
    std::shared_ptr<TrendChannel> channel =
        openChannel(path, firstSplit, lastSplit, -1, &bytes, &dataStart, result, progress);
    if (!channel)
        return result;
    TrendSeries &series = *channel->series;
    readData(
        bytes, dataStart, QFileInfo(path).fileName(), [&](qint64 ms, double value) { series.append(ms, value); },
        [&] {
            if (!series.isEmpty())
                series.append(series.lastMs(), NaN);
        },
        result, progress);
    if (progress && progress->cancel) {
        result.cancelled = true;
        return result;
    }
    result.channel = channel;
    return result;
}

MeasurementFileReader::Result MeasurementFileReader::readHeader(const QString &path, const QString &firstSplit,
                                                                const QString &lastSplit)
{
    Result result;
    QByteArray bytes;
    int dataStart = 0;
    // The ten header lines are short: a type or unit text of a few hundred bytes at most.
    result.channel = openChannel(path, firstSplit, lastSplit, 64 * 1024, &bytes, &dataStart, result, nullptr);
    return result;
}

MeasurementFileReader::Result MeasurementFileReader::readEach(const QString &path, const QString &firstSplit,
                                                              const QString &lastSplit, const Take &take,
                                                              qint64 fromByte, qint64 *endByte)
{
    Result result;
    QByteArray bytes;
    int dataStart = 0;
    int markBytes = 0;
    if (fromByte <= 0) {
        result.channel = openChannel(path, firstSplit, lastSplit, -1, &bytes, &dataStart, result, nullptr, &markBytes);
        if (!result.channel)
            return result;
    } else {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly) || !file.seek(fromByte)) {
            result.problem = QCoreApplication::translate("MeasurementFileReader", "Файл «%1» не открывается: %2")
                                 .arg(QFileInfo(path).fileName(), file.errorString());
            return result;
        }
        bytes = file.readAll();
    }
    // Where the data starts in the file: after the header (and a byte-order mark) or at fromByte.
    const qint64 base = fromByte > 0 ? fromByte : markBytes;
    const int end = readData(bytes, dataStart, QFileInfo(path).fileName(), take, [] {}, result, nullptr);
    if (endByte)
        *endByte = base + end;
    return result;
}
