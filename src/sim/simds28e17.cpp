#include "sim/simds28e17.h"

#include "bus/crc.h"
#include "base/clock.h"
#include "sim/simi2cfactory.h"
#include "sim/simi2cslave.h"
#include "sim/simjson.h"
#include "sim/simmultihub.h"

#include <QJsonArray>

namespace {

const uint8_t kWriteWithStop = 0x4B;
const uint8_t kWriteNoStop = 0x5A;
const uint8_t kWriteOnly = 0x69;
const uint8_t kWriteOnlyWithStop = 0x78;
const uint8_t kReadWithStop = 0x87;
const uint8_t kWriteReadWithStop = 0x2D;
const uint8_t kWriteConfiguration = 0xD2;
const uint8_t kReadConfiguration = 0xE1;
const uint8_t kEnableSleepMode = 0x1E;
const uint8_t kReadRevision = 0xC4;
const uint8_t kRevision = 0x01;
// A bound on the I2C chips of one bridge's bus file entry: about eight on
// each of its 49 buses (its own and the hub's 48 channels), far more than the
// line capacitance of real cabling allows.
const int kMaxChips = 8 * (SimMultiHub::kChannels + 1);

} // namespace

SimDs28e17::SimDs28e17(const QByteArray &rom)
    : SimDevice(rom)
{
}

SimDs28e17::~SimDs28e17() = default;

// Speed bits 1..0: 0 100 kHz, 1 400 kHz, 2 900 kHz; the sources at hand do
// not say what 3 does, so it is taken as 900 kHz as well.
int SimDs28e17::speedKHz() const
{
    switch (m_configuration & 0x03) {
    case 0:
        return 100;
    case 1:
        return 400;
    default:
        return 900;
    }
}

// One I2C byte with its acknowledge bit: about 90 µs at 100 kHz, 23 µs at
// 400 kHz, 10 µs at 900 kHz.
qint64 SimDs28e17::byteTimeUs() const
{
    switch (speedKHz()) {
    case 100:
        return 90;
    case 400:
        return 23;
    default:
        return 10;
    }
}

bool SimDs28e17::busy() const
{
    return m_stuck || Clock::tickUs() < m_busyUntilUs;
}

void SimDs28e17::onReset()
{
    // A reset wakes a sleeping bridge and abandons a packet half sent.
    m_asleep = false;
    m_stuck = false;
    m_phase = Phase::Command;
    m_packet.clear();
    m_readout.clear();
}

void SimDs28e17::beginCommand(uint8_t command)
{
    m_packet = QByteArray(1, char(command));
    m_readout.clear();
    switch (command) {
    case kWriteWithStop:
    case kWriteNoStop:
    case kWriteOnly:
    case kWriteOnlyWithStop:
    case kReadWithStop:
    case kWriteReadWithStop:
        m_phase = Phase::Packet;
        break;
    case kWriteConfiguration:
        m_phase = Phase::Configure;
        break;
    case kReadConfiguration:
        m_readout = QByteArray(1, char(m_configuration));
        m_phase = Phase::Result;
        break;
    case kReadRevision:
        m_readout = QByteArray(1, char(kRevision));
        m_phase = Phase::Result;
        break;
    case kEnableSleepMode:
        m_asleep = true;
        ++m_sleeps;
        m_i2c.onCycle();
        m_phase = Phase::Idle;
        break;
    default:
        m_phase = Phase::Idle;
        break;
    }
}

int SimDs28e17::packetLength() const
{
    const uint8_t command = uint8_t(m_packet.at(0));
    const int size = m_packet.size();
    switch (command) {
    case kWriteWithStop:
    case kWriteNoStop:
        // command, address, length, data, CRC
        return size >= 3 ? 3 + uint8_t(m_packet.at(2)) + 2 : 0;
    case kWriteOnly:
    case kWriteOnlyWithStop:
        // command, length, data, CRC
        return size >= 2 ? 2 + uint8_t(m_packet.at(1)) + 2 : 0;
    case kReadWithStop:
        // command, address, length, CRC
        return 5;
    case kWriteReadWithStop: {
        // command, address, write length, data, read length, CRC
        if (size < 3)
            return 0;
        const int readLengthAt = 3 + uint8_t(m_packet.at(2));
        return size > readLengthAt ? readLengthAt + 1 + 2 : 0;
    }
    default:
        return 0;
    }
}

