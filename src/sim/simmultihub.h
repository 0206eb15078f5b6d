#pragma once

#include "sim/simi2cslave.h"

#include <QSet>
#include <QVector>
#include <memory>
#include <vector>

// The I2C channel switch behind a bridge: one data byte written to its
// address routes the bus on to that channel, 0..47 (any other number
// connects none). It keeps its channel until the next channel byte. A read
// gives the channel byte last taken.
class SimMultiHub : public SimI2cSlave
{
public:
    static constexpr int kChannels = 48;
    // The 7-bit addresses the program looks at (address bytes 0x70 and 0x40).
    static constexpr uint8_t kFirstAddress = 0x38;
    static constexpr uint8_t kSecondAddress = 0x20;

    explicit SimMultiHub(uint8_t address = kFirstAddress);
    ~SimMultiHub() override;
    QString kind() const override { return QStringLiteral("multi-hub"); }

    // Places a chip on `channel`; the hub owns it. Returns it.
    SimI2cSlave *add(std::unique_ptr<SimI2cSlave> chip, int channel);
    // The chip moves to `channel` once `cycles` more cycles have passed.
    void moveAfterCycles(SimI2cSlave *chip, int channel, int cycles);
    // The channel a chip sits on, -1 if it is not on this hub.
    int channelOf(const SimI2cSlave *chip) const;
    QVector<SimI2cSlave *> chips() const;

    // The channel the bus is routed to, -1 for none (also before the first channel byte).
    int selectedChannel() const { return m_selected; }
    // The chip at `address` on the selected channel, or null.
    SimI2cSlave *routed(uint8_t address) const;

    // Fault: the hub does not acknowledge this channel byte.
    void refuseChannel(int channel) { m_refused.insert(channel); }

    // One measurement cycle has passed: chips due to move move.
    void onCycle();

protected:
    bool start(bool read, bool repeated) override;
    bool writeByte(uint8_t byte) override;
    uint8_t readByte() override;

private:
    struct Placement
    {
        std::unique_ptr<SimI2cSlave> chip;
        int channel = 0;
        int moveTo = -1;
        int cyclesLeft = 0;
    };

    std::vector<Placement> m_placements;
    QSet<int> m_refused;
    int m_selected = -1;
    int m_lastByte = 0xFF;
};
