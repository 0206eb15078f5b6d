#include "faces/facesnapshot.h"

#include "model/sensordevice.h"
#include "model/sensortraits.h"
#include "onewire/romid.h"
#include "sensors/sensor.h"

#include <QHostAddress>
#include <arpa/inet.h>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

// Which drivers give a failure: what a channel of a family may fail with.
enum Drivers : unsigned {
    Thermometers = 1,  // DS18S20, DS18B20, DS1822, DS28EA00, DS1825
    Thermocouples = 2, // MAX31850
    Checked = 4,       // DS2438, DS2450, DS2423, DS2413, DS2408: pages and registers checked
    Converters = 8,    // DS2450: a conversion on parasite power
    Counters = 16,     // DS2423
    Every = ~0u,
};

// The drivers' texts, longest first where one starts another.
const struct
{
    const char *prefix;
    const char *code;
    unsigned drivers;
} kFailureCodes[] = {
    {"нет ответа", "no_answer", Every},
    {"ошибка CRC", "crc", Thermometers | Thermocouples | Checked},
    {"нет преобразования", "power_on_value", Thermometers},
    {"обрыв термопары", "open_circuit", Thermocouples},
    {"замыкание термопары на землю", "short_to_ground", Thermocouples},
    {"замыкание термопары на питание", "short_to_vdd", Thermocouples},
    {"неисправность термопары", "thermocouple_fault", Thermocouples},
    {"напряжение термопары вне таблицы", "out_of_table", Thermocouples},
    {"счётчик пошёл назад", "counter_back", Counters},
    {"нет сильной подтяжки", "no_pullup", Converters},
};

unsigned driversOf(uint8_t family)
{
    if (Sensor::isThermometerFamily(family))
        return Thermometers;
    switch (family) {
    case 0x3B: // a MAX31850 or a DS1825, told apart only by a read
        return Thermocouples | Thermometers;
    case 0x20:
        return Checked | Converters;
    case 0x1D:
        return Checked | Counters;
    case 0x26:
    case 0x3A:
    case 0x29:
        return Checked;
    default:
        return 0;
    }
}

} // namespace

QString failureCode(const QString &text)
{
    if (text.isEmpty())
        return QString();
    for (const auto &code : kFailureCodes) {
        if (text.startsWith(QString::fromUtf8(code.prefix)))
            return QLatin1String(code.code);
    }
    return QStringLiteral("other");
}

QStringList failureCodes(uint8_t family)
{
    const unsigned drivers = driversOf(family);
    QStringList codes;
    for (const auto &code : kFailureCodes) {
        if (code.drivers == Every || (code.drivers & drivers) != 0)
            codes.append(QLatin1String(code.code));
    }
    codes.append(QStringLiteral("other"));
    return codes;
}

QString shownValue(double value, int powerOfTen, int decimals)
{
    // Rounded as the table rounds it first, so the digits are the table's.
    double shown = QString::number(value, 'f', decimals).toDouble();
    for (int i = 0; i < powerOfTen; ++i)
        shown *= 10;
    return QString::number(shown, 'f', qMax(0, decimals - powerOfTen));
}

QString i2cAddressText(int addressByte)
{
    if (addressByte == 0)
        return QString();
    return QStringLiteral("%1").arg(uint(addressByte) >> 1, 2, 16, QLatin1Char('0')).toUpper();
}

void FaceSnapshotBuilder::takeReading(const SensorDevice &device, int index)
{
    const SensorChannel &record = device.channels.at(index);
    Latest &latest = m_latest[ChannelId::of(device, index)];
    FaceChannel &channel = latest.channel;
    channel.subchannel = record.subchannel;
    channel.hubChannel = record.hubChannel;
    channel.i2cAddress = record.i2cAddress;
    channel.unit = record.unit;
    channel.type = record.type;
    if (const ChannelTraits *traits = record.described()) {
        channel.chip = QLatin1String(record.traits->name);
        channel.kind = traits->kind;
        channel.quantity = traits->quantity;
        channel.property = QLatin1String(traits->property);
        channel.decimals = traits->decimals;
    } else if (channel.chip.isEmpty()) {
        const SensorTraits *traits = Sensor::traitsOf(device.family, record.i2cAddress);
        channel.chip = traits ? QLatin1String(traits->name) : QString();
    }
    channel.value = record.value;
    channel.time = record.time;
    channel.failure = failureCode(record.failure);
    if (channel.failure.isEmpty() && record.value != record.value)
        channel.failure = QStringLiteral("other");
    if (!channel.failure.isEmpty())
        ++channel.failures[channel.failure];
    latest.cycle = m_cycle;
}