uint8_t SimDs28e17::functionByte(uint8_t fromMaster)
{
    if (m_asleep)
        return 0xFF;
    switch (m_phase) {
    case Phase::Command:
        beginCommand(fromMaster);
        return 0xFF;
    case Phase::Packet: {
        m_packet.append(char(fromMaster));
        const int length = packetLength();
        if (length > 0 && m_packet.size() == length)
            carryOut();
        return 0xFF;
    }
    case Phase::Configure:
        m_configuration = fromMaster;
        m_phase = Phase::Idle;
        return 0xFF;
    case Phase::Result:
        // While busy the line stays high: a byte read gives eight busy bits.
        if (busy() || m_readout.isEmpty())
            return 0xFF;
        {
            const uint8_t byte = uint8_t(m_readout.at(0));
            m_readout.remove(0, 1);
            return byte;
        }
    case Phase::Idle:
        break;
    }
    return 0xFF;
}

int SimDs28e17::functionBit(int)
{
    if (m_asleep || m_phase != Phase::Result)
        return 1;
    return busy() ? 1 : 0;
}

void SimDs28e17::carryOut()
{
    m_phase = Phase::Result;
    const QByteArray body = m_packet.left(m_packet.size() - 2);
    const int size = m_packet.size();
    const uint16_t sent = uint16_t(uint8_t(m_packet.at(size - 2)) | uint8_t(m_packet.at(size - 1)) << 8);
    const uint8_t command = uint8_t(body.at(0));
    const bool isRead = command == kReadWithStop;
    if (uint16_t(~Crc::maxim16(body)) != sent) {
        // Refused before any I2C traffic; no write status is driven.
        m_readout = QByteArray(1, char(kCrcError));
        if (!isRead)
            m_readout.append(char(0xFF));
        m_busyUntilUs = Clock::tickUs();
        return;
    }

    ++m_transactions;
    SimI2cTransfer transfer;
    uint8_t status = 0;
    uint8_t writeStatus = 0;
    QByteArray data;
    switch (command) {
    case kWriteWithStop:
    case kWriteNoStop:
        transfer = m_i2c.write(uint8_t(body.at(1)) >> 1, body.mid(3), command == kWriteWithStop);
        break;
    case kWriteOnly:
    case kWriteOnlyWithStop:
        transfer = m_i2c.writeMore(body.mid(2), command == kWriteOnlyWithStop);
        if (!transfer.addressAcked)
            status |= kStartError; // nothing was left open to continue
        break;
    case kReadWithStop:
        transfer = m_i2c.read(uint8_t(body.at(1)) >> 1, uint8_t(body.at(2)));
        data = transfer.data;
        break;
    case kWriteReadWithStop: {
        const uint8_t address = uint8_t(body.at(1)) >> 1;
        const int writeLength = uint8_t(body.at(2));
        transfer = m_i2c.write(address, body.mid(3, writeLength), false);
        if (transfer.addressAcked && transfer.nackedByte == 0) {
            const SimI2cTransfer readPart = m_i2c.read(address, uint8_t(body.at(3 + writeLength)));
            transfer.busBytes += readPart.busBytes;
            transfer.stretchUs += readPart.stretchUs;
            data = readPart.data;
        }
        break;
    }
    default:
        break;
    }
    if (!transfer.addressAcked && !(status & kStartError))
        status |= kAddressNack;
    writeStatus = uint8_t(transfer.nackedByte);

    m_readout = QByteArray(1, char(status));
    if (!isRead)
        m_readout.append(char(writeStatus));
    if (status == 0)
        m_readout.append(data);
    m_busyUntilUs = Clock::tickUs() + transfer.busBytes * byteTimeUs() + transfer.stretchUs + m_extraBusyUs;
    if (m_stuckBusy > 0) {
        --m_stuckBusy;
        m_stuck = true;
    }
}

