#pragma once

#include "sim/simsht3x.h"

// A Sensirion STS3x temperature sensor (7-bit address 0x4A or 0x4B): the
// SHT3x command set, with a measurement reporting the temperature word only.
class SimSts3x : public SimSht3x
{
public:
    static constexpr uint8_t kDefaultAddress = 0x4A;

    explicit SimSts3x(double celsius = 20.0);
    QString kind() const override { return QStringLiteral("STS3x"); }

    // A bus-file entry: "temperature", "rawTemperature", "serial", "crcErrors".
    static std::unique_ptr<SimI2cSlave> fromJson(const QJsonObject &entry, QString *error);
};
