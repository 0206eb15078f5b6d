#include "sim/simbusloader.h"

#include "bus/crc.h"
#include "sim/simbackend.h"
#include "sim/simdevice.h"
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

// The pieces below report a problem as the text that follows "<source>:" in
// the error line, and return false.

// "<where>: <what was expected>", `where` a line:column or an entry's path.
bool failAt(const QString &where, const QString &what, QString *problem)
{
    *problem = where + QStringLiteral(": ") + what;
    return false;
}

// A reader's "key: what" about the entry at `path` (the root when empty).
bool failIn(const QString &path, const QString &why, QString *problem)
{
    *problem = path.isEmpty() ? why : path + QLatin1Char('.') + why;
    return false;
}

// The document's root object, with no keys but the known ones.
bool parseDocument(const QByteArray &json, QJsonObject *root, QString *problem)
{
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return failAt(lineColumn(json, parseError.offset), parseError.errorString(), problem);
    if (!doc.isObject())
        return failAt(QStringLiteral("1:1"), QStringLiteral("the description must be a JSON object"), problem);
    *root = doc.object();
    QString why;
    if (!SimJson::checkKeys(*root, {QStringLiteral("adapter"), QStringLiteral("devices")}, QStringLiteral("a bus file"), &why))
        return failIn(QString(), why, problem);
    return true;
}

// The "adapter" object: the simulated adapter's faults and settings.
bool applyAdapter(const QJsonObject &root, SimBackend &backend, QString *problem)
{
    const QJsonValue adapterValue = root.value(QStringLiteral("adapter"));
    if (!adapterValue.isUndefined() && !adapterValue.isObject())
        return failAt(QStringLiteral("adapter"), QStringLiteral("expected an object"), problem);
    const QJsonObject adapter = adapterValue.toObject();
    bool plugged = true, hasPort = true, setupFails = false, overdrive = true;
    int port = 0, portType = 6, setupResult = 1;
    QString why;
    if (!SimJson::checkKeys(adapter,
                            {QStringLiteral("plugged"), QStringLiteral("defaultPort"), QStringLiteral("setupFails"),
                             QStringLiteral("overdrive"), QStringLiteral("port"), QStringLiteral("portType"),
                             QStringLiteral("setupResult")},
                            QStringLiteral("the adapter"), &why)
        || !SimJson::readBool(adapter, "plugged", &plugged, &why) || !SimJson::readBool(adapter, "defaultPort", &hasPort, &why)
        || !SimJson::readBool(adapter, "setupFails", &setupFails, &why) || !SimJson::readBool(adapter, "overdrive", &overdrive, &why)
        || !SimJson::readInt(adapter, "port", 0, 15, &port, &why) || !SimJson::readInt(adapter, "portType", 0, 255, &portType, &why)
        || !SimJson::readInt(adapter, "setupResult", 1, 2, &setupResult, &why))
        return failIn(QStringLiteral("adapter"), why, problem);
    SimBus &bus = backend.bus();
    bus.setConnected(plugged);
    bus.setDefaultPort(hasPort, short(port), short(portType));
    bus.setSetupFails(setupFails);
    bus.setOverdriveCapable(overdrive);
    backend.setSetupResultAfterStart(short(setupResult));
    return true;
}

// The ROM of device entry `index`: its "rom", or the default for its family.
bool readRom(const QJsonObject &entry, int family, int index, const QString &path, QByteArray *rom, QString *problem)
{
    const QJsonValue romValue = entry.value(QStringLiteral("rom"));
    if (romValue.isUndefined()) {
        *rom = SimBusLoader::defaultRom(family, index);
        return true;
    }
    if (!romValue.isString())
        return failAt(path + QStringLiteral(".rom"), QStringLiteral("expected a text of hexadecimal digits"), problem);
    QString why;
    if (!parseRom(romValue.toString(), rom, &why))
        return failAt(path + QStringLiteral(".rom"), why, problem);
    return true;
}

// The fault keys every device entry may carry.
struct DeviceFaults
{
    int missSearches = 0;
    int reportTwice = 0;
    int failRomReads = 0;
    int corruptReads = 0;
    bool silent = false;
};

bool readFaults(const QJsonObject &entry, DeviceFaults *faults, QString *why)
{
    return SimJson::readInt(entry, "missSearches", 0, 1000000, &faults->missSearches, why)
           && SimJson::readInt(entry, "reportTwice", 0, 1000000, &faults->reportTwice, why)
           && SimJson::readInt(entry, "failRomReads", 0, 1000000, &faults->failRomReads, why)
           && SimJson::readInt(entry, "corruptReads", 0, 1000000, &faults->corruptReads, why)
           && SimJson::readBool(entry, "silent", &faults->silent, why);
}