namespace {

// "prefix.field: what" from a reader's "field: what".
QString within(const QString &prefix, const QString &error)
{
    return prefix + QLatin1Char('.') + error;
}

std::unique_ptr<SimMultiHub> hubFromJson(const QJsonObject &entry, QString *error)
{
    QByteArray address;
    QList<int> refused;
    if (!SimJson::checkKeys(entry, {QStringLiteral("address"), QStringLiteral("refuseChannels")},
                            QStringLiteral("a multi-hub"), error)
        || !SimJson::readHex(entry, "address", 1, &address, error)
        || !SimJson::readIntList(entry, "refuseChannels", 0, 255, &refused, error))
        return nullptr;
    if (!SimI2cFactory::checkAddress(address, error))
        return nullptr;
    auto hub = std::make_unique<SimMultiHub>(address.isEmpty() ? SimMultiHub::kFirstAddress : uint8_t(address.at(0)));
    for (int channel : refused)
        hub->refuseChannel(channel);
    return hub;
}

// One entry of "i2c": the chip, placed on the hub's channel or on the bridge's own bus.
bool placeChip(SimI2cBus &bus, const QJsonObject &entry, QString *error)
{
    const QJsonValue typeValue = entry.value(QStringLiteral("type"));
    if (!typeValue.isString()) {
        *error = QStringLiteral("type: %1 (known: %2)")
                     .arg(typeValue.isUndefined() ? QStringLiteral("missing I2C chip type")
                                                  : QStringLiteral("expected an I2C chip type name"),
                          SimI2cFactory::types().join(QStringLiteral(", ")));
        return false;
    }
    const QString type = typeValue.toString();
    if (SimI2cFactory::types().contains(type)
        && !SimJson::checkKeys(entry, SimI2cFactory::commonKeys() + SimI2cFactory::keys(type),
                               QStringLiteral("a ") + type, error))
        return false;
    int channel = -1, moveTo = -1, moveAfterCycles = 0;
    if (!SimJson::readInt(entry, "channel", 0, SimMultiHub::kChannels - 1, &channel, error)
        || !SimJson::readInt(entry, "moveTo", 0, SimMultiHub::kChannels - 1, &moveTo, error)
        || !SimJson::readInt(entry, "moveAfterCycles", 1, 1000000, &moveAfterCycles, error))
        return false;
    if (channel >= 0 && !bus.hub()) {
        *error = QStringLiteral("channel: the bridge has no hub");
        return false;
    }
    if ((moveTo >= 0) != (moveAfterCycles > 0) || (moveTo >= 0 && channel < 0)) {
        *error = QStringLiteral("moveTo: needs \"channel\" and \"moveAfterCycles\"");
        return false;
    }
    std::unique_ptr<SimI2cSlave> chip = SimI2cFactory::create(type, entry, error);
    if (!chip)
        return false;
    if (channel < 0) {
        bus.add(std::move(chip));
        return true;
    }
    SimI2cSlave *placed = bus.hub()->add(std::move(chip), channel);
    if (moveTo >= 0)
        bus.hub()->moveAfterCycles(placed, moveTo, moveAfterCycles);
    return true;
}

} // namespace

std::unique_ptr<SimDevice> SimDs28e17::fromJson(const QByteArray &rom, const QJsonObject &entry, QString *error)
{
    auto bridge = std::make_unique<SimDs28e17>(rom);
    int extraBusyUs = 0, stuckBusy = 0;
    if (!SimJson::readInt(entry, "extraBusyUs", 0, 1000000, &extraBusyUs, error)
        || !SimJson::readInt(entry, "stuckBusy", 0, 1000000, &stuckBusy, error))
        return nullptr;
    bridge->setExtraBusyUs(extraBusyUs);
    bridge->setStuckBusy(stuckBusy);

    const QJsonValue hub = entry.value(QStringLiteral("hub"));
    if (!hub.isUndefined()) {
        if (!hub.isObject()) {
            *error = QStringLiteral("hub: expected an object");
            return nullptr;
        }
        std::unique_ptr<SimMultiHub> made = hubFromJson(hub.toObject(), error);
        if (!made) {
            *error = within(QStringLiteral("hub"), *error);
            return nullptr;
        }
        bridge->i2c().setHub(std::move(made));
    }

    const QJsonValue chips = entry.value(QStringLiteral("i2c"));
    if (!chips.isUndefined() && !chips.isArray()) {
        *error = QStringLiteral("i2c: expected an array");
        return nullptr;
    }
    const QJsonArray list = chips.toArray();
    if (list.size() > kMaxChips) {
        *error = QStringLiteral("i2c: %1 chips, more than the %2 one bridge carries").arg(list.size()).arg(kMaxChips);
        return nullptr;
    }
    for (int i = 0; i < list.size(); ++i) {
        const QString path = QStringLiteral("i2c[%1]").arg(i);
        if (!list.at(i).isObject()) {
            *error = path + QStringLiteral(": expected an object");
            return nullptr;
        }
        if (!placeChip(bridge->i2c(), list.at(i).toObject(), error)) {
            *error = within(path, *error);
            return nullptr;
        }
    }
    return bridge;
}
