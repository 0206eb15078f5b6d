#include "sim/simdevicefactory.h"

#include "sim/simds18b20.h"
#include "sim/simds18s20.h"
#include "sim/simidentitychip.h"
#include "sim/simmax31850.h"
#include "sim/simpt100emulator.h"
#include "sim/simromdevice.h"

namespace {

using Maker = std::unique_ptr<SimDevice> (*)(const QByteArray &, const QJsonObject &, QString *);

struct Entry
{
    const char *type;
    int family;
    Maker make;
};

std::unique_ptr<SimDevice> makeRom(const QByteArray &rom, const QJsonObject &entry, QString *)
{
    return std::make_unique<SimRomDevice>(rom, entry.value(QStringLiteral("overdrive")).toBool(false));
}

std::unique_ptr<SimDevice> makeIdentity(const QByteArray &rom, const QJsonObject &, QString *error)
{
    const uint8_t family = uint8_t(rom.at(0));
    if (family != 0x81 && family != 0x01) {
        *error = QStringLiteral("rom: an identity chip has family 81 or 01");
        return nullptr;
    }
    return std::make_unique<SimIdentityChip>(rom);
}

const Entry kEntries[] = {
    {"identity", 0x81, makeIdentity},
    {"rom", 0x01, makeRom},
    {"ds18s20", 0x10, SimDs18s20::fromJson},
    {"ds18b20", 0x28, SimDs18b20::fromJson},
    {"max31850", 0x3B, SimMax31850::fromJson},
    {"pt100emulator", 0x3B, SimPt100Emulator::fromJson},
};

} // namespace

std::unique_ptr<SimDevice> SimDeviceFactory::create(const QString &type, const QByteArray &rom,
                                                    const QJsonObject &entry, QString *error)
{
    for (const Entry &e : kEntries) {
        if (type == QLatin1String(e.type))
            return e.make(rom, entry, error);
    }
    *error = QStringLiteral("type: unknown device type \"%1\" (known: %2)").arg(type, types().join(QStringLiteral(", ")));
    return nullptr;
}

int SimDeviceFactory::defaultFamily(const QString &type)
{
    for (const Entry &e : kEntries) {
        if (type == QLatin1String(e.type))
            return e.family;
    }
    return 0;
}

QStringList SimDeviceFactory::types()
{
    QStringList list;
    for (const Entry &e : kEntries)
        list << QLatin1String(e.type);
    return list;
}
