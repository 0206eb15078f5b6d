#include "sim/simbus.h"

#include "base/clock.h"
#include "bus/romcommands.h"
#include "sim/simdevice.h"

namespace {

// Times from the 1-Wire timing tables (µs).
const int kResetStandardUs = 960;
const int kResetOverdriveUs = 121;
const int kSlotStandardUs = 70;
const int kSlotOverdriveUs = 10;

} // namespace

SimBus::SimBus() = default;
SimBus::~SimBus() = default;

SimDevice *SimBus::addDevice(std::unique_ptr<SimDevice> device)
{
    Slot slot;
    slot.device = std::move(device);
    for (int i = 0; i < 64; ++i)
        slot.romBits |= uint64_t(slot.device->romBit(i)) << i;
    m_slots.push_back(std::move(slot));
    return m_slots.back().device.get();
}

void SimBus::removeDevice(int index)
{
    if (index < 0 || index >= deviceCount())
        return;
    m_slots.erase(m_slots.begin() + index);
    std::vector<int> taking;
    for (int i : m_taking) {
        if (i != index)
            taking.push_back(i > index ? i - 1 : i);
    }
    m_taking = taking;
    if (m_resumeSlot == index)
        m_resumeSlot = -1;
    else if (m_resumeSlot > index)
        --m_resumeSlot;
    settle();
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

bool SimBus::followsOverdrive() const
{
    if (!m_connected || !m_overdriveCapable)
        return false;
    for (const Slot &slot : m_slots) {
        if (!slot.device->silent() && !slot.device->supportsOverdrive())
            return false;
    }
    return true;
}

int SimBus::reset()
{
    if (m_overdrive && !followsOverdrive()) {
        // A device left at standard speed takes the short pulse for a time
        // slot and answers out of time: the presence detect sees nothing,
        // and the devices stay where they were, at standard speed.
        Clock::spendUs(resetUs(true));
        m_overdrive = false;
        return m_connected ? 0 : -1;
    }
    if (!m_connected)
        return -1;
    Clock::spendUs(resetUs(m_overdrive));
    setStrongPullup(false);
    m_taking.clear();
    for (int i = 0; i < deviceCount(); ++i) {
        Slot &slot = m_slots[size_t(i)];
        slot.device->onReset();
        if (slot.device->silent()) {
            slot.state = RomState::Idle;
            continue;
        }
        slot.state = RomState::RomCommand;
        slot.bitIndex = 0;
        slot.searchPhase = 0;
        m_taking.push_back(i);
    }
    m_romLayerCount = int(m_taking.size());
    m_commandPending = true;
    m_command = 0;
    m_commandBits = 0;
    return m_taking.empty() ? 0 : 1;
}

void SimBus::settle()
{
    size_t kept = 0;
    int romLayer = 0;
    for (const int index : m_taking) {
        const RomState state = m_slots[size_t(index)].state;
        if (state == RomState::Idle)
            continue;
        romLayer += state != RomState::Selected ? 1 : 0;
        m_taking[kept++] = index;
    }
    m_taking.resize(kept);
    m_romLayerCount = romLayer;
}

void SimBus::select(int index, bool resumable)
{
    Slot &slot = m_slots[size_t(index)];
    slot.state = RomState::Selected;
    if (resumable)
        m_resumeSlot = slot.device->supportsResume() ? index : -1;
}

void SimBus::romCommand(int index, uint8_t command)
{
    Slot &slot = m_slots[size_t(index)];
    SimDevice *device = slot.device.get();
    const bool hidden = m_searching && slot.hiddenNow;
    slot.bitIndex = 0;
    slot.searchPhase = 0;
    switch (command) {
    case RomCommand::kRead:
        slot.state = RomState::ReadRom;
        break;
    case RomCommand::kMatch:
        slot.state = RomState::MatchRom;
        slot.overdriveMatch = false;
        break;
    case RomCommand::kOverdriveMatch:
        slot.state = device->supportsOverdrive() ? RomState::MatchRom : RomState::Idle;
        slot.overdriveMatch = true;
        break;
    case RomCommand::kSkip:
        if (m_resumeSlot == index)
            m_resumeSlot = -1;
        slot.state = RomState::Selected;
        break;
    case RomCommand::kOverdriveSkip:
        if (m_resumeSlot == index)
            m_resumeSlot = -1;
        slot.state = device->supportsOverdrive() ? RomState::Selected : RomState::Idle;
        break;
    case RomCommand::kSearch:
        slot.state = hidden ? RomState::Idle : RomState::Search;
        break;
    case RomCommand::kAlarmSearch:
        slot.state = (!hidden && device->alarmCondition()) ? RomState::Search : RomState::Idle;
        break;
    case RomCommand::kResume:
        slot.state = (m_resumeSlot == index && device->supportsResume()) ? RomState::Selected : RomState::Idle;
        break;
    default:
        slot.state = RomState::Idle;
        break;
    }
}

// One time slot of the ROM layer: the devices that send drive the line
// (wired-AND), then every device that listens samples it. Only the devices
// still taking part are visited.
int SimBus::romLayerBit(int bit)
{
    int line = bit ? 1 : 0;
    if (m_commandPending) {
        // Every device taking part is still hearing the ROM command; none
        // drives the line, so all of them receive the same bits.
        m_command = uint8_t(m_command | (line << m_commandBits));
        if (++m_commandBits == 8) {
            m_commandPending = false;
            for (const int index : m_taking)
                romCommand(index, m_command);
            settle();
        }
        return line;
    }
    for (const int index : m_taking) {
        const Slot &slot = m_slots[size_t(index)];
        if (slot.state == RomState::ReadRom)
            line &= slot.romBit(slot.bitIndex);
        else if (slot.state == RomState::Search && slot.searchPhase == 0)
            line &= slot.romBit(slot.bitIndex);
        else if (slot.state == RomState::Search && slot.searchPhase == 1)
            line &= 1 - slot.romBit(slot.bitIndex);
    }
    // Every device samples the line; those that drop out leave m_taking.
    size_t kept = 0;
    int romLayer = 0;
    for (const int index : m_taking) {
        Slot &slot = m_slots[size_t(index)];
        switch (slot.state) {
        case RomState::ReadRom:
            if (++slot.bitIndex == 64)
                select(index, true);
            break;
        case RomState::MatchRom:
            if (line != slot.romBit(slot.bitIndex))
                slot.state = RomState::Idle;
            else if (++slot.bitIndex == 64)
                select(index, true);
            break;
        case RomState::Search:
            if (slot.searchPhase < 2) {
                ++slot.searchPhase;
            } else if (line != slot.romBit(slot.bitIndex)) {
                slot.state = RomState::Idle;
            } else {
                slot.searchPhase = 0;
                if (++slot.bitIndex == 64)
                    select(index, true);
            }
            break;
        default:
            break;
        }
        if (slot.state == RomState::Idle)
            continue;
        romLayer += slot.state != RomState::Selected ? 1 : 0;
        m_taking[kept++] = index;
    }
    m_taking.resize(kept);
    m_romLayerCount = romLayer;
    return line;
}

int SimBus::touchBit(int bit)
{
    if (!m_connected)
        return -1;
    spendSlots(1);
    if (inRomLayer())
        return romLayerBit(bit);
    // Past the ROM layer every device still taking part is selected.
    int line = bit ? 1 : 0;
    for (const int index : m_taking)
        line &= m_slots[size_t(index)].device->functionBit(bit ? 1 : 0) ? 1 : 0;
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
        for (const int index : m_taking) {
            Slot &slot = m_slots[size_t(index)];
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
        for (const int index : m_taking)
            m_slots[size_t(index)].device->onStrongPullup(true);
    }
    return line;
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
