#pragma once

#include <QVector>
#include <cstdint>

class I2cBridge;
struct SensorTraits;
struct SensorDevice;

// One kind of I2C sensor a bridge read looks for on every hub channel.
struct I2cSensorType
{
    const SensorTraits *traits; // its channels, waits and address byte
    // Probes the current hub channel for the sensor; when it answers,
    // measures it and appends its channels to `found`. True when it answered.
    bool (*read)(I2cBridge &bridge, SensorDevice &found, uint8_t hubChannel);
};

// Every I2C sensor type, in probe order (the order on the wire).
const QVector<I2cSensorType> &i2cSensorTypes();
