#include "sim/simbusloader.h"

#include "bus/crc.h"
#include "bus/simbackend.h"
#include "bus/simdevice.h"
#include "sim/simdevicefactory.h"
#include "sim/simjson.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>

static void initDemoResource()
{
    Q_INIT_RESOURCE(sim);
}

namespace {

// A 1-Wire bus carries a few hundred devices at most (the line's weight
// limit); the simulated one takes up to this many, whose search still takes
// well under a second. Larger files are refused before anything is built.
const int kMaxDevices = 1000;

QString lineColumn(const QByteArray &text, int offset)
{
    int line = 1, column = 1;
    for (int i = 0; i < offset && i < text.size(); ++i) {
        if (text.at(i) == '\n') {
            ++line;
            column = 1;
        } else if ((uchar(text.at(i)) & 0xC0) != 0x80) {
            ++column;
        }
    }
    return QStringLiteral("%1:%2").arg(line).arg(column);
}

// Parses 14 or 16 hexadecimal digits (blanks ignored) into 8 ROM bytes;
// with 14 digits the CRC is appended.
bool parseRom(const QString &text, QByteArray *rom, QString *why)
{
    QString digits = text;
    digits.remove(QLatin1Char(' '));
    if (digits.size() != 14 && digits.size() != 16) {
        *why = QStringLiteral("expected 14 hexadecimal digits (CRC added) or 16, not %1").arg(SimJson::quoted(text));
        return false;
    }
    const QByteArray bytes = QByteArray::fromHex(digits.toLatin1());
    if (bytes.size() * 2 != digits.size() || QString::fromLatin1(bytes.toHex()).compare(digits, Qt::CaseInsensitive) != 0) {
        *why = QStringLiteral("expected hexadecimal digits, not %1").arg(SimJson::quoted(text));
        return false;
    }
    *rom = bytes;
    if (rom->size() == 7)
        rom->append(char(Crc::dallas8(*rom)));
    return true;
}

QString knownTypes()
{
    return QStringLiteral("(known: %1)").arg(SimDeviceFactory::types().join(QStringLiteral(", ")));
}

} // namespace

QByteArray SimBusLoader::defaultRom(int family, int index)
{
    QByteArray rom(1, char(family));
    quint64 x = quint64(index + 1) * 0x9E3779B97F4A7C15ULL;
    for (int i = 0; i < 6; ++i)
        rom.append(char((x >> (8 * (i + 1))) & 0xFF));
    rom.append(char(Crc::dallas8(rom)));
    return rom;
}

