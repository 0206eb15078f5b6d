#include "chart/measurementfilereader.h"

#include "table/recorder.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QStringList>
#include <cmath>
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

// A data line's value: "---" is a failed reading; else a number with a decimal comma.
bool parseValue(const QString &text, double *value)
{
    if (text == QLatin1String(Recorder::FailedValue)) {
        *value = NaN;
        return true;
    }
    bool ok = false;
    *value = Recorder::parseNumber(text, &ok);
    return ok;
}

// The operator's sentence for a problem at line `line` of file `name`.
QString lineProblem(const QString &name, int line, const QString &what)
{
    return QStringLiteral("Файл «%1», строка %2: %3").arg(name).arg(line).arg(what);
}

// The whole lines of the file's bytes, without a byte order mark or line-end
// characters. Only whole lines: the writer may be in the middle of the last one.
QStringList wholeLines(QByteArray bytes)
{
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    bytes.truncate(bytes.lastIndexOf('\n') + 1);
    QStringList lines = QString::fromUtf8(bytes).split(QLatin1Char('\n'));
    lines.removeLast(); // after the last line end
    for (QString &line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    }
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
            *problem = i == 0 ? QStringLiteral("Файл «%1» пуст или не дописан: в нём нет ни одной целой строки.").arg(name)
                              : lineProblem(name, i + 1, QStringLiteral("заголовок файла не дописан."));
            return false;
        }
        const QString &line = lines.at(i);
        if (!line.startsWith(tag) || (i >= 8 && line != tag)) {
            *problem = lineProblem(name, i + 1, QStringLiteral("это не файл измерений (ожидалось «%1»).").arg(tag));
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
        *problem = lineProblem(name, line, QStringLiteral("заголовок повреждён (%1).").arg(what));
        return false;
    };
    if (!unwrap(rest[0], firstSplit, lastSplit, isRomText, &channel->romText))
        return badHeader(1, QStringLiteral("нет номера 1-Wire"));
    if (!unwrap(rest[1], firstSplit, lastSplit, isInteger, &field))
        return badHeader(2, QStringLiteral("нет адреса I2C"));
    channel->i2cAddress = field.toInt();
    const auto isSerial = [](const QString &text) { return serialPattern().match(text).hasMatch(); };
    if (!unwrap(rest[2], firstSplit, lastSplit, isSerial, &field))
        return badHeader(3, QStringLiteral("неверный серийный номер I2C"));
    const QRegularExpressionMatch serial = serialPattern().match(field);
    channel->i2cSerialHigh = serial.captured(1).toULongLong(nullptr, 16);
    channel->i2cSerialLow = serial.captured(2).toULongLong(nullptr, 16);
    if (!unwrap(rest[3], firstSplit, lastSplit, isInteger, &field))
        return badHeader(4, QStringLiteral("нет канала мультихаба"));
    channel->hubChannel = field.toInt();
    if (!unwrap(rest[4], firstSplit, lastSplit, isInteger, &field))
        return badHeader(5, QStringLiteral("нет номера канала датчика"));
    channel->subchannel = field.toInt();
    channel->type = rest[5].trimmed();
    channel->unit = rest[7].trimmed();
    return true;
}

// A data line's time and value; false when the line is damaged. A failed
// reading without a time is taken, with an invalid *time.
bool parseDataLine(const QString &line, QDateTime *time, double *value)
{
    const QStringList fields = line.split(QLatin1Char(';'));
    *value = NaN;
    *time = QDateTime();
    if ((fields.size() != 3 && fields.size() != 5) || !parseValue(fields.at(2), value))
        return false;
    const QString &dateText = fields.at(0);
    const QString &timeText = fields.at(1);
    if (dateText.isEmpty() || timeText.isEmpty())
        return true;
    *time = QDateTime(QDate::fromString(dateText, QLatin1String(Recorder::DateFormat)),
                      QTime::fromString(timeText, QLatin1String(Recorder::TimeFormat)));
    return time->isValid();
}

// The readings of the data lines into `series`; a reading without a time and
// a damaged line each leave a gap after the reading before. Counts both in
// `result`, and names the first damaged line in its problem.
void readData(const QStringList &lines, const QString &name, TrendSeries &series,
              MeasurementFileReader::Result &result)
{
    int firstDamaged = 0;
    for (int i = Recorder::HeaderLines; i < lines.size(); ++i) {
        QDateTime time;
        double value = NaN;
        const bool ok = parseDataLine(lines.at(i), &time, &value);
        if (ok && time.isValid()) {
            series.append(time.toMSecsSinceEpoch(), value);
            ++result.readings;
            continue;
        }
        if (ok) {
            ++result.readings;
        } else {
            if (firstDamaged == 0)
                firstDamaged = i + 1;
            ++result.damagedLines;
        }
        if (!series.isEmpty())
            series.append(series.lastMs(), NaN);
    }
    if (firstDamaged > 0) {
        QString what = QStringLiteral("строка повреждена и пропущена");
        if (result.damagedLines > 1)
            what += QStringLiteral(" (всего повреждённых строк: %1)").arg(result.damagedLines);
        result.problem = lineProblem(name, firstDamaged, what + QLatin1Char('.'));
    }
}

} // namespace

MeasurementFileReader::Result MeasurementFileReader::read(const QString &path, const QString &firstSplit,
                                                          const QString &lastSplit)
{
    Result result;
    const QString name = QFileInfo(path).fileName();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        result.problem = QStringLiteral("Файл «%1» не открывается: %2").arg(name, file.errorString());
        return result;
    }
    const QStringList lines = wholeLines(file.readAll());
    file.close();

    QString rest[Recorder::HeaderLines];
    if (!splitHeader(lines, name, rest, &result.problem))
        return result;
    auto channel = std::make_shared<TrendChannel>();
    channel->filePath = path;
    if (!readIdentity(rest, firstSplit, lastSplit, name, channel.get(), &result.problem))
        return result;
    readData(lines, name, *channel->series, result);
    result.channel = channel;
    return result;
}
