#include "i2c/i2cbridge.h"

#include "bus/romcommands.h"
#include "i2c/bridgecontext.h"
#include "i2c/i2csensortypes.h"
#include "i2c/multihub.h"
#include "model/sensortraits.h"
#include "bus/crc.h"
#include "onewire/tmex.h"
#include "base/clock.h"
#include "model/sensordevice.h"

#include <initializer_list>

namespace {

const short kWriteConfiguration = 0xD2;
const short kEnableSleepMode = 0x1E;
const uint8_t kWriteWithStop = 0x4B;
const uint8_t kWriteNoStop = 0x5A;
const uint8_t kReadWithStop = 0x87;
const int kBusyPolls = 60;

// The packet's CRC-16 as it is sent: complemented, low byte first.
QByteArray withCrc(QByteArray packet)
{
    const uint16_t crc = uint16_t(~Crc::maxim16(packet));
    packet.append(char(crc & 0xFF));
    packet.append(char(crc >> 8));
    return packet;
}

// A write packet with its CRC, and the first poll of the busy bit, which
// always follows it, in one call: an adapter that carries a run in one
// exchange waits for its answers once. A driver's write is a few I2C bytes
// (under half a millisecond at 100 kHz), done by the time the poll follows
// the packet through such an adapter. The bit read, or negative.
short sendWritePacket(Tmex &tmex, int32_t session, const QByteArray &packet)
{
    QByteArray run = withCrc(packet);
    return tmex.blockThenReadBit(session, run);
}

// A broadcast: reset, Skip ROM and the bytes of one command in one run.
// The last byte read back, or negative.
int broadcast(Tmex &tmex, int32_t session, std::initializer_list<uint8_t> command)
{
    tmex.TMTouchReset(session);
    QByteArray run;
    run.append(char(RomCommand::kSkip));
    for (uint8_t b : command)
        run.append(char(b));
    const short done = tmex.blockIO(session, run);
    return done < 0 ? done : uint8_t(run.at(run.size() - 1));
}

} // namespace

I2cBridge::I2cBridge(Tmex &tmex, int32_t *session, uint8_t *accessState, short *rom, BridgeContext *context)
    : m_tmex(tmex)
    , m_session(session)
    , m_accessState(accessState)
    , m_rom(rom)
    , m_context(context)
    , m_scanAllChannels(context ? context->scanAllChannelSetting() : true)
{
    setBusSpeed(100);
}

int I2cBridge::setBusSpeed(int kHz)
{
    const short valid = m_tmex.TMValidSession(*m_session);
    if (valid == 0)
        return valid;
    short speed = 3;
    if (kHz == 100)
        speed = 0;
    else if (kHz == 400)
        speed = 1;
    else if (kHz == 900)
        speed = 2;
    return broadcast(m_tmex, *m_session, {uint8_t(kWriteConfiguration), uint8_t(speed)});
}

int I2cBridge::sendSleepCommand()
{
    const short valid = m_tmex.TMValidSession(*m_session);
    if (valid == 0)
        return valid;
    return broadcast(m_tmex, *m_session, {uint8_t(kEnableSleepMode)});
}

void I2cBridge::accessDevice(Tmex &tmex, int32_t *session, uint8_t *accessState)
{
    tmex.TMAccess(*session, accessState);
}

int I2cBridge::attempts(Tmex &tmex, int32_t *session, uint8_t *accessState, short *rom, const std::function<int()> &attempt)
{
    int result = kFailed;
    for (int i = 0; i < kAttempts; ++i) {
        if (i > 0)
            Clock::keepResponsive(); // an absent sensor costs four attempts
        result = tmex.selectDevice(*session, accessState, rom) ? attempt() : kFailed;
        if (result >= 1)
            break;
    }
    return result;
}

int I2cBridge::waitWhileBusy()
{
    return waitWhileBusy(m_tmex.TMTouchBit(*m_session, 1));
}

int I2cBridge::waitWhileBusy(short firstPoll)
{
    for (int poll = 0; poll < kBusyPolls; ++poll) {
        const short bit = poll == 0 ? firstPoll : m_tmex.TMTouchBit(*m_session, 1);
        if (bit < 0)
            return kFailed;
        if (bit == 0)
            return kBusyPolls - poll;
        Clock::pollEvents();
    }
    return kFailed;
}

