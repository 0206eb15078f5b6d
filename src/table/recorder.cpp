#include "table/recorder.h"

#include "base/logging.h"
#include "onewire/romid.h"
#include "base/clock.h"
#include "model/channelid.h"
#include "model/sensordevice.h"

#include <QCoreApplication>
#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <cmath>

namespace {

const char *const LineEnd = "\r\n";

// Digits, Latin letters, the 33 + 33 Russian letters and "-._()" plus one
// extra character: "!" for file names, "%" for templates.
const QString &fileNameChars()
{
    static const QString chars = QStringLiteral("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
        "АБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯабвгдеёжзийклмнопрстуфхцчшщъыьэюя-._()!");
    return chars;
}

const QString &templateChars()
{
    static const QString chars = QStringLiteral("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
        "АБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЪЫЬЭЮЯабвгдеёжзийклмнопрстуфхцчшщъыьэюя-._()%");
    return chars;
}

// Keeps the characters of `allowed`, turns "№" into "N" and anything else
// (a surrogate pair counting as one character) into "_".
bool filterChars(QString &text, const QString &allowed)
{
    QString result;
    result.reserve(text.size());
    bool replaced = false;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (allowed.contains(c)) {
            result += c;
            continue;
        }
        replaced = true;
        if (c == QChar(0x2116)) {
            result += QLatin1Char('N');
            continue;
        }
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
        result += QLatin1Char('_');
    }
    text = result;
    return replaced;
}

QString hex16(quint64 value)
{
    return QString::number(value, 16).toUpper().rightJustified(16, QLatin1Char('0'));
}

} // namespace

QString Recorder::formatNumber(double x, int decimals)
{
    return QString::number(x, 'f', decimals).replace(QLatin1Char('.'), QLatin1Char(','));
}

double Recorder::parseNumber(const QString &text, bool *ok)
{
    QString number = text;
    number.replace(QLatin1Char(','), QLatin1Char('.'));
    const double value = QLocale::c().toDouble(number, ok);
    *ok = *ok && std::isfinite(value);
    return value;
}

bool Recorder::sanitizeFileName(QString &text)
{
    return filterChars(text, fileNameChars());
}

bool Recorder::sanitizeTemplate(QString &text)
{
    return filterChars(text, templateChars());
}

QString Recorder::expandTemplate(const QString &templateText, const SensorDevice &device, int index,
                                 const QDateTime &startTime)
{
    if (index < 0 || index >= device.channels.size())
        return QString();
    const SensorChannel &channel = device.channels.at(index);
    QString name = templateText;

    name.replace(QLatin1String("%SN1W%"), romToText(device.rom, false));
    const QString serialHigh = channel.i2cSerialHigh != 0
        ? QLatin1Char('_') + hex16(channel.i2cSerialHigh) + QLatin1Char('-') : QString();
    const QString serialLow = channel.i2cSerialLow != 0 ? hex16(channel.i2cSerialLow) : QString();
    name.replace(QLatin1String("%I2CSNH%"), serialHigh);
    name.replace(QLatin1String("%I2CSNL%"), serialLow);
    name.replace(QLatin1String("%MHCH%"),
                 channel.hubChannel < 0 ? QString() : QString::number(channel.hubChannel));
    name.replace(QLatin1String("%TS%"), channel.mark);
    name.replace(QLatin1String("%SC%"), QString::number(channel.subchannel));
    name.replace(QLatin1String("%I2CA%"),
                 channel.i2cAddress != 0 ? QString::number(channel.i2cAddress) : QStringLiteral("_"));
    name.replace(QLatin1String("%DATE%"), startTime.toString(QStringLiteral("yyyy.MM.dd")));
    name.replace(QLatin1String("%TIME%"), startTime.toString(QStringLiteral("hh.mm.ss")));

    sanitizeFileName(name);
    while (name.contains(QLatin1String("__")))
        name.replace(QLatin1String("__"), QString());
    while (name.endsWith(QLatin1Char('_')))
        name.chop(1);
    return name;
}

