#pragma once

#include "sim/simi2cslave.h"

#include <QByteArray>
#include <QVector>

// What the simulated Sensirion chips (SHT3x, STS3x, SCD30) share: commands
// of two bytes (with argument words after them), taken when the master
// stops or turns round to read, and replies of words, each two bytes most
// significant first followed by its CRC-8 (polynomial 0x31, initial 0xFF).
// A reply is read once; a read with no reply waiting is not acknowledged.
class SimSensirionChip : public SimI2cSlave
{
public:
    // Fault: the next `count` replies carry a wrong CRC byte after their first word.
    void failCrc(int count) { m_crcErrors = count; }

protected:
    using SimI2cSlave::SimI2cSlave;

    // Whether the chip knows this command; an unknown one is not acknowledged.
    virtual bool knows(uint16_t command) const = 0;
    // A whole command with its argument bytes (without their CRCs checked).
    virtual void command(uint16_t command, const QByteArray &arguments) = 0;
    // Whether a read may begin now; by default when a reply waits.
    virtual bool readable(bool repeated) const;

    // Makes `values` the reply, each word with its CRC (the fault applied).
    void reply(const QVector<uint16_t> &values);
    bool replyWaiting() const { return !m_reply.isEmpty(); }
    void dropReply() { m_reply.clear(); }

    bool start(bool read, bool repeated) override;
    bool writeByte(uint8_t byte) override;
    uint8_t readByte() override;
    void stop() override;

private:
    void takeCommand();

    QByteArray m_written;
    QByteArray m_reply;
    bool m_reading = false;
    int m_crcErrors = 0;
};
