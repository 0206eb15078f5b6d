#include "sim/simjson.h"

#include <QJsonArray>
#include <QJsonValue>
#include <cmath>

namespace {

bool fail(QString *error, const char *key, const QString &what)
{
    if (error)
        *error = QStringLiteral("%1: %2").arg(QLatin1String(key), what);
    return false;
}

} // namespace

bool SimJson::readInt(const QJsonObject &entry, const char *key, int min, int max, int *out, QString *error)
{
    const QJsonValue v = entry.value(QLatin1String(key));
    if (v.isUndefined())
        return true;
    if (!v.isDouble() || v.toDouble() != double(v.toInt()) || v.toInt() < min || v.toInt() > max)
        return fail(error, key, QStringLiteral("expected a whole number from %1 to %2").arg(min).arg(max));
    *out = v.toInt();
    return true;
}

bool SimJson::readBool(const QJsonObject &entry, const char *key, bool *out, QString *error)
{
    const QJsonValue v = entry.value(QLatin1String(key));
    if (v.isUndefined())
        return true;
    if (!v.isBool())
        return fail(error, key, QStringLiteral("expected true or false"));
    *out = v.toBool();
    return true;
}

bool SimJson::readNumber(const QJsonObject &entry, const char *key, double *out, QString *error)
{
    const QJsonValue v = entry.value(QLatin1String(key));
    if (v.isUndefined())
        return true;
    if (!v.isDouble() || !std::isfinite(v.toDouble()))
        return fail(error, key, QStringLiteral("expected a number"));
    *out = v.toDouble();
    return true;
}

bool SimJson::readHex(const QJsonObject &entry, const char *key, int size, QByteArray *out, QString *error)
{
    const QJsonValue v = entry.value(QLatin1String(key));
    if (v.isUndefined())
        return true;
    QString digits = v.toString();
    digits.remove(QLatin1Char(' '));
    const QByteArray bytes = QByteArray::fromHex(digits.toLatin1());
    if (!v.isString() || digits.size() != 2 * size
        || QString::fromLatin1(bytes.toHex()).compare(digits, Qt::CaseInsensitive) != 0)
        return fail(error, key, QStringLiteral("expected %1 bytes as hexadecimal digits").arg(size));
    *out = bytes;
    return true;
}

bool SimJson::readIntList(const QJsonObject &entry, const char *key, int min, int max, QList<int> *out,
                          QString *error)
{
    const QJsonValue v = entry.value(QLatin1String(key));
    if (v.isUndefined())
        return true;
    QList<int> values;
    bool ok = v.isArray();
    for (const QJsonValue &item : v.toArray()) {
        ok = ok && item.isDouble() && item.toDouble() == double(item.toInt()) && item.toInt() >= min
             && item.toInt() <= max;
        values << item.toInt();
    }
    if (!ok)
        return fail(error, key, QStringLiteral("expected a list of whole numbers from %1 to %2").arg(min).arg(max));
    *out = values;
    return true;
}

bool SimJson::checkKeys(const QJsonObject &entry, const QStringList &known, const QString &owner, QString *error)
{
    for (const QString &key : entry.keys()) {
        if (key != QLatin1String("comment") && !known.contains(key)) {
            if (error)
                *error = QStringLiteral("%1: unknown key for %2 (known: %3)")
                             .arg(keyInPath(key), owner, known.join(QStringLiteral(", ")));
            return false;
        }
    }
    return true;
}

QString SimJson::oneLine(const QString &text)
{
    QString line;
    line.reserve(text.size());
    for (const QChar c : text) {
        const ushort u = c.unicode();
        if (u == '\n')
            line += QLatin1String("\\n");
        else if (u == '\r')
            line += QLatin1String("\\r");
        else if (u == '\t')
            line += QLatin1String("\\t");
        else if (u < 0x20 || u == 0x7F || (u >= 0x80 && u < 0xA0) || u == 0x2028 || u == 0x2029)
            line += QStringLiteral("\\u%1").arg(u, 4, 16, QLatin1Char('0'));
        else
            line += c;
    }
    return line;
}

QString SimJson::quoted(const QString &text)
{
    QString cut = text;
    if (cut.size() > kQuotedChars) {
        int at = kQuotedChars;
        if (cut.at(at - 1).isHighSurrogate())
            --at;
        cut = cut.left(at) + QStringLiteral("...");
    }
    cut.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('"'), QLatin1String("\\\""));
    return QLatin1Char('"') + oneLine(cut) + QLatin1Char('"');
}

QString SimJson::keyInPath(const QString &key)
{
    bool plain = !key.isEmpty() && key.size() <= kQuotedChars;
    for (const QChar c : key)
        plain = plain && c.unicode() < 0x80 && (c.isLetterOrNumber() || c == QLatin1Char('_'));
    return plain ? key : quoted(key);
}
