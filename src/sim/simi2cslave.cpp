#include "sim/simi2cslave.h"

SimI2cSlave::SimI2cSlave(uint8_t address)
    : m_address(address)
{
}

SimI2cSlave::~SimI2cSlave() = default;

bool SimI2cSlave::addressed(bool read)
{
    if (m_acksLeft == 0)
        return false;
    const bool repeated = m_open;
    m_open = true;
    if (!start(read, repeated))
        return false;
    if (m_acksLeft > 0)
        --m_acksLeft;
    return true;
}

bool SimI2cSlave::written(uint8_t byte)
{
    if (m_nackData)
        return false;
    return writeByte(byte);
}

uint8_t SimI2cSlave::readOut()
{
    return readByte();
}

void SimI2cSlave::stopped()
{
    m_open = false;
    stop();
}
