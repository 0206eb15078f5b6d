#include "support/trafficfloor.h"

#include "bus/romcommands.h"
#include "i2c/i2csensortypes.h"
#include "model/sensortraits.h"
#include "sensors/ds18x20.h"
#include "sensors/sensor.h"
#include "sim/simbackend.h"

#include <QHash>

namespace {

// The 1-Wire timing table, µs.
const qint64 kResetUs[2] = {960, 121};
const qint64 kSlotUs[2] = {70, 10};
const int kSearchSlots = 8 + 64 * 3; // the Search ROM byte and three slots per ROM bit

const qint64 kMs = 1000;
const qint64 kBusyPollUs = 1 * kMs;
const qint64 kBeforeSearchUs = 10 * kMs;
const qint64 kBeforeRepeatSearchUs = 90 * kMs;
const int kBridgeFamily = 0x19;

const int kConvertT = 0x44;
const int kCopyScratchpad = 0x48;
const int kWriteWithStop = 0x4B;
const int kWriteNoStop = 0x5A;
const int kReadWithStop = 0x87;
const int kWriteConfiguration = 0xD2;

// A write as writeWaitUs sees it: "+" first for one without a stop, the
// address byte, the data bytes.
QByteArray writeKey(uint8_t address, const CommandWait &wait)
{
    QByteArray key = QByteArray(1, char(address)) + QByteArray::fromHex(wait.command);
    if (wait.noStop)
        key.prepend('+');
    return key;
}

// The 1-Wire driver's traits for a selected device's family; null for none.
const SensorTraits *familyTraits(int family)
{
    return family >= 0 && family <= 0xFF ? Sensor::traitsOf(uint8_t(family), 0) : nullptr;
}

} // namespace

void TrafficFloor::chargeReset()
{
    m_wireUs += kResetUs[m_overdrive];
}

void TrafficFloor::chargeSlots(int count)
{
    m_wireUs += count * kSlotUs[m_overdrive];
}

void TrafficFloor::chargeSearch()
{
    chargeReset();
    chargeSlots(kSearchSlots);
}

void TrafficFloor::addAll(const QVector<TrafficEntry> &entries)
{
    for (const TrafficEntry &entry : entries)
        add(entry);
}

void TrafficFloor::add(const TrafficEntry &e)
{
    const QString &call = e.call;
    const int arg0 = e.args.isEmpty() ? 0 : e.args.at(0);
    if (call == QLatin1String("TMAutoOverDrive")) {
        if (arg0 == 1 && e.result >= 0) {
            // Trying overdrive: a standard reset, Overdrive Skip ROM and a
            // reset at overdrive speed, then a standard reset when not every
            // device followed.
            m_overdrive = false;
            chargeReset();
            chargeSlots(8);
            m_overdrive = true;
            chargeReset();
            m_overdrive = e.result == 1;
            if (!m_overdrive)
                chargeReset();
        } else {
            m_overdrive = false;
        }
        m_lastCall = call.toLatin1();
        return;
    }
    if (call == QLatin1String("TMRom")) {
        if (arg0 != 0)
            m_family = arg0; // a selection target, not a read of the search's ROM
        return;
    }
    if (call == QLatin1String("TMOneWireLevel")) {
        if (arg0 == 0 && e.args.size() > 1)
            m_pullupArmed = e.args.at(1) == 1;
        return;
    }

    const bool wire = call == QLatin1String("TMTouchReset") || call == QLatin1String("TMTouchByte")
                      || call == QLatin1String("TMTouchBit") || call == QLatin1String("TMFirst")
                      || call == QLatin1String("TMNext") || call == QLatin1String("TMStrongAccess")
                      || call == QLatin1String("TMAccess");
    if (!wire || e.result < 0)
        return; // no traffic: not a bus call, no session, or no adapter

    if (call == QLatin1String("TMTouchByte")) {
        chargeSlots(8);
        byteSent(arg0, e.result);
    } else if (call == QLatin1String("TMTouchBit")) {
        chargeSlots(1);
        if (m_packet == Packet::Status && arg0 == 1 && e.result == 1)
            m_waitUs += kBusyPollUs; // the bridge is busy: poll again 1 ms later
    } else {
        m_packet = Packet::None;
        m_broadcast = false;
        m_afterReset = false;
        m_expectCommand = false;
        if (call == QLatin1String("TMTouchReset")) {
            chargeReset();
            m_afterReset = true;
        } else if (call == QLatin1String("TMFirst")) {
            if (m_lastCall == "TMTouchReset")
                m_waitUs += kBeforeSearchUs;
            else if (m_lastCall == "TMFirst" || m_lastCall == "TMNext")
                m_waitUs += kBeforeRepeatSearchUs;
            if (e.result >= 1)
                chargeSearch();
            else
                chargeReset();
        } else if (call == QLatin1String("TMNext")) {
            if (e.result >= 1)
                chargeSearch();
        } else if (call == QLatin1String("TMStrongAccess")) {
            if (e.result >= 1) {
                chargeSearch();
                m_expectCommand = true;
            } else {
                chargeReset();
            }
        } else if (call == QLatin1String("TMAccess")) {
            chargeReset();
            if (e.result >= 1) {
                chargeSlots(9 * 8);
                m_expectCommand = true;
            }
        }
    }
    m_lastCall = call.toLatin1();
}

