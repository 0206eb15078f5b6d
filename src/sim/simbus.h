#pragma once

#include "bus/wiremaster.h"

#include <QByteArray>
#include <QVector>
#include <memory>
#include <vector>

class SimDevice;

// The simulated adapter and its wire. Owns the devices and runs the ROM layer
// of each one bit by bit; selected devices get the function-layer slots.
// Every reset, slot and byte is charged to the clock at the speed the bus runs
// (standard or overdrive), so conversions and waits line up with bus traffic.
//
// Cost: a reset visits every device; a time slot only the devices still
// taking part since that reset (those that dropped out of a search or a
// Match ROM, or were not selected, take no work), and the ROM command byte,
// which every device hears alike, is decoded once for all of them.
class SimBus : public WireMaster
{
public:
    SimBus();
    ~SimBus() override;

    // Adds a device; the bus owns it from now on. Returns it for convenience.
    SimDevice *addDevice(std::unique_ptr<SimDevice> device);
    // Removes and destroys the device at `index` (a device unplugged from the bus).
    void removeDevice(int index);
    int deviceCount() const { return int(m_slots.size()); }
    SimDevice *device(int index) const;
    // The device with this ROM (bus order), or null.
    SimDevice *findDevice(const QByteArray &rom) const;

    // Adapter faults and settings.
    void setConnected(bool plugged) { m_connected = plugged; }
    void setDefaultPort(bool configured, short portNum = 0, short portType = 6);
    void setSetupFails(bool fails) { m_setupFails = fails; }
    // An adapter that is not capable sees no presence at any overdrive reset.
    void setOverdriveCapable(bool capable) { m_overdriveCapable = capable; }
    // The wire runs at overdrive speed.
    bool overdrive() const { return m_overdrive; }
    // Bus time of one time slot and of a reset with its presence detect at either speed.
    static qint64 slotUs(bool overdrive);
    static qint64 resetUs(bool overdrive);
    bool strongPullupOn() const { return m_strongPullup; }

    // Fault: the device stays silent in the next `count` search passes. It is
    // missing from those searches only; a selection still finds it.
    void hideFromSearches(SimDevice *device, int count);
    // Called at the start of every search pass (the driver's TMFirst).
    void beginSearchPass();
    // The driver brackets each step of a search pass (TMFirst, TMNext) with
    // these; hidden devices keep out of the Search ROMs issued in between.
    void setSearching(bool searching) { m_searching = searching; }
    // Fault: the next `count` bytes read from `device` arrive with `xorMask` applied.
    void corruptReads(SimDevice *device, int count, uint8_t xorMask = 0x01);


    // WireMaster
    bool defaultPort(short *portNum, short *portType) const override;
    bool connected() const override { return m_connected; }
    bool setUp() override;
    int reset() override;
    int touchBit(int bit) override;
    int touchByte(int byte) override;
    // A reset at overdrive timing sees no presence, and leaves the wire at
    // standard speed, while a device that cannot follow is on the bus.
    void setOverdriveTiming(bool on) override { m_overdrive = on; }
    bool overdriveTiming() const override { return m_overdrive; }
    bool overdriveResetProvesAll() const override { return true; }
    void setStrongPullup(bool armed) override;

private:
    enum class RomState { Idle, RomCommand, ReadRom, MatchRom, Search, Selected };

    struct Slot
    {
        std::unique_ptr<SimDevice> device;
        uint64_t romBits = 0;   // the ROM, bit i = ROM bit i (bit 0 of byte 0 first)
        RomState state = RomState::Idle;
        int bitIndex = 0;       // ROM bit being sent or compared
        int searchPhase = 0;    // 0 send bit, 1 send complement, 2 read direction
        bool overdriveMatch = false;
        int hiddenSearches = 0; // fault: silent in this many search passes
        bool hiddenNow = false;
        int corruptCount = 0;   // fault: bytes still to corrupt
        uint8_t corruptMask = 0;
        int romBit(int index) const { return int((romBits >> index) & 1); }
    };

    // The adapter can run at overdrive and every device that answers follows.
    bool followsOverdrive() const;
    bool inRomLayer() const { return m_romLayerCount > 0; }
    int romLayerBit(int bit);
    void romCommand(int index, uint8_t command);
    void select(int index, bool resumable);
    // Drops the slots that went idle from m_taking and counts those still in the ROM layer.
    void settle();
    void spendSlots(int slots);
    Slot *slotOf(SimDevice *device);

    std::vector<Slot> m_slots;
    // The slots taking part since the last reset (not idle), in bus order.
    std::vector<int> m_taking;
    // How many of them are still in the ROM layer (not yet selected).
    int m_romLayerCount = 0;
    // The ROM command after a reset, which every device taking part hears alike.
    bool m_commandPending = false;
    uint8_t m_command = 0;
    int m_commandBits = 0;
    // The one device that a Resume (0xA5) selects again; -1 none.
    int m_resumeSlot = -1;
    bool m_connected = true;
    bool m_hasDefaultPort = true;
    short m_portNum = 0;
    short m_portType = 6;
    bool m_setupFails = false;
    bool m_overdriveCapable = true;
    bool m_overdrive = false;
    bool m_strongPullupArmed = false;
    bool m_strongPullup = false;
    bool m_searching = false;
};
