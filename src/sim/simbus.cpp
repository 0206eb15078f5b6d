#include "sim/simbus.h"

#include "platform/clock.h"
#include "sim/simdevice.h"

namespace {

// Times from the 1-Wire timing tables (µs).
const int kResetStandardUs = 960;
const int kResetOverdriveUs = 121;
const int kSlotStandardUs = 70;
const int kSlotOverdriveUs = 10;

const uint8_t kReadRom = 0x33;
const uint8_t kMatchRom = 0x55;
const uint8_t kSkipRom = 0xCC;
const uint8_t kSearchRom = 0xF0;
const uint8_t kAlarmSearch = 0xEC;
const uint8_t kOverdriveSkip = 0x3C;
const uint8_t kOverdriveMatch = 0x69;
const uint8_t kResume = 0xA5;

} // namespace

SimBus::SimBus() = default;
SimBus::~SimBus() = default;

SimDevice *SimBus::addDevice(std::unique_ptr<SimDevice> device)
{
    Slot slot;
    slot.device = std::move(device);
    m_slots.push_back(std::move(slot));
    return m_slots.back().device.get();
}

void SimBus::removeDevice(int index)
{
    if (index >= 0 && index < deviceCount())
        m_slots.erase(m_slots.begin() + index);
}

SimDevice *SimBus::device(int index) const
{
    return (index >= 0 && index < deviceCount()) ? m_slots[size_t(index)].device.get() : nullptr;
}

SimDevice *SimBus::findDevice(const QByteArray &rom) const
{
    for (const Slot &slot : m_slots) {
        if (slot.device->rom() == rom)
            return slot.device.get();
    }
    return nullptr;
}

SimBus::Slot *SimBus::slotOf(SimDevice *device)
{
    for (Slot &slot : m_slots) {
        if (slot.device.get() == device)
            return &slot;
    }
    return nullptr;
}

void SimBus::setDefaultPort(bool configured, short portNum, short portType)
{
    m_hasDefaultPort = configured;
    m_portNum = portNum;
    m_portType = portType;
}

void SimBus::hideFromSearches(SimDevice *device, int count)
{
    if (Slot *slot = slotOf(device))
        slot->hiddenSearches = count;
}

void SimBus::beginSearchPass()
{
    for (Slot &slot : m_slots) {
        slot.hiddenNow = slot.hiddenSearches > 0;
        if (slot.hiddenNow)
            --slot.hiddenSearches;
    }
}

void SimBus::corruptReads(SimDevice *device, int count, uint8_t xorMask)
{
    if (Slot *slot = slotOf(device)) {
        slot->corruptCount = count;
        slot->corruptMask = xorMask;
    }
}

bool SimBus::defaultPort(short *portNum, short *portType) const
{
    if (!m_hasDefaultPort)
        return false;
    *portNum = m_portNum;
    *portType = m_portType;
    return true;
}

bool SimBus::setUp()
{
    return m_connected && !m_setupFails;
}

qint64 SimBus::slotUs(bool overdrive)
{
    return overdrive ? kSlotOverdriveUs : kSlotStandardUs;
}

qint64 SimBus::resetUs(bool overdrive)
{
    return overdrive ? kResetOverdriveUs : kResetStandardUs;
}

void SimBus::spendSlots(int slots)
{
    Clock::spendUs(qint64(slots) * slotUs(m_overdrive));
}

int SimBus::reset()
{
    if (!m_connected)
        return -1;
    Clock::spendUs(resetUs(m_overdrive));
    setStrongPullup(false);
    bool presence = false;
    for (Slot &slot : m_slots) {
        slot.device->onReset();
        if (slot.device->silent()) {
            slot.state = RomState::Idle;
            continue;
        }
        slot.state = RomState::RomCommand;
        slot.command = 0;
        slot.commandBits = 0;
        slot.bitIndex = 0;
        slot.searchPhase = 0;
        presence = true;
    }
    return presence ? 1 : 0;
}

bool SimBus::inRomLayer() const
{
    for (const Slot &slot : m_slots) {
        if (slot.active() && slot.state != RomState::Selected)
            return true;
    }
    return false;
}

void SimBus::select(Slot &slot, bool resumable)
{
    slot.state = RomState::Selected;
    if (!resumable)
        return;
    for (Slot &other : m_slots)
        other.resumeFlag = false;
    slot.resumeFlag = slot.device->supportsResume();
}

