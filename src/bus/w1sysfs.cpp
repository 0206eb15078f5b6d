#include "bus/w1sysfs.h"

#include "bus/crc.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <algorithm>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QRegularExpression kDeviceName(QStringLiteral("^([0-9a-f]{2})-([0-9a-f]{12})$"));
const QString kMasterPrefix = QStringLiteral("w1_bus_master");

int masterNumber(const QString &name)
{
    return name.mid(kMasterPrefix.size()).toInt();
}

} // namespace

namespace W1Sysfs {

QString devicesDir()
{
    return QStringLiteral("/sys/bus/w1/devices");
}

QString masterDir(const QString &master)
{
    return devicesDir() + QLatin1Char('/') + master;
}

QStringList masters()
{
    QStringList found;
    const QStringList entries = QDir(devicesDir()).entryList({kMasterPrefix + QLatin1Char('*')},
                                                             QDir::Dirs | QDir::NoDotAndDotDot | QDir::System);
    for (const QString &entry : entries) {
        bool number = false;
        entry.mid(kMasterPrefix.size()).toInt(&number);
        if (number)
            found << entry;
    }
    std::sort(found.begin(), found.end(),
              [](const QString &a, const QString &b) { return masterNumber(a) < masterNumber(b); });
    return found;
}

bool deviceNames(const QString &master, QStringList *names)
{
    names->clear();
    QDir dir(masterDir(master));
    if (master.isEmpty() || !dir.exists())
        return false;
    for (const QString &entry : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System)) {
        if (kDeviceName.match(entry).hasMatch())
            *names << entry;
    }
    return true;
}

bool romFromName(const QString &name, uint8_t rom[8])
{
    const QRegularExpressionMatch m = kDeviceName.match(name);
    if (!m.hasMatch())
        return false;
    rom[0] = uint8_t(m.captured(1).toUInt(nullptr, 16));
    const qulonglong serial = m.captured(2).toULongLong(nullptr, 16);
    for (int i = 0; i < 6; ++i)
        rom[1 + i] = uint8_t(serial >> (8 * i));
    rom[7] = Crc::dallas8(rom, 7);
    return true;
}

QString nameFromRom(const uint8_t rom[8])
{
    qulonglong serial = 0;
    for (int i = 5; i >= 0; --i)
        serial = (serial << 8) | rom[1 + i];
    return QStringLiteral("%1-%2").arg(rom[0], 2, 16, QLatin1Char('0')).arg(serial, 12, 16, QLatin1Char('0'));
}

bool thermFamily(uint8_t family)
{
    return family == 0x10 || family == 0x22 || family == 0x28 || family == 0x3B || family == 0x42;
}

bool scratchpadFromText(const QByteArray &text, QByteArray *scratchpad, QString *why)
{
    scratchpad->clear();
    auto refuse = [why](const char *reason) {
        if (why)
            *why = QString::fromLatin1(reason);
        return false;
    };
    if (text.isEmpty())
        return refuse("empty");
    const QByteArray line = text.left(text.indexOf('\n'));
    // The bytes, then ": crc=XX YES": a line cut short has no verdict after them.
    static const QRegularExpression verdict(QStringLiteral("^: crc=([0-9a-f]{2}) (YES|NO)$"));
    const int colon = line.indexOf(':');
    const QRegularExpressionMatch match =
        colon < 0 ? QRegularExpressionMatch() : verdict.match(QString::fromLatin1(line.mid(colon).trimmed()));
    if (!match.hasMatch())
        return refuse("no verdict after the bytes");
    const QList<QByteArray> words = line.left(colon).simplified().split(' ');
    if (words.size() != 9)
        return refuse("not nine bytes");
    QByteArray bytes;
    for (const QByteArray &word : words) {
        bool ok = false;
        const uint value = word.toUInt(&ok, 16);
        if (!ok || word.size() != 2 || value > 0xFF)
            return refuse("not nine bytes");
        bytes.append(char(value));
    }
    if (match.captured(2) != QLatin1String("YES"))
        return refuse("the kernel's CRC check failed (crc=NO)");
    if (match.captured(1).toUInt(nullptr, 16) != uint8_t(bytes.at(8)))
        return refuse("the kernel's crc= is not the ninth byte");
    *scratchpad = bytes;
    return true;
}

bool writable(const QString &path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    if (st.st_mode & S_IWOTH)
        return true;
    if (st.st_uid == ::geteuid())
        return (st.st_mode & S_IWUSR) != 0;
    if (st.st_gid == ::getegid())
        return (st.st_mode & S_IWGRP) != 0;
    return false;
}

} // namespace W1Sysfs
