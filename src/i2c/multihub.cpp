#include "i2c/multihub.h"

#include "i2c/i2cbridge.h"
#include "onewire/tmex.h"

MultiHub::MultiHub(int32_t *session, uint8_t *accessState, short *rom, I2cBridge *bridge)
    : m_session(session)
    , m_accessState(accessState)
    , m_rom(rom)
    , m_bridge(bridge)
{
}

bool MultiHub::writeChannel(uint8_t address, uint8_t ch)
{
    return m_bridge->writeData(address, QByteArray(1, char(ch)), I2cBridge::kWithStop) >= 1;
}

int MultiHub::selectChannel(uint8_t ch)
{
    if (m_hubAddress == 0) {
        // Discovery: a single attempt, first address then second.
        if (!m_bridge->tmex().selectDevice(*m_session, m_accessState, m_rom))
            return I2cBridge::kFailed;
        if (writeChannel(kFirstAddress, ch)) {
            m_hubAddress = kFirstAddress;
            return 1;
        }
        if (m_bridge->tmex().TMStrongAccess(*m_session, m_accessState) < 1)
            return I2cBridge::kFailed;
        if (writeChannel(kSecondAddress, ch)) {
            m_hubAddress = kSecondAddress;
            return 1;
        }
        return I2cBridge::kHubRefused;
    }
    return I2cBridge::attempts(m_bridge->tmex(), m_session, m_accessState, m_rom,
                               [this, ch] { return writeChannel(m_hubAddress, ch) ? 1 : I2cBridge::kHubRefused; });
}

int MultiHub::nextChannel()
{
    const int next = m_channel + 1;
    if (next > kLastChannel)
        return I2cBridge::kNoMoreChannels;
    const int result = selectChannel(uint8_t(next));
    if (result == 1)
        m_channel = uint8_t(next);
    return result;
}
