#include "faces/owserverprotocol.h"

#include <QtEndian>
#include <cerrno>
#include <cmath>

namespace OwProtocol {

Header decodeHeader(const char *bytes)
{
    auto field = [bytes](int i) { return qFromBigEndian<qint32>(bytes + 4 * i); };
    Header h;
    h.version = field(0);
    h.payload = field(1);
    h.type = field(2);
    h.flags = quint32(field(3));
    h.size = field(4);
    h.offset = field(5);
    return h;
}

QByteArray encodeHeader(const Header &h)
{
    QByteArray bytes(kHeaderBytes, '\0');
    const qint32 fields[6] = {h.version, h.payload, h.type, qint32(h.flags), h.size, h.offset};
    for (int i = 0; i < 6; ++i)
        qToBigEndian<qint32>(fields[i], bytes.data() + 4 * i);
    return bytes;
}

int bytesAfter(const Header &request)
{
    // Version 0 from clients; another owserver sends 1 in the upper half
    // and the number of its tokens in the lower.
    const int kind = request.version >> 16;
    const int tokens = request.version & 0xFFFF;
    if (kind != 0 && kind != 1)
        return -1;
    if (kind == 0 && tokens != 0)
        return -1;
    if (tokens > 64 || request.payload < 0 || request.payload > kMaxPayload)
        return -1;
    return request.payload + 16 * tokens;
}

namespace {

QString hex(const uint8_t *bytes, int count)
{
    QString text;
    for (int i = 0; i < count; ++i)
        text += QStringLiteral("%1").arg(uint(bytes[i]), 2, 16, QLatin1Char('0')).toUpper();
    return text;
}

// A file's contents, or a directory's entries (names; directories end in '/').
struct Node
{
    enum Kind { Missing, File, Directory } kind = Missing;
    QByteArray value;   // a file
    int error = 0;      // a file whose reading failed: the error a read answers
    QStringList entries; // a directory
    QString path;       // as replies name it, without a trailing '/'
};

// In a 12-wide field as owserver prints floats, with the digits the table
// shows (owserver's own six significant digits would claim more, or fewer).
QByteArray floatText(double value, int decimals = 2)
{
    return shownValue(value, 0, decimals).rightJustified(12).toLatin1();
}

double inScale(double celsius, quint32 flags)
{
    switch ((flags >> kTemperatureShift) & 3) {
    case 1:
        return celsius * 1.8 + 32;
    case 2:
        return celsius + 273.15;
    case 3:
        return (celsius + 273.15) * 1.8;
    default:
        return celsius;
    }
}

QString scaleUnit(quint32 flags)
{
    static const char *const units[] = {"C", "F", "K", "R"};
    return QLatin1String(units[(flags >> kTemperatureShift) & 3]);
}

// Pressure in the client's pressure scale (flag bits 18..20, as owserver
// has them: mbar, atm, mmHg, inHg, psi, Pa), whichever unit the sensor's
// record carries, so every pressure sensor answers in the same one.
const int kPressureShift = 18;

bool isPressure(const QString &unit)
{
    return unit == QLatin1String("Pa") || unit == QLatin1String("kPa") || unit == QLatin1String("hPa")
        || unit == QLatin1String("mbar");
}

double pressureInScale(double value, const QString &unit, quint32 flags)
{
    double mbar = value;
    if (unit == QLatin1String("Pa"))
        mbar = value / 100.0;
    else if (unit == QLatin1String("kPa"))
        mbar = value * 10.0;
    // One mbar in each scale.
    static const double perMbar[] = {1.0, 1.0 / 1013.25, 0.750061683, 0.0295299831, 0.0145037738, 100.0};
    const quint32 scale = (flags >> kPressureShift) & 7;
    return mbar * (scale < 6 ? perMbar[scale] : 1.0);
}

QString pressureUnit(quint32 flags)
{
    static const char *const units[] = {"mbar", "atm", "mmHg", "inHg", "psi", "Pa"};
    const quint32 scale = (flags >> kPressureShift) & 7;
    return QLatin1String(scale < 6 ? units[scale] : units[0]);
}

// The unit file of a channel: the client's scales for temperature and
// pressure, "%" for every humidity, else the record's unit.
QString unitText(const QString &unit, quint32 flags)
{
    if (unit == QLatin1String("C"))
        return scaleUnit(flags);
    if (isPressure(unit))
        return pressureUnit(flags);
    if (unit.startsWith(QLatin1Char('%')))
        return QStringLiteral("%");
    return unit;
}

// A channel's value as a file: the number, or the error for a failed or
// stale reading. A count as owserver prints an unsigned number, a state as
// its yes-no files: "1" or "0".
void channelValue(Node &node, const FaceChannel *channel, quint32 flags)
{
    node.kind = Node::File;
    if (!channel || !channel->usable()) {
        node.error = -EIO;
        return;
    }
    if (channel->kind == ChannelKind::Counter)
        node.value = QByteArray::number(qint64(channel->value)).rightJustified(12);
    else if (channel->kind == ChannelKind::Binary)
        node.value = channel->value != 0 ? "1" : "0";
    else if (channel->unit == QLatin1String("C"))
        node.value = floatText(inScale(channel->value, flags));
    else if (isPressure(channel->unit))
        // The table's digits in the record's unit, then moved into the
        // client's scale, so no pressure claims more than the table shows.
        node.value = QByteArray::number(pressureInScale(shownValue(channel->value).toDouble(), channel->unit, flags),
                                        'g', 6)
                         .rightJustified(12);
    else
        node.value = floatText(channel->value, channel->decimals);
}

const FaceChannel *findChannel(const FaceDevice &device, int subchannel, int hubChannel = -2, int address = -1)
{
    for (const FaceChannel &channel : device.channels) {
        if (channel.subchannel == subchannel && (hubChannel == -2 || channel.hubChannel == hubChannel)
            && (address < 0 || channel.i2cAddress == address))
            return &channel;
    }
    return nullptr;
}

QString typeName(const FaceDevice &device)
{
    if (device.traits && device.traits->name)
        return QLatin1String(device.traits->name);
    if (device.family() == 0x19)
        return QStringLiteral("DS28E17");
    return QStringLiteral("%1").arg(uint(device.family()), 2, 16, QLatin1Char('0')).toUpper();
}

// The properties a device's channels give, each name with the subchannel
// it reads, as its driver's traits name them ("temperature" also as
// "latesttemp"): those of its channels, or every one before the first read.
QVector<QPair<QString, int>> propertiesOf(const FaceDevice &device)
{
    QVector<QPair<QString, int>> properties;
    if (!device.traits)
        return properties;
    for (int i = 0; i < device.traits->channelCount; ++i) {
        const char *names = device.traits->channels[i].property;
        if (!names || (!device.channels.isEmpty() && !findChannel(device, i)))
            continue;
        for (const QString &name : QString::fromLatin1(names).split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            properties.append({name, i});
            if (name == QLatin1String("temperature"))
                properties.append({QStringLiteral("latesttemp"), i});
        }
    }
    return properties;
}

// The name a bridge's sensor goes by in its "i2c" directory: the 7-bit
// address in hexadecimal, after "hub<N>." when it sits behind a hub channel.
QString sensorName(const FaceChannel &channel)
{
    const QString address = i2cAddressText(channel.i2cAddress);
    if (channel.hubChannel >= 0 && channel.hubChannel < 255)
        return QStringLiteral("hub%1.").arg(channel.hubChannel) + address;
    return address;
}

// The property a bridge's channel appears as, from its unit.
QString quantityName(const FaceChannel &channel)
{
    const QString &unit = channel.unit;
    if (unit == QLatin1String("C"))
        return QStringLiteral("temperature");
    if (unit.startsWith(QLatin1Char('%')))
        return QStringLiteral("humidity");
    if (isPressure(unit))
        return QStringLiteral("pressure");
    if (unit == QLatin1String("ppm"))
        return QStringLiteral("co2");
    return QStringLiteral("value") + QString::number(channel.subchannel);
}

// A thermocouple fault as the yes-no files of family 3B show it.
QByteArray faultFlag(const FaceChannel *hot, const char *code)
{
    if (!hot || hot->failure.isEmpty())
        return "0";
    if (!code) {
        static const QStringList faults{QStringLiteral("open_circuit"), QStringLiteral("short_to_ground"),
                                        QStringLiteral("short_to_vdd"), QStringLiteral("thermocouple_fault")};
        return faults.contains(hot->failure) ? "1" : "0";
    }
    return hot->failure == QLatin1String(code) ? "1" : "0";
}

void bridgeNode(Node &node, const FaceDevice &device, const QStringList &rest, quint32 flags)
{
    // rest: "i2c" [sensor [property]]
    QStringList sensors;
    for (const FaceChannel &channel : device.channels) {
        const QString name = sensorName(channel);
        if (!sensors.contains(name))
            sensors.append(name);
    }
    if (rest.size() == 1) {
        node.kind = Node::Directory;
        for (const QString &name : qAsConst(sensors))
            node.entries.append(name + QLatin1Char('/'));
        return;
    }
    if (!sensors.contains(rest.at(1)) || rest.size() > 3)
        return;
    QVector<const FaceChannel *> mine;
    for (const FaceChannel &channel : device.channels) {
        if (sensorName(channel) == rest.at(1))
            mine.append(&channel);
    }
    std::sort(mine.begin(), mine.end(),
              [](const FaceChannel *a, const FaceChannel *b) { return a->subchannel < b->subchannel; });
    // Two channels of one quantity keep their subchannel in the name.
    QStringList names;
    for (const FaceChannel *channel : qAsConst(mine)) {
        QString name = quantityName(*channel);
        if (names.contains(name))
            name += QString::number(channel->subchannel);
        names.append(name);
    }
    if (rest.size() == 2) {
        node.kind = Node::Directory;
        node.entries.append(QStringLiteral("type"));
        for (const QString &name : qAsConst(names))
            node.entries << name << name + QStringLiteral("_unit");
        std::sort(node.entries.begin(), node.entries.end());
        return;
    }
    const QString &property = rest.at(2);
    if (property == QLatin1String("type")) {
        node.kind = Node::File;
        node.value = mine.front()->type.toUtf8();
        return;
    }
    for (int i = 0; i < names.size(); ++i) {
        const FaceChannel *channel = mine.at(i);
        if (property == names.at(i)) {
            channelValue(node, channel, flags);
        } else if (property == names.at(i) + QStringLiteral("_unit")) {
            node.kind = Node::File;
            node.value = unitText(channel->unit, flags).toUtf8();
        }
    }
}

void deviceNode(Node &node, const FaceDevice &device, const QStringList &rest, quint32 flags)
{
    const uint8_t family = device.family();
    // The MAX31850's fault bits have yes-no files of their own.
    const bool thermocouple = device.traits && QLatin1String(device.traits->name) == QLatin1String("MAX31850");
    const QVector<QPair<QString, int>> properties = propertiesOf(device);
    if (rest.isEmpty()) {
        node.kind = Node::Directory;
        node.entries = QStringList{QStringLiteral("address"), QStringLiteral("crc8"), QStringLiteral("family"),
                                   QStringLiteral("id"),      QStringLiteral("r_address"), QStringLiteral("r_id"),
                                   QStringLiteral("type")};
        // A name with a slash ("HIH4000/humidity") is in a directory.
        for (const auto &property : properties) {
            const QString entry = property.first.contains(QLatin1Char('/'))
                                      ? property.first.section(QLatin1Char('/'), 0, 0) + QLatin1Char('/')
                                      : property.first;
            if (!node.entries.contains(entry))
                node.entries << entry;
        }
        if (thermocouple)
            node.entries << QStringLiteral("fault") << QStringLiteral("open_circuit") << QStringLiteral("ground_short")
                         << QStringLiteral("vdd_short");
        if (family == 0x19 && !device.channels.isEmpty())
            node.entries << QStringLiteral("i2c/");
        std::sort(node.entries.begin(), node.entries.end());
        return;
    }
    if (family == 0x19 && rest.first() == QLatin1String("i2c")) {
        bridgeNode(node, device, rest, flags);
        return;
    }
    const QString path = rest.join(QLatin1Char('/'));
    for (const auto &property : properties) {
        if (property.first == path) {
            channelValue(node, findChannel(device, property.second), flags);
            return;
        }
    }
    if (rest.size() == 1) {
        for (const auto &property : properties) {
            if (property.first.startsWith(path + QLatin1Char('/'))) {
                node.kind = Node::Directory;
                node.entries << property.first.mid(path.size() + 1);
            }
        }
        if (node.kind == Node::Directory)
            return;
    }
    if (rest.size() != 1)
        return;
    const QString &name = rest.first();
    uint8_t reversed[8];
    for (int i = 0; i < 8; ++i)
        reversed[i] = device.rom[7 - i];
    node.kind = Node::File;
    if (name == QLatin1String("address"))
        node.value = hex(device.rom, 8).toLatin1();
    else if (name == QLatin1String("r_address"))
        node.value = hex(reversed, 8).toLatin1();
    else if (name == QLatin1String("id"))
        node.value = hex(device.rom + 1, 6).toLatin1();
    else if (name == QLatin1String("r_id"))
        node.value = hex(reversed + 1, 6).toLatin1();
    else if (name == QLatin1String("crc8"))
        node.value = hex(device.rom + 7, 1).toLatin1();
    else if (name == QLatin1String("family"))
        node.value = hex(device.rom, 1).toLatin1();
    else if (name == QLatin1String("type"))
        node.value = typeName(device).toLatin1();
    else if (thermocouple && name == QLatin1String("fault"))
        node.value = faultFlag(findChannel(device, 0), nullptr);
    else if (thermocouple && name == QLatin1String("open_circuit"))
        node.value = faultFlag(findChannel(device, 0), "open_circuit");
    else if (thermocouple && name == QLatin1String("ground_short"))
        node.value = faultFlag(findChannel(device, 0), "short_to_ground");
    else if (thermocouple && name == QLatin1String("vdd_short"))
        node.value = faultFlag(findChannel(device, 0), "short_to_vdd");
    else
        node.kind = Node::Missing;
}

// The device a path element names, in any of the six formats (family, id
// and CRC in hexadecimal, dots optional); a CRC given must match.
const FaceDevice *findDevice(const FaceSnapshot &snapshot, const QString &name, int bus)
{
    QString digits = name;
    if (digits.size() > 2 && digits.at(2) == QLatin1Char('.'))
        digits.remove(2, 1);
    if (digits.size() > 14 && digits.at(14) == QLatin1Char('.'))
        digits.remove(14, 1);
    if (digits.size() != 14 && digits.size() != 16)
        return nullptr;
    bool ok = false;
    const QByteArray bytes = QByteArray::fromHex(digits.toLatin1());
    digits.toULongLong(&ok, 16);
    if (!ok)
        return nullptr;
    for (const FaceDevice &device : snapshot.devices) {
        if (bus >= 0 && device.bus != bus)
            continue;
        bool same = true;
        for (int i = 0; i < bytes.size() && same; ++i)
            same = uint8_t(bytes.at(i)) == device.rom[i];
        if (same)
            return &device;
    }
    return nullptr;
}

Node resolve(const FaceSnapshot &snapshot, const QString &path, quint32 flags)
{
    Node node;
    QStringList parts = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString prefix;
    int bus = -1;
    bool uncached = false;
    // "/uncached" and "/bus.N" may lead, in either order.
    while (!parts.isEmpty()) {
        const QString &first = parts.first();
        if (first == QLatin1String("uncached") && !uncached) {
            uncached = true;
        } else if (first.startsWith(QLatin1String("bus.")) && bus < 0) {
            bool ok = false;
            const int number = first.mid(4).toInt(&ok);
            if (!ok || number < 0 || number >= snapshot.busUp.size() || first.mid(4) != QString::number(number))
                return node;
            bus = number;
        } else {
            break;
        }
        prefix += QLatin1Char('/') + first;
        parts.removeFirst();
    }
    if (parts.isEmpty()) {
        node.kind = Node::Directory;
        node.path = prefix;
        for (const FaceDevice &device : snapshot.devices) {
            if (bus < 0 || device.bus == bus)
                node.entries.append(deviceName(device, flags) + QLatin1Char('/'));
        }
        if (bus < 0 && !uncached && (flags & kBusList)) {
            for (int i = 0; i < snapshot.busUp.size(); ++i)
                node.entries.append(QStringLiteral("bus.%1/").arg(i));
            node.entries.append(QStringLiteral("uncached/"));
        }
        return node;
    }
    const FaceDevice *device = findDevice(snapshot, parts.first(), bus);
    if (!device)
        return node;
    parts.removeFirst();
    deviceNode(node, *device, parts, flags);
    node.path = prefix + QLatin1Char('/') + deviceName(*device, flags);
    for (const QString &part : qAsConst(parts))
        node.path += QLatin1Char('/') + part;
    return node;
}

QByteArray reply(const Header &request, qint32 ret, const QByteArray &data, bool persistent, bool terminated = false)
{
    Header h;
    h.payload = data.size() + (terminated ? 1 : 0);
    h.type = ret;
    h.flags = persistent ? request.flags | kPersistent : request.flags & ~kPersistent;
    h.size = data.size();
    return encodeHeader(h) + data + (terminated ? QByteArray(1, '\0') : QByteArray());
}

} // namespace

QString deviceName(const FaceDevice &device, quint32 flags)
{
    const QString family = hex(device.rom, 1);
    const QString id = hex(device.rom + 1, 6);
    const QString crc = hex(device.rom + 7, 1);
    switch ((flags >> kDeviceFormatShift) & 0xFF) {
    case 1:
        return family + id;
    case 2:
        return family + QLatin1Char('.') + id + QLatin1Char('.') + crc;
    case 3:
        return family + QLatin1Char('.') + id + crc;
    case 4:
        return family + id + QLatin1Char('.') + crc;
    case 5:
        return family + id + crc;
    default:
        return family + QLatin1Char('.') + id;
    }
}

QByteArray answer(const FaceSnapshot &snapshot, const Header &request, const QByteArray &payload, bool persistent)
{
    const auto error = [&](int code) { return reply(request, -code, QByteArray(), persistent); };
    if (request.type == Nop)
        return reply(request, 0, QByteArray(), persistent);
    const int end = payload.indexOf('\0');
    if (end < 0)
        return error(EINVAL);
    const QString path = QString::fromUtf8(payload.left(end));
    if (path.isEmpty() || path.at(0) != QLatin1Char('/'))
        return error(ENOENT);
    const Node node = resolve(snapshot, path, request.flags);
    if (request.type == Write)
        return error(node.kind == Node::Missing ? ENOENT : ENOTSUP);
    if (request.type == Present)
        return node.kind == Node::Missing ? error(ENOENT) : reply(request, 0, QByteArray(), persistent);
    if (node.kind == Node::Missing)
        return error(ENOENT);

    int type = request.type;
    if (type == Get || type == GetSlash) {
        if (node.kind == Node::Directory)
            type = type == Get ? DirAll : DirAllSlash;
        else
            type = Read;
    }
    switch (type) {
    case Read:
    case Size: {
        if (node.kind == Node::Directory)
            return error(EISDIR);
        if (node.error)
            return error(-node.error);
        if (type == Size)
            return reply(request, node.value.size(), QByteArray(), persistent);
        if (request.offset < 0)
            return error(EINVAL);
        QByteArray data = node.value.mid(request.offset);
        if (request.size > 0)
            data.truncate(request.size);
        return reply(request, data.size(), data, persistent);
    }
    case Dir:
    case DirAll:
    case DirAllSlash: {
        if (node.kind != Node::Directory)
            return error(ENOTDIR);
        QStringList full;
        for (const QString &entry : node.entries) {
            QString name = node.path + QLatin1Char('/') + entry;
            if (type != DirAllSlash && name.endsWith(QLatin1Char('/')))
                name.chop(1);
            full.append(name);
        }
        if (type != Dir)
            return reply(request, 0, full.join(QLatin1Char(',')).toUtf8(), persistent, true);
        // One message per entry, then an empty one.
        QByteArray out;
        for (const QString &name : qAsConst(full))
            out += reply(request, 0, name.toUtf8(), persistent, true);
        return out + reply(request, 0, QByteArray(), persistent);
    }
    default:
        return error(EINVAL);
    }
}

} // namespace OwProtocol