bool Recorder::fitsFileName(const QString &templateText)
{
    SensorDevice widest;
    widest.rom = QVector<short>(8, 0xFF);
    SensorChannel channel;
    channel.mark = QStringLiteral("CO2");
    channel.subchannel = 7;
    channel.hubChannel = 47;
    channel.i2cAddress = 0xFF;
    channel.i2cSerialHigh = ~quint64(0);
    channel.i2cSerialLow = ~quint64(0);
    widest.channels.append(channel);
    // Any run's date and time have the same width as this one's.
    const QDateTime anyStart(QDate(2000, 1, 1), QTime(0, 0));
    const QString name = expandTemplate(templateText, widest, 0, anyStart) + QLatin1String(".csv");
    return name.toUtf8().size() <= MaxFileNameBytes;
}

QString Recorder::filePathFor(const SensorDevice &device, int index) const
{
    if (index < 0 || index >= device.channels.size())
        return QString();
    const QString pathsFor = m_folder + QLatin1Char('\n') + m_nameTemplate;
    if (pathsFor != m_pathsFor) {
        // Another folder or template: names are handed out afresh.
        m_pathsFor = pathsFor;
        m_pathOf.clear();
        m_ownerOf.clear();
        m_noticeText.clear();
        m_sharedNames.clear();
        m_renamed = 0;
    }
    const ChannelId id = ChannelId::of(device, index);
    const auto known = m_pathOf.constFind(id);
    if (known != m_pathOf.constEnd())
        return known.value();

    const auto pathOf = [this](const QString &name) {
        return m_folder + QLatin1Char('/') + name + QLatin1String(".csv");
    };
    const auto takenByOther = [&](const QString &path) {
        const auto owner = m_ownerOf.constFind(path);
        return owner != m_ownerOf.constEnd() && owner.value() != id;
    };
    const QString base = expandTemplate(m_nameTemplate, device, index, m_startTime);
    QString path = pathOf(base);
    if (takenByOther(path)) {
        const QString distinct = base + QLatin1Char('_') + romToText(device.rom, false) + QLatin1Char('_')
            + QString::number(device.channels.at(index).subchannel);
        path = pathOf(distinct);
        for (int n = 2; takenByOther(path); ++n)
            path = pathOf(distinct + QLatin1Char('_') + QString::number(n));
        ++m_renamed;
        qCDebug(logWarning()) << "FileNameShared" << pathOf(base) << "-> channel" << id.text() << "writes"
                              << path;
        const QString shared = QFileInfo(pathOf(base)).fileName();
        if (!m_sharedNames.contains(shared))
            m_sharedNames << shared;
        m_noticeText = QCoreApplication::translate("Recorder", "Шаблон даёт одно имя файла нескольким каналам (%1): каналов с "
                                      "добавленным серийным номером: %2")
                           .arg(m_sharedNames.join(QStringLiteral(", ")))
                           .arg(m_renamed);
    }
    m_pathOf.insert(id, path);
    m_ownerOf.insert(path, id);
    return path;
}

QStringList Recorder::sharedNames(const QString &templateText, const QVector<SensorDevice *> &devices,
                                  const QDateTime &startTime)
{
    QHash<QString, ChannelId> first;
    QStringList shared;
    for (const SensorDevice *device : devices) {
        if (!device || !device->isPresent())
            continue;
        for (int index = 0; index < device->channels.size(); ++index) {
            if (!device->channels.at(index).isLive())
                continue;
            const QString name = expandTemplate(templateText, *device, index, startTime);
            const ChannelId id = ChannelId::of(*device, index);
            const auto owner = first.constFind(name);
            if (owner == first.constEnd())
                first.insert(name, id);
            else if (owner.value() != id && !shared.contains(name))
                shared << name;
        }
    }
    return shared;
}