std::unique_ptr<SimBackend> SimBusLoader::load(const QByteArray &json, const QString &sourceName, QString *error)
{
    // Every error is one line: "<source>:<where>: <what was expected>".
    auto fail = [&](const QString &position, const QString &what) {
        if (error)
            *error = SimJson::oneLine(QStringLiteral("%1:%2: %3").arg(sourceName, position, what));
        return std::unique_ptr<SimBackend>();
    };
    // A reader's "key: what" about the entry at `path` (the root when empty).
    auto failIn = [&](const QString &path, const QString &why) {
        if (error)
            *error = SimJson::oneLine(sourceName + QLatin1Char(':') + (path.isEmpty() ? why : path + QLatin1Char('.') + why));
        return std::unique_ptr<SimBackend>();
    };

    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return fail(lineColumn(json, parseError.offset), parseError.errorString());
    if (!doc.isObject())
        return fail(QStringLiteral("1:1"), QStringLiteral("the description must be a JSON object"));
    const QJsonObject root = doc.object();
    QString why;
    if (!SimJson::checkKeys(root, {QStringLiteral("adapter"), QStringLiteral("devices")}, QStringLiteral("a bus file"), &why))
        return failIn(QString(), why);

    auto backend = std::make_unique<SimBackend>();
    SimBus &bus = backend->bus();

    const QJsonValue adapterValue = root.value(QStringLiteral("adapter"));
    if (!adapterValue.isUndefined() && !adapterValue.isObject())
        return fail(QStringLiteral("adapter"), QStringLiteral("expected an object"));
    const QJsonObject adapter = adapterValue.toObject();
    bool plugged = true, hasPort = true, setupFails = false, overdrive = true;
    int port = 0, portType = 6, setupResult = 1;
    if (!SimJson::checkKeys(adapter,
                            {QStringLiteral("plugged"), QStringLiteral("defaultPort"), QStringLiteral("setupFails"),
                             QStringLiteral("overdrive"), QStringLiteral("port"), QStringLiteral("portType"),
                             QStringLiteral("setupResult")},
                            QStringLiteral("the adapter"), &why)
        || !SimJson::readBool(adapter, "plugged", &plugged, &why) || !SimJson::readBool(adapter, "defaultPort", &hasPort, &why)
        || !SimJson::readBool(adapter, "setupFails", &setupFails, &why) || !SimJson::readBool(adapter, "overdrive", &overdrive, &why)
        || !SimJson::readInt(adapter, "port", 0, 15, &port, &why) || !SimJson::readInt(adapter, "portType", 0, 255, &portType, &why)
        || !SimJson::readInt(adapter, "setupResult", 1, 2, &setupResult, &why))
        return failIn(QStringLiteral("adapter"), why);
    bus.setConnected(plugged);
    bus.setDefaultPort(hasPort, short(port), short(portType));
    bus.setSetupFails(setupFails);
    bus.setOverdriveCapable(overdrive);
    backend->setSetupResultAfterStart(short(setupResult));

    const QJsonValue devicesValue = root.value(QStringLiteral("devices"));
    if (!devicesValue.isUndefined() && !devicesValue.isArray())
        return fail(QStringLiteral("devices"), QStringLiteral("expected an array"));
    const QJsonArray devices = devicesValue.toArray();
    if (devices.size() > kMaxDevices)
        return fail(QStringLiteral("devices"), QStringLiteral("%1 devices, more than the %2 a simulated 1-Wire bus carries")
                                                   .arg(devices.size())
                                                   .arg(kMaxDevices));
    QSet<QByteArray> roms;
    for (int i = 0; i < devices.size(); ++i) {
        const QString path = QStringLiteral("devices[%1]").arg(i);
        if (!devices.at(i).isObject())
            return fail(path, QStringLiteral("expected an object"));
        const QJsonObject entry = devices.at(i).toObject();
        const QJsonValue typeValue = entry.value(QStringLiteral("type"));
        if (typeValue.isUndefined())
            return fail(path + QStringLiteral(".type"), QStringLiteral("missing device type ") + knownTypes());
        if (!typeValue.isString())
            return fail(path + QStringLiteral(".type"), QStringLiteral("expected a device type name ") + knownTypes());
        const QString type = typeValue.toString();
        const int family = SimDeviceFactory::defaultFamily(type);
        if (family == 0)
            return fail(path + QStringLiteral(".type"),
                        QStringLiteral("unknown device type %1 %2").arg(SimJson::quoted(type), knownTypes()));
        QByteArray rom;
        const QJsonValue romValue = entry.value(QStringLiteral("rom"));
        if (romValue.isUndefined()) {
            rom = defaultRom(family, i);
        } else if (!romValue.isString()) {
            return fail(path + QStringLiteral(".rom"), QStringLiteral("expected a text of hexadecimal digits"));
        } else if (!parseRom(romValue.toString(), &rom, &why)) {
            return fail(path + QStringLiteral(".rom"), why);
        }
        if (roms.contains(rom))
            return fail(path + QStringLiteral(".rom"), QStringLiteral("the same ROM is already on the bus"));
        roms.insert(rom);

        const QStringList common = {QStringLiteral("type"), QStringLiteral("rom"), QStringLiteral("missSearches"),
                                    QStringLiteral("reportTwice"), QStringLiteral("failRomReads"),
                                    QStringLiteral("corruptReads"), QStringLiteral("silent")};
        int missSearches = 0, reportTwice = 0, failRomReads = 0, corruptReads = 0;
        bool silent = false;
        if (!SimJson::checkKeys(entry, common + SimDeviceFactory::keys(type), QStringLiteral("a ") + type, &why)
            || !SimJson::readInt(entry, "missSearches", 0, 1000000, &missSearches, &why)
            || !SimJson::readInt(entry, "reportTwice", 0, 1000000, &reportTwice, &why)
            || !SimJson::readInt(entry, "failRomReads", 0, 1000000, &failRomReads, &why)
            || !SimJson::readInt(entry, "corruptReads", 0, 1000000, &corruptReads, &why)
            || !SimJson::readBool(entry, "silent", &silent, &why))
            return failIn(path, why);

        std::unique_ptr<SimDevice> device = SimDeviceFactory::create(type, rom, entry, &why);
        if (!device)
            return failIn(path, why);
        SimDevice *added = bus.addDevice(std::move(device));
        added->setSilent(silent);
        if (missSearches)
            bus.hideFromSearches(added, missSearches);
        if (corruptReads)
            bus.corruptReads(added, corruptReads);
        if (reportTwice)
            backend->reportTwice(added, reportTwice);
        if (failRomReads)
            backend->failRomReads(added, failRomReads);
    }
    if (error)
        error->clear();
    return backend;
}

std::unique_ptr<SimBackend> SimBusLoader::loadFile(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = SimJson::oneLine(QStringLiteral("%1: cannot read the bus file: %2").arg(path, file.errorString()));
        return nullptr;
    }
    return load(file.readAll(), path, error);
}

QByteArray SimBusLoader::demoJson()
{
    initDemoResource();
    QFile file(QStringLiteral(":/sim/demobus.json"));
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

std::unique_ptr<SimBackend> SimBusLoader::loadDemo(QString *error)
{
    return load(demoJson(), QStringLiteral("demo bus"), error);
}
