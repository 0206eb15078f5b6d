#include "sim/simds2490.h"

#include "base/clock.h"
#include "sim/simbus.h"

#include <algorithm>
#include <cstring>

namespace {

// The codes as the DS2490 defines them (see bus/ds2490.cpp for their meaning).
const uint8_t kVendorOut = 0x40;
const uint8_t kControlCmd = 0x00, kCommCmd = 0x01, kModeCmd = 0x02;
const uint16_t kCtlResetDevice = 0x0000, kCtlStartExe = 0x0001, kCtlResumeExe = 0x0002, kCtlHaltIdle = 0x0003,
               kCtlHaltDone = 0x0004, kCtlFlushComm = 0x0007, kCtlFlushRcv = 0x0008, kCtlFlushXmt = 0x0009;
const uint16_t kModPulseEnable = 0x0000, kModSpeedChange = 0x0001, kModSpeed = 0x0002, kModPullupDuration = 0x0003,
               kModSlew = 0x0004, kModProgDuration = 0x0005, kModWrite1 = 0x0006, kModDsow0 = 0x0007;
const uint16_t kCommandMask = 0x00F6; // byte 1 without the IM and D/SE/SM bits
const uint16_t kCommSetDuration = 0x0012, kCommBitIo = 0x0020, kCommPulse = 0x0030, kCommReset = 0x0042,
               kCommByteIo = 0x0052, kCommMatchAccess = 0x0064, kCommBlockIo = 0x0074, kCommSearch = 0x00F4;
const uint16_t kImmediate = 0x0001, kBit3 = 0x0008, kRst = 0x0100, kIcp = 0x0200, kNtf = 0x0400, kSpu = 0x1000,
               kRts = 0x4000;
const uint8_t kStSpua = 0x01, kStHalt = 0x10, kStIdle = 0x20, kStEp0f = 0x80;
const uint8_t kRrNrs = 0x01, kRrSh = 0x02, kRrEos = 0x80, kRrDetect = 0xA5;
// The MODE command's parameter has SPUE in bit 1; the status register's
// enable flags have it in bit 0 (and SPCE in bit 2).
const uint8_t kPulseSpue = 0x02;
const uint8_t kEnSpue = 0x01, kEnSpce = 0x04;

// One USB frame.
const qint64 kFrameUs = 1000;
// The strong pull-up duration unit.
const qint64 kPullupUnitUs = 16000;

QString hex4(uint16_t v)
{
    return QStringLiteral("0x%1").arg(QString::number(v, 16).toUpper().rightJustified(4, QLatin1Char('0')));
}

} // namespace

void SimDs2490::frame()
{
    if (m_frameTime)
        Clock::spendUs(kFrameUs);
}

SimDs2490::SimDs2490(SimBus *bus)
    : m_bus(bus)
{
    powerOn();
}

void SimDs2490::powerOn()
{
    m_out.clear();
    m_in.clear();
    m_results.clear();
    m_pulseEnabled = false;
    m_speedChangeEnabled = false;
    m_speed = 0;
    m_pullupDuration = 0x20;
    endPullup();
    m_halted = false;
    m_ep0Full = false;
    m_busyUs = 0;
    m_bus->setOverdriveTiming(false);
}

void SimDs2490::startPullup()
{
    m_pullup = true;
    if (m_pullupDuration != 0) {
        // A pull-up of a set duration ends by itself.
        Clock::spendUs(m_pullupDuration * kPullupUnitUs);
        endPullup();
    }
}

void SimDs2490::endPullup()
{
    if (m_pullup || m_bus->strongPullupOn())
        m_bus->setStrongPullup(false);
    m_pullup = false;
}