QByteArray Recorder::headerBytes(const SensorDevice &device, int index) const
{
    const SensorChannel &channel = device.channels.at(index);
    const QString &fs = m_firstSplit;
    const QString &ls = m_lastSplit;

    QString serialHigh;
    if (channel.i2cSerialHigh != 0)
        serialHigh = fs + hex16(channel.i2cSerialHigh) + QLatin1Char('-');
    QString serialLow;
    if (channel.i2cSerialLow != 0)
        serialLow = (serialHigh.isEmpty() ? fs : QString()) + hex16(channel.i2cSerialLow) + ls;

    const QString rest[HeaderLines] = {
        fs + romToText(device.rom, false) + ls,
        fs + QString::number(channel.i2cAddress) + ls,
        serialHigh + serialLow,
        fs + QString::number(channel.hubChannel) + ls,
        fs + QString::number(channel.subchannel) + ls,
        channel.type,
        channel.mark,
        channel.unit,
        QString(),
        QString(),
    };
    QByteArray bytes;
    for (int i = 0; i < HeaderLines; ++i)
        bytes += HeaderTags[i] + rest[i].toUtf8() + LineEnd;
    return bytes;
}

QByteArray Recorder::dataLineBytes(const SensorDevice &device, int index) const
{
    const SensorChannel &channel = device.channels.at(index);

    QString samples;
    if (channel.subchannel == 0 && isSampleSet(m_sample0))
        samples = QLatin1Char(';') + formatNumber(m_sample0) + QLatin1Char(';')
            + formatNumber(channel.value - m_sample0);
    else if (channel.subchannel == 1 && isSampleSet(m_sample1))
        samples = QLatin1Char(';') + formatNumber(m_sample1) + QLatin1Char(';')
            + formatNumber(channel.value - m_sample1);

    // With the digits its chip resolves: a count whole, a 16-bit voltage to 0.1 mV.
    const QString value = std::isnan(channel.value) ? QString::fromLatin1(FailedValue)
                                                    : formatNumber(channel.value, channel.decimals());

    const QDate date = channel.time.date();
    const QTime time = channel.time.time();
    const QString dateText = date.isValid() ? date.toString(QLatin1String(DateFormat)) : QString();
    const QString timeText = time.isValid() ? time.toString(QLatin1String(TimeFormat)) : QString();
    if (!date.isValid() || !time.isValid()) {
        qDebug() << "CheckValidDate " << dateText;
        qDebug() << "CheckValidTime " << timeText;
    }

    const QString line = dateText + QLatin1Char(';') + timeText + QLatin1Char(';') + value + samples;
    return line.toUtf8() + LineEnd;
}

bool Recorder::writeAll(QFile &file, const QByteArray &bytes, QString *reason)
{
    const qint64 written = m_writeStep ? m_writeStep(file, bytes) : file.write(bytes);
    if (written != bytes.size()) {
        *reason = written < 0 ? file.errorString()
                              : QStringLiteral("%1 of %2 bytes written").arg(written).arg(bytes.size());
        return false;
    }
    if (!file.flush()) {
        *reason = file.errorString();
        return false;
    }
    return true;
}

bool Recorder::createWithHeader(const QString &path, const SensorDevice &device, int index)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
        noteFailure(path, QStringLiteral("ErrorCreateFile"), file.errorString());
        return false;
    }
    QString reason;
    bool ok = writeAll(file, headerBytes(device, index), &reason);
    file.close();
    if (ok && file.error() != QFileDevice::NoError) {
        ok = false;
        reason = file.errorString();
    }
    if (!ok) {
        // A file with half a header must not be continued: the next attempt
        // creates it afresh.
        file.remove();
        noteFailure(path, QStringLiteral("ErrorWriteHeader"), reason);
        return false;
    }
    noteSuccess(path);
    return true;
}

int Recorder::writeHeader(SensorDevice &device, int index)
{
    const QString path = filePathFor(device, index);
    if (path.isEmpty())
        return -1;
    m_headedPath.insert(ChannelId::of(device, index), path);
    // A new row: the file its lines go to from now on is the one it shows.
    m_fileNames.insert(ChannelId::of(device, index), path);
    if (QFileInfo::exists(path)) {
        m_headerOwed.remove(path);
        return 1;
    }
    if (!createWithHeader(path, device, index)) {
        m_headerOwed.insert(path);
        return -1;
    }
    m_headerOwed.remove(path);
    return 1;
}

int Recorder::appendReading(SensorDevice &device, int index)
{
    const int result = writeReading(device, index);
    if (result == 2 || index < 0 || index >= device.channels.size())
        return result;
    const ChannelId channelKey = ChannelId::of(device, index);
    const uint64_t reading = device.channels.at(index).reading;
    const auto owed = m_owedReading.constFind(channelKey);
    if (owed != m_owedReading.constEnd() && owed.value() != reading)
        ++m_supersededUnwritten;
    if (result == 1)
        m_owedReading.remove(channelKey);
    else
        m_owedReading.insert(channelKey, reading);
    return result;
}

