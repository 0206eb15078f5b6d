#include "sim/simdevicefactory.h"

#include "sim/simds1822.h"
#include "sim/simds1825.h"
#include "sim/simds18b20.h"
#include "sim/simds2408.h"
#include "sim/simds2413.h"
#include "sim/simds2423.h"
#include "sim/simds2438.h"
#include "sim/simds2450.h"
#include "sim/simds28e17.h"
#include "sim/simds28ea00.h"
#include "sim/simds18s20.h"
#include "sim/simidentitychip.h"
#include "sim/simjson.h"
#include "sim/simmax31850.h"
#include "sim/simpt100emulator.h"
#include "sim/simromdevice.h"
#include "sim/simtypetable.h"

namespace {

using Maker = std::unique_ptr<SimDevice> (*)(const QByteArray &, const QJsonObject &, QString *);

struct Entry
{
    const char *type;
    int family;
    Maker make;
    const char *keys; // the entry keys the chip reads, blank-separated
};

std::unique_ptr<SimDevice> makeRom(const QByteArray &rom, const QJsonObject &entry, QString *error)
{
    bool overdrive = false;
    if (!SimJson::readBool(entry, "overdrive", &overdrive, error))
        return nullptr;
    return std::make_unique<SimRomDevice>(rom, overdrive);
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

#define THERMOMETER_KEYS "temperature th tl parasite scratchpad powerOnReads crcErrors"
#define THERMOCOUPLE_KEYS "temperature coldJunction fault address scratchpad crcErrors"

const Entry kEntries[] = {
    {"identity", 0x81, makeIdentity, ""},
    {"rom", 0x01, makeRom, "overdrive"},
    {"ds18s20", 0x10, SimDs18s20::fromJson, THERMOMETER_KEYS " countReadings"},
    {"ds18b20", 0x28, SimDs18b20::fromJson, THERMOMETER_KEYS " resolution"},
    {"max31850", 0x3B, SimMax31850::fromJson, THERMOCOUPLE_KEYS},
    {"pt100emulator", 0x3B, SimPt100Emulator::fromJson, THERMOCOUPLE_KEYS " offset subtypeCode badCalibrationReads"},
    {"ds28e17", 0x19, SimDs28e17::fromJson, "hub i2c extraBusyUs stuckBusy"},
    {"ds1822", 0x22, SimDs1822::fromJson, THERMOMETER_KEYS " resolution"},
    {"ds28ea00", 0x42, SimDs28ea00::fromJson, THERMOMETER_KEYS " resolution"},
    {"ds1825", 0x3B, SimDs1825::fromJson, THERMOMETER_KEYS " resolution address"},
    {"ds2438", 0x26, SimDs2438::fromJson, "temperature vdd vad senseVolts humidity crcErrors"},
    {"ds2450", 0x20, SimDs2450::fromJson, "inputA inputB inputC inputD resolution range vcc crcErrors"},
    {"ds2423", 0x1D, SimDs2423::fromJson, "counterA counterB rateA rateB crcErrors"},
    {"ds2413", 0x3A, SimDs2413::fromJson, "inputA inputB outputA outputB complementErrors"},
    {"ds2408", 0x29, SimDs2408::fromJson, "inputs outputs crcErrors"},
};

} // namespace

std::unique_ptr<SimDevice> SimDeviceFactory::create(const QString &type, const QByteArray &rom,
                                                    const QJsonObject &entry, QString *error)
{
    if (const Entry *e = SimTypeTable::find(kEntries, type))
        return e->make(rom, entry, error);
    *error = QStringLiteral("type: unknown device type %1 (known: %2)").arg(SimJson::quoted(type), types().join(QStringLiteral(", ")));
    return nullptr;
}

int SimDeviceFactory::defaultFamily(const QString &type)
{
    const Entry *e = SimTypeTable::find(kEntries, type);
    return e ? e->family : 0;
}

QStringList SimDeviceFactory::keys(const QString &type)
{
    return SimTypeTable::keys(kEntries, type);
}

QStringList SimDeviceFactory::types()
{
    return SimTypeTable::types(kEntries);
}