void TrafficFloor::byteSent(int byte, int result)
{
    if (m_afterReset) {
        m_afterReset = false;
        m_broadcast = byte == RomCommand::kSkip;
        m_expectCommand = m_broadcast;
        return;
    }
    if (m_expectCommand) {
        m_expectCommand = false;
        m_packet = Packet::None;
        const SensorTraits *traits = m_broadcast ? nullptr : familyTraits(m_family);
        if (byte == kConvertT && m_pullupArmed) {
            // Only the thermometers broadcast their conversion.
            m_waitUs += (m_broadcast ? Ds18x20::kConversionMs : traits ? traits->conversionMs : 0) * kMs;
        } else if (byte == kCopyScratchpad && traits && traits->copyMs > 0) {
            m_waitUs += traits->copyMs * kMs;
        } else if (traits && traits->address == 0) {
            // A 1-Wire chip's own wait after a command (a DS2438's
            // conversions, a DS2450's), as its traits declare it.
            for (int i = 0; i < traits->waitCount; ++i) {
                if (QByteArray::fromHex(traits->waits[i].command) == QByteArray(1, char(byte)))
                    m_waitUs += traits->waits[i].ms * kMs;
            }
        } else if (byte == kWriteConfiguration) {
            m_packet = Packet::Command; // one configuration byte follows
        } else if (!m_broadcast && m_family == kBridgeFamily
                   && (byte == kWriteWithStop || byte == kWriteNoStop || byte == kReadWithStop)) {
            m_packet = byte == kReadWithStop ? Packet::Read : Packet::Write;
            m_bytes = QByteArray(1, char(byte));
        }
        return;
    }
    switch (m_packet) {
    case Packet::None:
        break;
    case Packet::Command:
        m_packet = Packet::None;
        break;
    case Packet::Write:
    case Packet::Read: {
        m_bytes.append(char(byte));
        // command, address, length, data (writes only), CRC-16
        const int length = m_bytes.size() >= 3 ? uint8_t(m_bytes.at(2)) : -1;
        const int size = m_packet == Packet::Write ? 3 + length + 2 : 5;
        if (length >= 0 && m_bytes.size() == size) {
            m_answerLeft = m_packet == Packet::Write ? 2 : 1;
            m_answer.clear();
            m_packet = Packet::Status;
        }
        break;
    }
    case Packet::Status:
    case Packet::Data:
        m_answer.append(char(result & 0xFF));
        if (--m_answerLeft > 0)
            break;
        packetDone();
        break;
    }
}

// The answer to the packet in m_bytes is in m_answer.
void TrafficFloor::packetDone()
{
    const bool isRead = uint8_t(m_bytes.at(0)) == kReadWithStop;
    if (!isRead) {
        m_packet = Packet::None;
        if (m_answer.count('\0') != m_answer.size())
            return; // refused: the drivers give up the attempt without waiting
        m_lastWrite = m_bytes.mid(1, 1) + m_bytes.mid(3, uint8_t(m_bytes.at(2)));
        if (uint8_t(m_bytes.at(0)) == kWriteNoStop)
            m_lastWrite.prepend('+'); // no stop: a read follows with a repeated start
        m_waitUs += writeWaitUs();
        return;
    }
    if (m_packet == Packet::Status) {
        if (m_answer.at(0) != 0) {
            m_packet = Packet::None;
            return;
        }
        m_answerLeft = uint8_t(m_bytes.at(2));
        m_answer.clear();
        m_packet = Packet::Data;
        return;
    }
    m_packet = Packet::None;
    // A status poll's answer other than 1 (not ready) is waited out before asking again.
    if (m_answer.size() != 2 || (uint8_t(m_answer.at(0)) << 8 | uint8_t(m_answer.at(1))) == 1)
        return;
    for (const I2cSensorType &type : i2cSensorTypes()) {
        const SensorTraits &t = *type.traits;
        if (t.notReady.command && uint8_t(m_bytes.at(1)) == (t.address | 1)
            && m_lastWrite == writeKey(t.address, t.notReady)) {
            m_waitUs += t.notReady.ms * kMs;
            return;
        }
    }
}

// The wait a sensor driver makes after this write was taken; its address
// byte and data are in m_lastWrite ("+" first for a write without a stop).
qint64 TrafficFloor::writeWaitUs() const
{
    static const QHash<QByteArray, int> waits = [] {
        QHash<QByteArray, int> byWrite;
        for (const I2cSensorType &type : i2cSensorTypes()) {
            const SensorTraits &t = *type.traits;
            for (int i = 0; i < t.waitCount; ++i) {
                if (!byWrite.contains(writeKey(t.address, t.waits[i])))
                    byWrite.insert(writeKey(t.address, t.waits[i]), t.waits[i].ms);
            }
        }
        return byWrite;
    }();
    return waits.value(m_lastWrite, 0) * kMs;
}
