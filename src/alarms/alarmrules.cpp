#include "alarms/alarmrules.h"

#include <QCoreApplication>
#include <QFile>
#include <QLocale>
#include <QRegularExpression>
#include <QSettings>
#include <QTextStream>

namespace AlarmRules {

namespace {

const QString kGroup = QStringLiteral("Alarms");

QString tr(const char *text)
{
    return QCoreApplication::translate("AlarmRules", text);
}

// A number with a decimal point or comma, never the locale's.
bool parseNumber(QString text, double *out)
{
    text.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double value = QLocale::c().toDouble(text, &ok);
    if (!ok || !std::isfinite(value))
        return false;
    *out = value;
    return true;
}

QString numberText(double value)
{
    return QLocale::c().toString(value, 'g', 12);
}

bool parseCount(const QString &text, int min, int *out)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < min || value > 1000000)
        return false;
    *out = value;
    return true;
}

} // namespace

QString channelText(const ChannelId &id)
{
    QString text = id.text().section(QLatin1Char('/'), 0, 0);
    if (id.subchannel != 0)
        text += QLatin1Char('/') + QString::number(id.subchannel);
    if (id.hubChannel >= 0 || id.i2cAddress != 0)
        text += QLatin1Char('/') + QString::number(id.hubChannel) + QLatin1Char('/') + QString::number(id.i2cAddress);
    return text;
}

bool parseChannel(const QString &text, ChannelId *id, QString *error)
{
    const QStringList parts = text.trimmed().split(QLatin1Char('/'));
    static const QRegularExpression romPattern(QStringLiteral("^[0-9A-Fa-f]{16}$"));
    if (parts.size() > 4 || !romPattern.match(parts.first()).hasMatch()) {
        *error = tr("канал «%1»: ожидается ROM из 16 шестнадцатеричных цифр, затем /КАНАЛ и /ХАБ/АДРЕС").arg(text);
        return false;
    }
    // The text gives the ROM CRC first; the key holds it in bus order.
    ChannelId made;
    const QString rom = parts.first();
    for (int i = 0; i < 8; ++i)
        made.deviceKey |= uint64_t(rom.mid(2 * i, 2).toUInt(nullptr, 16)) << (8 * i);
    bool ok = true;
    auto number = [&ok](const QString &part) {
        bool good = false;
        const int value = part.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) ? part.mid(2).toInt(&good, 16)
                                                                                     : part.toInt(&good);
        ok = ok && good;
        return value;
    };
    if (parts.size() == 2 || parts.size() == 4)
        made.subchannel = number(parts.at(1));
    if (parts.size() >= 3) {
        made.hubChannel = number(parts.at(parts.size() - 2));
        made.i2cAddress = number(parts.last());
    }
    if (!ok || made.subchannel < 0 || made.subchannel > 255 || made.hubChannel < -1 || made.i2cAddress < 0
        || made.i2cAddress > 255) {
        *error = tr("канал «%1»: неверный номер канала, хаба или адреса").arg(text);
        return false;
    }
    *id = made;
    return true;
}

QString limitsText(const AlarmLimits &limits)
{
    QString text = (limits.hasLow() ? numberText(limits.low) : QString()) + QLatin1Char(':')
        + (limits.hasHigh() ? numberText(limits.high) : QString());
    if (limits.hysteresis != 0)
        text += QStringLiteral(" hysteresis=") + numberText(limits.hysteresis);
    if (limits.delay != 1)
        text += QStringLiteral(" delay=") + QString::number(limits.delay);
    if (limits.noDataCycles != 0)
        text += QStringLiteral(" nodata=") + QString::number(limits.noDataCycles);
    return text;
}

