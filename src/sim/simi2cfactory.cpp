#include "sim/simi2cfactory.h"

#include "sim/simbmp280.h"
#include "sim/simd6f.h"
#include "sim/simhdc1080.h"
#include "sim/simjson.h"
#include "sim/simscd30.h"
#include "sim/simsht3x.h"
#include "sim/simsts3x.h"
#include "sim/simtypetable.h"

namespace {

using Maker = std::unique_ptr<SimI2cSlave> (*)(const QJsonObject &, QString *);

struct Entry
{
    const char *type;
    Maker make;
    const char *keys; // the entry keys the chip reads, blank-separated
};

const Entry kEntries[] = {
    {"sht3x", SimSht3x::fromJson, "temperature humidity rawTemperature rawHumidity serial crcErrors"},
    {"sts3x", SimSts3x::fromJson, "temperature rawTemperature serial crcErrors"},
    {"hdc1080", SimHdc1080::fromJson, "temperature humidity rawTemperature rawHumidity serial"},
    {"bmp280", SimBmp280::fromJson, "temperature pressurePa adcTemperature adcPressure chipId calibration"},
    {"d6f", SimD6f::fromJson, "pressurePa temperature rawPressure rawTemperature"},
    {"scd30", SimScd30::fromJson,
     "co2 temperature humidity measurement serial intervalS measuring neverReady crcErrors"},
};

} // namespace

std::unique_ptr<SimI2cSlave> SimI2cFactory::create(const QString &type, const QJsonObject &entry, QString *error)
{
    const Entry *e = SimTypeTable::find(kEntries, type);
    if (!e) {
        *error = QStringLiteral("type: unknown I2C chip type %1 (known: %2)")
                     .arg(SimJson::quoted(type), types().join(QStringLiteral(", ")));
        return nullptr;
    }
    QByteArray address;
    int stopAckAfter = -1;
    bool nackData = false;
    if (!SimJson::readHex(entry, "address", 1, &address, error)
        || !SimJson::readInt(entry, "stopAckAfter", 0, 1000000, &stopAckAfter, error)
        || !SimJson::readBool(entry, "nackData", &nackData, error))
        return nullptr;
    if (!checkAddress(address, error))
        return nullptr;
    std::unique_ptr<SimI2cSlave> chip = e->make(entry, error);
    if (!chip)
        return nullptr;
    if (!address.isEmpty())
        chip->setAddress(uint8_t(address.at(0)));
    chip->stopAckingAfter(stopAckAfter);
    chip->setNackData(nackData);
    return chip;
}

QStringList SimI2cFactory::types()
{
    return SimTypeTable::types(kEntries);
}

QStringList SimI2cFactory::keys(const QString &type)
{
    return SimTypeTable::keys(kEntries, type);
}

QStringList SimI2cFactory::commonKeys()
{
    return {QStringLiteral("type"),    QStringLiteral("address"),        QStringLiteral("channel"),
            QStringLiteral("moveTo"),  QStringLiteral("moveAfterCycles"), QStringLiteral("stopAckAfter"),
            QStringLiteral("nackData")};
}

bool SimI2cFactory::checkAddress(const QByteArray &address, QString *error)
{
    if (!address.isEmpty() && uint8_t(address.at(0)) > 0x7F) {
        *error = QStringLiteral("address: a 7-bit I2C address is 00 to 7F");
        return false;
    }
    return true;
}