int I2cBridge::writeData(uint8_t address, const QByteArray &data, int mode)
{
    if (data.isEmpty() || data.size() > kMaxWriteBytes || (mode != kWithStop && mode != kNoStop))
        return kBadRequest;
    QByteArray packet;
    packet.append(char(mode == kWithStop ? kWriteWithStop : kWriteNoStop));
    packet.append(char(address));
    packet.append(char(data.size()));
    packet.append(data);
    if (waitWhileBusy(sendWritePacket(m_tmex, *m_session, packet)) < 0)
        return kFailed;
    unsigned char statuses[2] = {0xFF, 0xFF};
    if (m_tmex.TMBlockIO(*m_session, statuses, 2) < 0 || statuses[0] != 0 || statuses[1] != 0)
        return kTransferFailed;
    return data.size();
}

int I2cBridge::readData(uint8_t address, QByteArray &out, int length)
{
    out.clear();
    // Lengths outside 1..59 are refused as they are: the length byte on the
    // wire must never be a wrapped-around value.
    if (length < 1 || length > kMaxReadBytes)
        return kBadRequest;
    QByteArray packet;
    packet.append(char(kReadWithStop));
    packet.append(char(address | 1));
    packet.append(char(length));
    QByteArray run = withCrc(packet);
    if (m_tmex.blockIO(*m_session, run) < 0)
        return kTransferFailed;
    // A read may wait for its sensor (clock stretching while it measures):
    // its first poll goes in an exchange of its own, after the packet's.
    if (waitWhileBusy() < 0)
        return kFailed;
    if (m_tmex.TMTouchByte(*m_session, 0xFF) != 0)
        return kFailed;
    QByteArray data(length, char(0xFF));
    if (m_tmex.blockIO(*m_session, data) < 0)
        data.fill(char(0xFF)); // as bytes read with -1 each
    out = data;
    return length;
}

void I2cBridge::sensorAnswered(uint8_t address)
{
    m_knownAddress = address;
    if (m_context)
        m_context->setLastI2cAddress(address);
}

void I2cBridge::readSensors(SensorDevice &device)
{
    MultiHub hub(m_session, m_accessState, m_rom, this);
    const bool scanAllTypes = m_context ? m_context->scanAllTypeSetting() : true;
    if (m_context) {
        m_context->setLastI2cAddress(-1);
        m_knownAddress = m_context->lastI2cAddress();
    }

    hub.selectChannel(0); // there may be no hub
    if (m_stopRequested) {
        hub.selectChannel(0);
        return;
    }
    int emptyChannels = 0;
    for (;;) {
        ++emptyChannels;
        const uint8_t hubChannel = hub.channel();
        SensorDevice found;
        found.key = device.key;
        found.rom = device.rom;
        found.family = device.family;
        found.name = device.name;
        found.presence = device.presence;
        for (const I2cSensorType &type : i2cSensorTypes()) {
            if (!scanAllTypes && m_knownAddress != -1 && m_knownAddress != type.traits->address)
                continue;
            Clock::processEvents();
            if (type.read(*this, found, hubChannel))
                emptyChannels = 0;
        }
        if (!found.channels.isEmpty())
            mergeChannels(device, found);

        m_scanAllChannels = m_context ? m_context->scanAllChannelSetting() : true;
        if (hub.nextChannel() < 1 || m_stopRequested)
            break;
        if (emptyChannels >= 2 && !m_scanAllChannels)
            break;
    }
    hub.selectChannel(0);
}

void I2cBridge::mergeChannels(SensorDevice &device, const SensorDevice &found)
{
    for (const SensorChannel &c : found.channels) {
        SensorChannel *match = nullptr;
        for (SensorChannel &d : device.channels) {
            if (d.i2cAddress == c.i2cAddress && d.i2cSerialHigh == c.i2cSerialHigh
                && d.i2cSerialLow == c.i2cSerialLow && d.hubChannel == c.hubChannel && d.subchannel == c.subchannel) {
                match = &d;
                break;
            }
        }
        if (!match) {
            device.channels.append(c);
            continue;
        }
        match->value = c.value;
        match->time = c.time;
        match->alarmHigh = c.alarmHigh;
        match->rangeMax = c.rangeMax;
        match->alarmLow = c.alarmLow;
        match->rangeMin = c.rangeMin;
        match->hubChannel = c.hubChannel;
        match->updated = c.updated;
        // The fresh reading's number, so it is written and announced once;
        // what the table has announced stays with the record.
        match->reading = c.reading;
    }
}