bool parseLimits(const QString &text, AlarmLimits *limits, QString *error)
{
    const QStringList words = text.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    AlarmLimits made;
    if (words.isEmpty() || words.first().count(QLatin1Char(':')) != 1) {
        *error = tr("пороги «%1»: ожидается НИЖНИЙ:ВЕРХНИЙ").arg(text);
        return false;
    }
    const QString low = words.first().section(QLatin1Char(':'), 0, 0);
    const QString high = words.first().section(QLatin1Char(':'), 1, 1);
    if ((!low.isEmpty() && !parseNumber(low, &made.low)) || (!high.isEmpty() && !parseNumber(high, &made.high))) {
        *error = tr("пороги «%1»: неверное число").arg(text);
        return false;
    }
    if (made.hasLow() && made.hasHigh() && made.low > made.high) {
        *error = tr("пороги «%1»: нижний порог выше верхнего").arg(text);
        return false;
    }
    for (int i = 1; i < words.size(); ++i) {
        const QString key = words.at(i).section(QLatin1Char('='), 0, 0);
        const QString value = words.at(i).section(QLatin1Char('='), 1);
        bool ok = words.at(i).contains(QLatin1Char('='));
        if (key == QLatin1String("hysteresis"))
            ok = ok && parseNumber(value, &made.hysteresis) && made.hysteresis >= 0;
        else if (key == QLatin1String("delay"))
            ok = ok && parseCount(value, 1, &made.delay);
        else if (key == QLatin1String("nodata"))
            ok = ok && parseCount(value, 0, &made.noDataCycles);
        else
            ok = false;
        if (!ok) {
            *error = tr("пороги «%1»: неверный ключ «%2» (hysteresis=, delay=, nodata=)").arg(text, words.at(i));
            return false;
        }
    }
    *limits = made;
    return true;
}

bool parseLine(const QString &line, ChannelId *id, AlarmLimits *limits, QString *error)
{
    const int equals = line.indexOf(QLatin1Char('='));
    if (equals < 0) {
        *error = tr("«%1»: ожидается КАНАЛ=НИЖНИЙ:ВЕРХНИЙ").arg(line);
        return false;
    }
    return parseChannel(line.left(equals), id, error) && parseLimits(line.mid(equals + 1), limits, error);
}

bool readFile(const QString &path, LimitsMap *map, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = path + QStringLiteral(": ") + file.errorString();
        return false;
    }
    QTextStream in(&file);
    in.setCodec("UTF-8");
    int number = 0;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        ++number;
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        ChannelId id;
        AlarmLimits limits;
        QString problem;
        if (!parseLine(line, &id, &limits, &problem)) {
            *error = QStringLiteral("%1:%2: %3").arg(path).arg(number).arg(problem);
            return false;
        }
        map->insert(id, limits);
    }
    return true;
}

LimitsMap fromSettings(QSettings &settings, QStringList *problems)
{
    LimitsMap map;
    settings.beginGroup(kGroup);
    const QStringList keys = settings.allKeys();
    for (const QString &key : keys) {
        ChannelId id;
        AlarmLimits limits;
        QString problem;
        if (parseChannel(key, &id, &problem) && parseLimits(settings.value(key).toString(), &limits, &problem))
            map.insert(id, limits);
        else if (problems)
            *problems << kGroup + QLatin1Char('/') + key + QStringLiteral(": ") + problem;
    }
    settings.endGroup();
    return map;
}

void store(QSettings &settings, const ChannelId &id, const AlarmLimits &limits)
{
    const QString key = kGroup + QLatin1Char('/') + channelText(id);
    if (limits.isSet()) {
        settings.setValue(key, limitsText(limits));
        return;
    }
    // Removing a key removes every key below it too, and a device's other
    // subchannels live there ("ROM" and "ROM/1"): they are put back.
    settings.beginGroup(key);
    QHash<QString, QVariant> below;
    for (const QString &child : settings.allKeys())
        below.insert(child, settings.value(child));
    settings.endGroup();
    settings.remove(key);
    for (auto it = below.constBegin(); it != below.constEnd(); ++it)
        settings.setValue(key + QLatin1Char('/') + it.key(), it.value());
}

QString stateKey(AlarmState state)
{
    return alarmStateKey(state);
}

} // namespace AlarmRules
