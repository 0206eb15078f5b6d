#pragma once

#include <cstdint>

class Sensor;
struct SensorDevice;

// The DS28E17 1-Wire-to-I2C bridge. Built on the stack for one use: a read of
// one bridge, or the once-per-cycle configuration of all bridges at once.
class I2cBridge
{
public:
    // Stores the fields and reconfigures every bridge on the bus to 100 kHz.
    // `sensor` may be null (the cycle's broadcast).
    I2cBridge(int32_t *session, uint8_t *accessState, short *rom, Sensor *sensor);

    // Broadcast Write Configuration (Skip ROM, 0xD2, speed byte: 0 for 100 kHz,
    // 1 for 400, 2 for 900, 3 otherwise). Returns the last exchange's result,
    // or TMValidSession's 0 without sending anything.
    int setBusSpeed(int kHz);
    // Broadcast Enable Sleep Mode (Skip ROM, 0x1E); the bridges wake at the next reset.
    int sendSleepCommand();
    // Discovery and read of everything behind the bridge into `device`.
    void readSensors(SensorDevice &device);
    void requestStop() { m_stopRequested = true; }

private:
    int32_t *m_session;
    uint8_t *m_accessState;
    short *m_rom;
    Sensor *m_sensor;
    bool m_stopRequested = false;
    bool m_scanAllChannels = true;
    int32_t m_knownAddress = -1;
};