std::shared_ptr<const FaceSnapshot> FaceSnapshotBuilder::endCycle(const CycleSummary &summary)
{
    auto snapshot = std::make_shared<FaceSnapshot>();
    snapshot->busUp = summary.busUp;
    snapshot->cycleMs = summary.durationMs;
    snapshot->cycles = m_cycle;
    for (int bus = 0; bus < summary.devices.size(); ++bus) {
        const bool up = bus < summary.busUp.size() && summary.busUp.at(bus);
        for (const SensorDevice *device : summary.devices.at(bus)) {
            if (!device->isPresent())
                continue;
            FaceDevice face;
            const uint64_t key = romKey(device->rom, true);
            for (int i = 0; i < 8; ++i)
                face.rom[i] = uint8_t(key >> (56 - 8 * i));
            face.bus = bus;
            face.romText = romToText(device->rom, false);
            // The chip a read told apart from the family's other, else the family's.
            face.traits = device->chip;
            if (!face.traits && !device->channels.isEmpty())
                face.traits = device->channels.first().traits;
            if (!face.traits)
                face.traits = Sensor::traitsOf(device->family, 0);
            for (int index = 0; index < device->channels.size(); ++index) {
                auto latest = m_latest.find(ChannelId::of(*device, index));
                if (latest == m_latest.end())
                    continue; // never handed out: masked, or not read since the face started
                // A device that did not answer keeps its last record; a
                // client must not take that for a reading of this cycle.
                if (up && device->channels.at(index).missed && latest->cycle != m_cycle)
                    ++latest->channel.failures[QStringLiteral("no_answer")];
                FaceChannel channel = latest->channel;
                channel.fresh = up && latest->cycle == m_cycle;
                face.channels.append(channel);
            }
            snapshot->channelCount += face.channels.size();
            snapshot->devices.append(face);
        }
    }
    ++m_cycle;
    return snapshot;
}

bool ListenAddress::parse(const QString &text, ListenAddress *address, QString *error)
{
    const QString trimmed = text.trimmed();
    const int colon = trimmed.lastIndexOf(QLatin1Char(':'));
    QString host = colon < 0 ? QStringLiteral("127.0.0.1") : trimmed.left(colon);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
        host = host.mid(1, host.size() - 2);
    bool ok = false;
    const uint port = trimmed.mid(colon + 1).toUInt(&ok);
    if (!ok || port == 0 || port > 65535) {
        *error = QStringLiteral("\"%1\" is not [ADDRESS:]PORT with a port from 1 to 65535").arg(text);
        return false;
    }
    if (host != QLatin1String("localhost") && QHostAddress(host).isNull()) {
        *error = QStringLiteral("\"%1\" is not an IP address to listen on").arg(host);
        return false;
    }
    address->host = host == QLatin1String("localhost") ? QStringLiteral("127.0.0.1") : host;
    address->port = quint16(port);
    return true;
}

bool ListenAddress::takeOption(QStringList &args, const QString &option, ListenAddress *address, bool *given,
                               QString *error)
{
    const QString withValue = option + QLatin1Char('=');
    for (int i = 0; i < args.size(); ++i) {
        QString value;
        if (args.at(i) == option) {
            if (i + 1 >= args.size()) {
                *error = option + QStringLiteral(" needs [ADDRESS:]PORT");
                return false;
            }
            value = args.takeAt(i + 1);
        } else if (args.at(i).startsWith(withValue)) {
            value = args.at(i).mid(withValue.size());
        } else {
            continue;
        }
        args.removeAt(i--);
        if (!parse(value, address, error)) {
            *error = option + QStringLiteral(": ") + *error;
            return false;
        }
        *given = true;
    }
    return true;
}

bool ListenAddress::toSocketAddress(sockaddr_storage *address) const
{
    *address = sockaddr_storage{};
    const QHostAddress parsed(host);
    if (parsed.protocol() == QAbstractSocket::IPv6Protocol) {
        auto *v6 = reinterpret_cast<sockaddr_in6 *>(address);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(port);
        const Q_IPV6ADDR bytes = parsed.toIPv6Address();
        std::memcpy(&v6->sin6_addr, &bytes, sizeof bytes);
        return true;
    }
    auto *v4 = reinterpret_cast<sockaddr_in *>(address);
    v4->sin_family = AF_INET;
    v4->sin_port = htons(port);
    v4->sin_addr.s_addr = htonl(parsed.toIPv4Address());
    return false;
}

QString ListenAddress::text() const
{
    const QString shown = host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    return shown + QLatin1Char(':') + QString::number(port);
}