bool SimDs2490::control(uint8_t requestType, uint8_t request, uint16_t value, uint16_t index)
{
    frame();
    const char *group = request == kControlCmd ? "CONTROL" : request == kCommCmd ? "COMM" : request == kModeCmd ? "MODE" : "?";
    m_requests << QStringLiteral("%1 %2 %3").arg(QLatin1String(group), hex4(value), hex4(index));
    if (requestType != kVendorOut)
        return false;
    if (request == kControlCmd) {
        switch (value) {
        case kCtlResetDevice:
            powerOn();
            return true;
        case kCtlHaltIdle:
        case kCtlHaltDone:
            // Also what ends an infinite strong pull-up.
            if (m_pullup) {
                m_lingering = m_lingerPolls;
                m_lingerPolls = 0;
            }
            endPullup();
            m_halted = true;
            return true;
        case kCtlStartExe:
        case kCtlResumeExe:
            m_halted = false;
            return true;
        case kCtlFlushComm:
            return true;
        case kCtlFlushRcv:
            m_in.clear();
            return true;
        case kCtlFlushXmt:
            m_out.clear();
            return true;
        default:
            return false;
        }
    }
    if (request == kModeCmd) {
        switch (value) {
        case kModPulseEnable:
            m_pulseEnabled = (index & kPulseSpue) != 0;
            return true;
        case kModSpeedChange:
            m_speedChangeEnabled = index != 0;
            return true;
        case kModSpeed:
            m_speed = index & 0xFF;
            m_bus->setOverdriveTiming(m_speed == 2);
            return true;
        case kModPullupDuration:
            m_pullupDuration = index & 0xFF;
            return true;
        case kModSlew:
        case kModProgDuration:
        case kModWrite1:
        case kModDsow0:
            return true;
        default:
            return false;
        }
    }
    if (request == kCommCmd)
        return comm(value, index);
    return false;
}

bool SimDs2490::comm(uint16_t value, uint16_t index)
{
    // Only immediate commands; anything running first ends its pull-up.
    if (!(value & kImmediate) || m_halted)
        return false;
    const uint16_t command = value & kCommandMask;
    if (command != kCommReset)
        endPullup();
    // The chip is busy for the command's bus time: the status says so
    // until that much time has passed in polls.
    const qint64 startUs = Clock::tickUs();
    bool taken = false;
    switch (command) {
    case kCommSetDuration:
        // TYPE (bit 3) 0: the strong pull-up's duration; 1: the programming pulse's.
        if (!(value & kBit3))
            m_pullupDuration = index & 0xFF;
        result(value, 0);
        taken = true;
        break;
    case kCommPulse:
        // A strong pull-up of the set duration (TYPE 0), with SPUE set.
        if (!(value & kBit3) && m_pulseEnabled) {
            m_bus->setStrongPullup(true);
            startPullup();
        }
        result(value, 0);
        taken = true;
        break;
    case kCommMatchAccess:
        taken = commMatchAccess(value, index);
        break;
    case kCommReset:
        taken = commReset(value, index);
        break;
    case kCommBitIo:
        taken = commBitIo(value);
        break;
    case kCommByteIo:
        taken = commByteIo(value, index);
        break;
    case kCommBlockIo:
        taken = commBlockIo(value, index);
        break;
    case kCommSearch:
        taken = (value & kBit3) ? commSearch(value, index) : commStrongAccess(value, index);
        break;
    default:
        break;
    }
    m_busyUs = Clock::tickUs() - startUs;
    if (m_deviceArrives) {
        // The device-detect code joins the result bytes after this command's.
        m_deviceArrives = false;
        m_results.append(char(kRrDetect));
    }
    return taken;
}

void SimDs2490::result(uint16_t value, uint8_t code)
{
    const bool feedback = !(value & kIcp);
    if (feedback && (code != 0 || (value & kNtf)))
        m_results.append(char(code));
}

bool SimDs2490::pullupAsked(uint16_t value) const
{
    return (value & kSpu) && m_pulseEnabled;
}