int Recorder::writeReading(SensorDevice &device, int index)
{
    const QString path = filePathFor(device, index);
    if (path.isEmpty())
        return -1;
    const SensorChannel &channel = device.channels.at(index);
    const ChannelId channelKey = ChannelId::of(device, index);
    if (!m_fileNames.contains(channelKey))
        m_fileNames.insert(channelKey, path);
    const auto last = m_lastWrittenReading.constFind(channelKey);
    if (last != m_lastWrittenReading.constEnd() && channel.reading <= last.value())
        return 2;

    qDebug() << Clock::now().toString(QStringLiteral("hh:mm:ss:zzz: ")) << "DEV= "
             << romToText(device.rom, false) << "; val=" << channel.value;

    // The channel's file has another name than when its row was created (a
    // new template): the new file begins with its own header too.
    const auto headed = m_headedPath.constFind(channelKey);
    if (headed != m_headedPath.constEnd() && headed.value() != path) {
        if (!QFileInfo::exists(path) && !createWithHeader(path, device, index))
            return -1;
        m_headedPath.insert(channelKey, path);
    }
    // A header that failed when the row was created is still owed.
    if (m_headerOwed.contains(path)) {
        if (!QFileInfo::exists(path) && !createWithHeader(path, device, index))
            return -1;
        m_headerOwed.remove(path);
    }

    const QByteArray line = dataLineBytes(device, index);

    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        noteFailure(path, QStringLiteral("ErrorOpenFile"), file.errorString());
        return -1;
    }
    const qint64 sizeBefore = file.size();
    QString reason;
    bool ok = writeAll(file, line, &reason);
    file.close();
    if (ok && file.error() != QFileDevice::NoError) {
        ok = false;
        reason = file.errorString();
    }
    if (!ok) {
        // Cut off whatever part of the line got in, so the retry leaves
        // exactly one whole line.
        if (QFileInfo(path).size() != sizeBefore && !QFile::resize(path, sizeBefore))
            qCDebug(logCritical()) << "ErrorTruncateFile " << path;
        noteFailure(path, QStringLiteral("ErrorWriteFile"), reason);
        return -1;
    }
    noteSuccess(path);
    m_lastWrittenReading.insert(channelKey, channel.reading);
    return 1;
}

QString Recorder::fileNameOf(const ChannelId &channel) const
{
    return m_fileNames.value(channel);
}

bool Recorder::isWritten(const SensorDevice &device, int index) const
{
    const auto last = m_lastWrittenReading.constFind(ChannelId::of(device, index));
    return last != m_lastWrittenReading.constEnd() && device.channels.at(index).reading <= last.value();
}

void Recorder::noteFailure(const QString &path, const QString &what, const QString &reason)
{
    qCDebug(logCritical()) << what << path << reason;
    m_failures.insert(path, Clock::tickMs());
}

void Recorder::noteSuccess(const QString &path)
{
    m_failures.remove(path);
}

QString Recorder::problemText() const
{
    // A file that nothing has tried to write for this long (its channel is
    // gone) no longer counts: every shown channel is written at least every
    // 300 s.
    const qint64 forgetMs = 600000;
    const qint64 now = Clock::tickMs();
    QString latestPath;
    qint64 latestMs = 0;
    int count = 0;
    for (auto it = m_failures.constBegin(); it != m_failures.constEnd(); ++it) {
        if (now - it.value() > forgetMs)
            continue;
        ++count;
        if (latestPath.isEmpty() || it.value() >= latestMs) {
            latestPath = it.key();
            latestMs = it.value();
        }
    }
    if (count == 0)
        return QString();
    QString text = QCoreApplication::translate("Recorder", "Ошибка записи файла ") + QFileInfo(latestPath).fileName();
    if (count > 1)
        text += QCoreApplication::translate("Recorder", " (файлов с ошибкой: ") + QString::number(count) + QLatin1Char(')');
    return text;
}
