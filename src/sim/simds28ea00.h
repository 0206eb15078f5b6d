#pragma once

#include "sim/simds18b20.h"

// A DS28EA00 (family 0x42) as a thermometer: the DS18B20's scratchpad and
// configuration register, measuring -40..+85 °C, in alarm at T >= TH or
// T <= TL. Its PIO and chain commands are not modelled (they read as 0xFF).
class SimDs28ea00 : public SimDs18b20
{
public:
    explicit SimDs28ea00(const QByteArray &rom, double celsius = 20.0);
    QString kind() const override { return QStringLiteral("DS28EA00"); }

    static std::unique_ptr<SimDevice> fromJson(const QByteArray &rom, const QJsonObject &entry, QString *error);

protected:
    void storeTemperature(double celsius) override;
    bool inAlarm(int degrees, int th, int tl) const override { return degrees >= th || degrees <= tl; }
};