bool SimDs2490::commReset(uint16_t value, uint16_t index)
{
    endPullup();
    if ((value & kBit3) && m_speedChangeEnabled) {
        m_speed = index & 0xFF;
        m_bus->setOverdriveTiming(m_speed == 2);
    }
    if (m_shorted) {
        result(value, kRrSh);
        return true;
    }
    const int presence = m_bus->reset();
    result(value, presence > 0 ? 0x00 : kRrNrs);
    return true;
}

// Reset, then Match ROM (or, with the index's command byte, another ROM
// command) and the ROM from EP2.
bool SimDs2490::commMatchAccess(uint16_t value, uint16_t index)
{
    if (m_out.size() < 8)
        return false;
    if (value & kRst) {
        if (m_bus->reset() <= 0) {
            m_out.remove(0, 8);
            result(value, kRrNrs);
            return true;
        }
    }
    m_bus->touchByte(index & 0xFF);
    for (int i = 0; i < 8; ++i)
        m_bus->touchByte(uint8_t(m_out.at(i)));
    m_out.remove(0, 8);
    result(value, 0);
    return true;
}

bool SimDs2490::commBitIo(uint16_t value)
{
    const int bit = m_bus->touchBit((value & kBit3) ? 1 : 0);
    if (!(value & kIcp))
        m_in.append(char(bit < 0 ? 0 : bit));
    result(value, 0);
    return true;
}

bool SimDs2490::commByteIo(uint16_t value, uint16_t index)
{
    const bool pullup = pullupAsked(value);
    if (pullup)
        m_bus->setStrongPullup(true);
    const int byte = m_bus->touchByte(index & 0xFF);
    m_in.append(char(byte));
    if (pullup)
        startPullup();
    result(value, 0);
    return true;
}

bool SimDs2490::commBlockIo(uint16_t value, uint16_t index)
{
    const bool pullup = pullupAsked(value);
    if (value & kRst)
        m_bus->reset();
    const int length = index;
    if (length > m_out.size())
        return false;
    for (int i = 0; i < length; ++i) {
        if (pullup && i == length - 1)
            m_bus->setStrongPullup(true);
        m_in.append(char(m_bus->touchByte(uint8_t(m_out.at(i)))));
    }
    m_out.remove(0, length);
    if (pullup)
        startPullup();
    result(value, 0);
    return true;
}

int SimDs2490::searchAlong(uint16_t value, uint16_t index, uint8_t rom[8], uint8_t discrepancies[8])
{
    std::memcpy(rom, m_out.constData(), 8);
    m_out.remove(0, 8);
    if (value & kRst) {
        endPullup();
        if (m_shorted) {
            result(value, kRrSh);
            return 0;
        }
        if (m_bus->reset() <= 0) {
            result(value, kRrNrs);
            return 0;
        }
    }
    m_bus->touchByte(index & 0xFF);
    const uint8_t *path = rom;
    uint8_t pathCopy[8];
    std::memcpy(pathCopy, path, 8);
    if (m_bus->searchTriplets(pathCopy, rom, discrepancies) <= 0) {
        result(value, kRrEos);
        return 0;
    }
    return 1;
}

// Search only (SM), one device, starting at the ROM in EP2: the pass takes
// that ROM's bit at every discrepancy. With RTS, when more devices follow in
// the search order, eight bytes of discrepancy information follow the ROM,
// in the shape setSearchTail chose.
bool SimDs2490::commSearch(uint16_t value, uint16_t index)
{
    if (m_out.size() < 8 || ((index >> 8) & 0xFF) != 1)
        return false;
    uint8_t rom[8], discrepancies[8];
    if (searchAlong(value, index, rom, discrepancies) <= 0)
        return true;
    m_in.append(reinterpret_cast<const char *>(rom), 8);
    int lastZero = -1;
    for (int bit = 0; bit < 64; ++bit) {
        if (((discrepancies[bit / 8] >> (bit % 8)) & 1) && !((rom[bit / 8] >> (bit % 8)) & 1))
            lastZero = bit;
    }
    if ((value & kRts) && lastZero >= 0) {
        uint8_t tail[8];
        switch (m_searchTail) {
        case SearchTail::NextStart:
            std::memcpy(tail, rom, 8);
            tail[lastZero / 8] |= uint8_t(1 << (lastZero % 8));
            for (int bit = lastZero + 1; bit < 64; ++bit)
                tail[bit / 8] &= uint8_t(~(1 << (bit % 8)));
            break;
        case SearchTail::Discrepancies:
            std::memcpy(tail, discrepancies, 8);
            break;
        case SearchTail::Unreadable:
            std::memcpy(tail, rom, 8);
            break;
        }
        m_in.append(reinterpret_cast<const char *>(tail), 8);
    }
    result(value, 0);
    return true;
}

