#include "i2c/i2cbridge.h"

#include "onewire/tmex.h"
#include "sensors/sensor.h"
#include "sensors/sensordevice.h"

namespace {
const short kSkipRom = 0xCC;
const short kWriteConfiguration = 0xD2;
const short kEnableSleepMode = 0x1E;
}

I2cBridge::I2cBridge(int32_t *session, uint8_t *accessState, short *rom, Sensor *sensor)
    : m_session(session)
    , m_accessState(accessState)
    , m_rom(rom)
    , m_sensor(sensor)
    , m_scanAllChannels(sensor ? sensor->scanAllChannelSetting() : true)
{
    setBusSpeed(100);
}

int I2cBridge::setBusSpeed(int kHz)
{
    const short valid = TMValidSession(*m_session);
    if (valid == 0)
        return valid;
    short speed = 3;
    if (kHz == 100)
        speed = 0;
    else if (kHz == 400)
        speed = 1;
    else if (kHz == 900)
        speed = 2;
    TMTouchReset(*m_session);
    TMTouchByte(*m_session, kSkipRom);
    TMTouchByte(*m_session, kWriteConfiguration);
    return TMTouchByte(*m_session, speed);
}

int I2cBridge::sendSleepCommand()
{
    const short valid = TMValidSession(*m_session);
    if (valid == 0)
        return valid;
    TMTouchReset(*m_session);
    TMTouchByte(*m_session, kSkipRom);
    return TMTouchByte(*m_session, kEnableSleepMode);
}

// The sensors behind a bridge are discovered and read by the I2C drivers,
// which come with the bridge transport; until then a bridge read only starts
// a fresh cycle for the bridge's channels.
void I2cBridge::readSensors(SensorDevice &device)
{
    for (SensorChannel &channel : device.channels)
        channel.writtenThisCycle = false;
}
