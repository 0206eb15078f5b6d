#pragma once

#include "sim/simds18b20.h"

// A DS1825 (family 0x3B, as the MAX31850): the DS18B20's scratchpad and
// commands, its configuration register 0 R1 R0 1 AD3 AD2 AD1 AD0, the low
// four bits hard-wired by the address pins.
class SimDs1825 : public SimDs18b20
{
public:
    explicit SimDs1825(const QByteArray &rom, double celsius = 20.0, int address = 0);
    QString kind() const override { return QStringLiteral("DS1825"); }

    // A bus-file entry: the DS18B20's keys and "address" (0..15, the pins).
    static std::unique_ptr<SimDevice> fromJson(const QByteArray &rom, const QJsonObject &entry, QString *error);

protected:
    void writeRegister(int index, uint8_t value) override;

private:
    int m_address;
};
