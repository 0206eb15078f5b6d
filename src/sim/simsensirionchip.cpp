#include "sim/simsensirionchip.h"

#include "bus/crc.h"

bool SimSensirionChip::readable(bool) const
{
    return replyWaiting();
}

void SimSensirionChip::reply(const QVector<uint16_t> &values)
{
    m_reply.clear();
    for (uint16_t value : values) {
        QByteArray word;
        word.append(char(value >> 8)).append(char(value & 0xFF));
        m_reply += word + char(Crc::sensirion8(word));
    }
    if (m_crcErrors > 0 && m_reply.size() >= 3) {
        --m_crcErrors;
        m_reply[2] = char(m_reply.at(2) ^ 0x5A);
    }
}

void SimSensirionChip::takeCommand()
{
    if (m_written.size() >= 2)
        command(uint16_t(uint8_t(m_written.at(0)) << 8 | uint8_t(m_written.at(1))), m_written.mid(2));
    m_written.clear();
}

bool SimSensirionChip::start(bool read, bool repeated)
{
    m_reading = read;
    if (!read) {
        m_written.clear();
        return true;
    }
    takeCommand();
    return readable(repeated);
}

bool SimSensirionChip::writeByte(uint8_t byte)
{
    m_written.append(char(byte));
    if (m_written.size() == 2 && !knows(uint16_t(uint8_t(m_written.at(0)) << 8 | byte))) {
        m_written.clear();
        return false;
    }
    return true;
}

uint8_t SimSensirionChip::readByte()
{
    if (m_reply.isEmpty())
        return 0xFF;
    const uint8_t byte = uint8_t(m_reply.at(0));
    m_reply.remove(0, 1);
    return byte;
}

void SimSensirionChip::stop()
{
    if (m_reading)
        m_reply.clear(); // a reply is read once
    else
        takeCommand();
    m_reading = false;
}
