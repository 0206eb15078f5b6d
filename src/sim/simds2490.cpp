#include "sim/simds2490.h"

#include "base/clock.h"
#include "sim/simbus.h"

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
const uint16_t kCommBitIo = 0x0020, kCommReset = 0x0042, kCommByteIo = 0x0052, kCommBlockIo = 0x0074,
               kCommSearch = 0x00F4;
const uint16_t kImmediate = 0x0001, kBit3 = 0x0008, kRst = 0x0100, kIcp = 0x0200, kNtf = 0x0400, kSpu = 0x1000,
               kRts = 0x4000;
const uint8_t kStSpua = 0x01, kStHalt = 0x10, kStIdle = 0x20, kStEp0f = 0x80;
const uint8_t kRrNrs = 0x01, kRrSh = 0x02, kRrEos = 0x80;
const uint8_t kPulseSpue = 0x02;

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
    const bool feedback = !(value & kIcp);
    const bool always = (value & kNtf) != 0;
    auto result = [&](uint8_t code) {
        if (feedback && (code != 0 || always))
            m_results.append(char(code));
    };
    const bool pullup = (value & kSpu) && m_pulseEnabled;
    if (command != kCommReset)
        endPullup();
    switch (command) {
    case kCommReset: {
        endPullup();
        if ((value & kBit3) && m_speedChangeEnabled) {
            m_speed = index & 0xFF;
            m_bus->setOverdriveTiming(m_speed == 2);
        }
        if (m_shorted) {
            result(kRrSh);
            return true;
        }
        const int presence = m_bus->reset();
        result(presence > 0 ? 0x00 : kRrNrs);
        return true;
    }
    case kCommBitIo: {
        const int bit = m_bus->touchBit((value & kBit3) ? 1 : 0);
        if (feedback)
            m_in.append(char(bit < 0 ? 0 : bit));
        result(0);
        return true;
    }
    case kCommByteIo: {
        if (pullup)
            m_bus->setStrongPullup(true);
        const int byte = m_bus->touchByte(index & 0xFF);
        m_in.append(char(byte));
        if (pullup)
            startPullup();
        result(0);
        return true;
    }
    case kCommBlockIo: {
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
        result(0);
        return true;
    }
    case kCommSearch: {
        // Search only (SM), one device, starting at the ROM in EP2: the pass
        // takes that ROM's bit at every discrepancy. With RTS, when more
        // devices follow in the search order, eight bytes of discrepancy
        // information follow the ROM, in the shape setSearchTail chose.
        if (!(value & kBit3) || m_out.size() < 8 || ((index >> 8) & 0xFF) != 1)
            return false;
        uint8_t path[8];
        std::memcpy(path, m_out.constData(), 8);
        m_out.remove(0, 8);
        if (value & kRst) {
            endPullup();
            if (m_shorted) {
                result(kRrSh);
                return true;
            }
            if (m_bus->reset() <= 0) {
                result(kRrNrs);
                return true;
            }
        }
        m_bus->touchByte(index & 0xFF);
        uint8_t rom[8], discrepancies[8];
        if (m_bus->searchTriplets(path, rom, discrepancies) <= 0) {
            result(kRrEos);
            return true;
        }
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
        result(0);
        return true;
    }
    default:
        return false;
    }
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
    const QByteArray data = m_in.left(length);
    m_in.remove(0, data.size());
    return data;
}

QByteArray SimDs2490::statusPacket()
{
    frame();
    m_requests << QStringLiteral("STATUS");
    QByteArray packet(16, 0);
    packet[0] = char(m_pulseEnabled ? kPulseSpue : 0);
    packet[1] = char(m_speed);
    packet[2] = char(m_pullupDuration);
    uint8_t flags = 0;
    if (m_pullup)
        flags |= kStSpua;
    else if (!m_halted)
        flags |= kStIdle;
    if (m_halted)
        flags |= kStHalt;
    if (m_ep0Full)
        flags |= kStEp0f;
    packet[8] = char(flags);
    packet[13] = char(qMin(m_in.size(), 255));
    packet += m_results.left(16);
    m_results.remove(0, qMin(m_results.size(), 16));
    return packet;
}
