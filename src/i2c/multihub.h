#pragma once

#include <cstdint>

class I2cBridge;

// The I2C channel switch behind a bridge: writing a channel number (one data
// byte, with a stop) to its address routes the I2C bus to that channel,
// 0..47. Built on the stack by one bridge read; the hub is looked for anew in
// every read, at address byte 0x70 first and 0x40 second.
class MultiHub
{
public:
    static constexpr uint8_t kFirstAddress = 0x70;
    static constexpr uint8_t kSecondAddress = 0x40;
    static constexpr int kLastChannel = 47;

    MultiHub(int32_t *session, uint8_t *accessState, short *rom, I2cBridge *bridge);

    // Routes the bus to channel `ch`; `channel()` is not changed. While the
    // hub is not found yet, one attempt at each address; then up to 4
    // attempts at the address found. Returns 1, or I2cBridge::kFailed (the
    // bridge could not be selected) or I2cBridge::kHubRefused.
    int selectChannel(uint8_t ch);
    // Selects the channel after `channel()` and makes it current on success.
    // I2cBridge::kNoMoreChannels past 47, without bus traffic.
    int nextChannel();
    uint8_t channel() const { return m_channel; }

private:
    // One write of the channel byte to `address`; true when it was taken.
    bool writeChannel(uint8_t address, uint8_t ch);

    int32_t *m_session;
    uint8_t *m_accessState;
    short *m_rom;
    I2cBridge *m_bridge;
    uint8_t m_channel = 0;
    uint8_t m_hubAddress = 0;
};