void SimBus::romCommand(Slot &slot)
{
    SimDevice *device = slot.device.get();
    const bool hidden = m_searching && slot.hiddenNow;
    slot.bitIndex = 0;
    slot.searchPhase = 0;
    switch (slot.command) {
    case kReadRom:
        slot.state = RomState::ReadRom;
        break;
    case kMatchRom:
        slot.state = RomState::MatchRom;
        slot.overdriveMatch = false;
        break;
    case kOverdriveMatch:
        slot.state = device->supportsOverdrive() ? RomState::MatchRom : RomState::Idle;
        slot.overdriveMatch = true;
        break;
    case kSkipRom:
        slot.resumeFlag = false;
        slot.state = RomState::Selected;
        break;
    case kOverdriveSkip:
        slot.resumeFlag = false;
        slot.state = device->supportsOverdrive() ? RomState::Selected : RomState::Idle;
        break;
    case kSearchRom:
        slot.state = hidden ? RomState::Idle : RomState::Search;
        break;
    case kAlarmSearch:
        slot.state = (!hidden && device->alarmCondition()) ? RomState::Search : RomState::Idle;
        break;
    case kResume:
        slot.state = (slot.resumeFlag && device->supportsResume()) ? RomState::Selected : RomState::Idle;
        break;
    default:
        slot.state = RomState::Idle;
        break;
    }
}

// One time slot of the ROM layer: the devices that send drive the line
// (wired-AND), then every device that listens samples it.
int SimBus::romLayerBit(int bit)
{
    int line = bit ? 1 : 0;
    for (const Slot &slot : m_slots) {
        if (!slot.active())
            continue;
        if (slot.state == RomState::ReadRom)
            line &= slot.device->romBit(slot.bitIndex);
        else if (slot.state == RomState::Search && slot.searchPhase == 0)
            line &= slot.device->romBit(slot.bitIndex);
        else if (slot.state == RomState::Search && slot.searchPhase == 1)
            line &= 1 - slot.device->romBit(slot.bitIndex);
    }
    for (Slot &slot : m_slots) {
        if (!slot.active())
            continue;
        switch (slot.state) {
        case RomState::RomCommand:
            slot.command = uint8_t(slot.command | (line << slot.commandBits));
            if (++slot.commandBits == 8)
                romCommand(slot);
            break;
        case RomState::ReadRom:
            if (++slot.bitIndex == 64)
                select(slot, true);
            break;
        case RomState::MatchRom:
            if (line != slot.device->romBit(slot.bitIndex))
                slot.state = RomState::Idle;
            else if (++slot.bitIndex == 64)
                select(slot, true);
            break;
        case RomState::Search:
            if (slot.searchPhase < 2) {
                ++slot.searchPhase;
            } else if (line != slot.device->romBit(slot.bitIndex)) {
                slot.state = RomState::Idle;
            } else {
                slot.searchPhase = 0;
                if (++slot.bitIndex == 64)
                    select(slot, true);
            }
            break;
        default:
            break;
        }
    }
    return line;
}

int SimBus::touchBit(int bit)
{
    if (!m_connected)
        return -1;
    spendSlots(1);
    if (inRomLayer())
        return romLayerBit(bit);
    int line = bit ? 1 : 0;
    for (Slot &slot : m_slots) {
        if (slot.active() && slot.state == RomState::Selected)
            line &= slot.device->functionBit(bit ? 1 : 0) ? 1 : 0;
    }
    return line;
}

int SimBus::touchByte(int byte)
{
    if (!m_connected)
        return -1;
    spendSlots(8);
    const uint8_t out = uint8_t(byte);
    int line = 0;
    if (inRomLayer()) {
        for (int i = 0; i < 8; ++i)
            line |= romLayerBit((out >> i) & 1) << i;
    } else {
        line = out;
        for (Slot &slot : m_slots) {
            if (!slot.active() || slot.state != RomState::Selected)
                continue;
            uint8_t driven = slot.device->functionByte(out);
            if (out == 0xFF && slot.corruptCount > 0) {
                driven ^= slot.corruptMask;
                --slot.corruptCount;
            }
            line &= driven;
        }
    }
    if (m_strongPullupArmed && !m_strongPullup) {
        m_strongPullup = true;
        for (Slot &slot : m_slots) {
            if (slot.active())
                slot.device->onStrongPullup(true);
        }
    }
    return line;
}

bool SimBus::setOverdrive(bool on)
{
    if (!on) {
        m_overdrive = false;
        return true;
    }
    if (!m_connected || !m_overdriveCapable)
        return false;
    for (const Slot &slot : m_slots) {
        if (!slot.device->silent() && !slot.device->supportsOverdrive())
            return false;
    }
    m_overdrive = true;
    return true;
}

void SimBus::setStrongPullup(bool armed)
{
    m_strongPullupArmed = armed;
    if (!armed && m_strongPullup) {
        m_strongPullup = false;
        for (Slot &slot : m_slots) {
            if (slot.device)
                slot.device->onStrongPullup(false);
        }
    }
}