void applyFaults(SimBackend &backend, SimDevice *device, const DeviceFaults &faults)
{
    SimBus &bus = backend.bus();
    device->setSilent(faults.silent);
    if (faults.missSearches)
        bus.hideFromSearches(device, faults.missSearches);
    if (faults.corruptReads)
        bus.corruptReads(device, faults.corruptReads);
    if (faults.reportTwice)
        backend.reportTwice(device, faults.reportTwice);
    if (faults.failRomReads)
        backend.failRomReads(device, faults.failRomReads);
}

// Device entry `index` built and put on the bus with its faults. `roms`
// holds the ROMs already on the bus; the new one is added.
bool addDevice(const QJsonValue &value, int index, SimBackend &backend, QSet<QByteArray> *roms, QString *problem)
{
    const QString path = QStringLiteral("devices[%1]").arg(index);
    if (!value.isObject())
        return failAt(path, QStringLiteral("expected an object"), problem);
    const QJsonObject entry = value.toObject();
    const QJsonValue typeValue = entry.value(QStringLiteral("type"));
    if (typeValue.isUndefined())
        return failAt(path + QStringLiteral(".type"), QStringLiteral("missing device type ") + knownTypes(), problem);
    if (!typeValue.isString())
        return failAt(path + QStringLiteral(".type"), QStringLiteral("expected a device type name ") + knownTypes(), problem);
    const QString type = typeValue.toString();
    const int family = SimDeviceFactory::defaultFamily(type);
    if (family == 0)
        return failAt(path + QStringLiteral(".type"),
                      QStringLiteral("unknown device type %1 %2").arg(SimJson::quoted(type), knownTypes()), problem);
    QByteArray rom;
    if (!readRom(entry, family, index, path, &rom, problem))
        return false;
    if (roms->contains(rom))
        return failAt(path + QStringLiteral(".rom"), QStringLiteral("the same ROM is already on the bus"), problem);
    roms->insert(rom);

    const QStringList common = {QStringLiteral("type"), QStringLiteral("rom"), QStringLiteral("missSearches"),
                                QStringLiteral("reportTwice"), QStringLiteral("failRomReads"),
                                QStringLiteral("corruptReads"), QStringLiteral("silent")};
    DeviceFaults faults;
    QString why;
    if (!SimJson::checkKeys(entry, common + SimDeviceFactory::keys(type), QStringLiteral("a ") + type, &why)
        || !readFaults(entry, &faults, &why))
        return failIn(path, why, problem);

    std::unique_ptr<SimDevice> device = SimDeviceFactory::create(type, rom, entry, &why);
    if (!device)
        return failIn(path, why, problem);
    applyFaults(backend, backend.bus().addDevice(std::move(device)), faults);
    return true;
}

// The "devices" array, in bus order.
bool addDevices(const QJsonObject &root, SimBackend &backend, QString *problem)
{
    const QJsonValue devicesValue = root.value(QStringLiteral("devices"));
    if (!devicesValue.isUndefined() && !devicesValue.isArray())
        return failAt(QStringLiteral("devices"), QStringLiteral("expected an array"), problem);
    const QJsonArray devices = devicesValue.toArray();
    if (devices.size() > kMaxDevices)
        return failAt(QStringLiteral("devices"),
                      QStringLiteral("%1 devices, more than the %2 a simulated 1-Wire bus carries")
                          .arg(devices.size())
                          .arg(kMaxDevices),
                      problem);
    QSet<QByteArray> roms;
    for (int i = 0; i < devices.size(); ++i) {
        if (!addDevice(devices.at(i), i, backend, &roms, problem))
            return false;
    }
    return true;
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

// Every error is one line: "<source>:<where>: <what was expected>".
std::unique_ptr<SimBackend> SimBusLoader::load(const QByteArray &json, const QString &sourceName, QString *error)
{
    QJsonObject root;
    QString problem;
    auto backend = std::make_unique<SimBackend>();
    if (!parseDocument(json, &root, &problem) || !applyAdapter(root, *backend, &problem)
        || !addDevices(root, *backend, &problem)) {
        if (error)
            *error = SimJson::oneLine(sourceName + QLatin1Char(':') + problem);
        return nullptr;
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

MasterEntry SimBusLoader::masterEntry()
{
    MasterEntry entry;
    entry.prefix = QStringLiteral("sim");
    entry.forms = {{QStringLiteral("sim"), QStringLiteral("the built-in demo bus")},
                   {QStringLiteral("sim:FILE"), QStringLiteral("a simulated bus described by a JSON file")}};
    entry.open = [](const QString &path, QString *error) -> std::unique_ptr<BusBackend> {
        if (path.isEmpty())
            return loadDemo(error);
        return loadFile(path, error);
    };
    // Last: without hardware the program still shows what it does.
    entry.defaultPlace = 4;
    entry.defaultUsage = QString::fromLatin1(QT_TRANSLATE_NOOP("Orvexctl", "the demo bus"));
    entry.choose = [](QString *error) -> std::unique_ptr<BusBackend> { return loadDemo(error); };
    return entry;
}