// Strong access (SM = 0): the search runs along the ROM in EP2 and leaves
// the device it ends on selected, as the last device of any search pass
// is; nothing goes to EP3. A pass that ends on another ROM (the device is
// not there) reports EOS, as this model reads the datasheet.
bool SimDs2490::commStrongAccess(uint16_t value, uint16_t index)
{
    if (m_out.size() < 8)
        return false;
    const QByteArray wanted = m_out.left(8);
    uint8_t rom[8], discrepancies[8];
    if (searchAlong(value, index, rom, discrepancies) <= 0)
        return true;
    result(value, QByteArray(reinterpret_cast<const char *>(rom), 8) == wanted ? 0 : kRrEos);
    return true;
}

void SimDs2490::bulkOut(const QByteArray &data)
{
    frame();
    m_requests << QStringLiteral("OUT %1").arg(data.size());
    m_out += data;
}

QByteArray SimDs2490::bulkIn(int length)
{
    frame();
    m_requests << QStringLiteral("IN %1").arg(length);
    // Before the command's bytes are there the IN transfer waits for them
    // (the chip NAKs meanwhile: hosts that drive real adapters read EP3 at
    // once after a byte command). A zero-length packet instead is a fault.
    if (m_zeroLength > 0) {
        --m_zeroLength;
        return QByteArray();
    }
    if (m_busyUs > 0) {
        Clock::spendUs(m_busyUs);
        m_busyUs = 0;
    }
    QByteArray data = m_in.left(length);
    m_in.remove(0, data.size());
    if (!data.isEmpty() && m_corruptIn) {
        data[0] = char(uint8_t(data.at(0)) ^ m_corruptIn);
        m_corruptIn = 0;
    }
    return data;
}

QByteArray SimDs2490::statusPacket()
{
    // A poll while a command runs passes within the bus time already charged.
    const bool busy = m_busyUs > 0;
    if (busy)
        m_busyUs = std::max<qint64>(0, m_busyUs - kFrameUs);
    else
        frame();
    m_requests << QStringLiteral("STATUS");
    QByteArray packet(16, 0);
    // Enable flags: SPUE bit 0, PRGE bit 1, SPCE bit 2.
    packet[0] = char((m_pulseEnabled ? kEnSpue : 0) | (m_speedChangeEnabled ? kEnSpce : 0));
    packet[1] = char(m_speed);
    packet[2] = char(m_pullupDuration);
    uint8_t flags = 0;
    if (m_pullup)
        flags |= kStSpua;
    else if (!m_halted && m_busyUs == 0)
        flags |= kStIdle;
    if (m_lingering > 0) {
        --m_lingering;
        flags |= kStSpua;
    }
    if (m_halted)
        flags |= kStHalt;
    if (m_ep0Full)
        flags |= kStEp0f;
    packet[8] = char(flags);
    if (m_busyUs > 0)
        return packet; // no data and no results before the command is done
    packet[13] = char(qMin(m_in.size(), 255));
    packet += m_results.left(16);
    m_results.remove(0, qMin(m_results.size(), 16));
    return packet;
}
