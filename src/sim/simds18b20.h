#pragma once

#include "sim/simds18x20.h"

#include <memory>

// A DS18B20 (family 0x28): 9 to 12 bit resolution chosen by the
// configuration byte, conversion time by resolution, +85 °C at power-on.
class SimDs18b20 : public SimDs18x20
{
public:
    explicit SimDs18b20(const QByteArray &rom, double celsius = 20.0);
    QString kind() const override { return QStringLiteral("DS18B20"); }

    // 9..12; the configuration byte as stored in EEPROM and the scratchpad.
    void setResolution(int bits);

    // A bus-file entry: the shared DS18x20 keys and "resolution" (9..12).
    static std::unique_ptr<SimDevice> fromJson(const QByteArray &rom, const QJsonObject &entry, QString *error);

protected:
    // The DS18B20's own keys ("resolution") and the shared ones, applied.
    static bool configureFromJson(SimDs18b20 &chip, const QJsonObject &entry, QString *error);
    qint64 conversionTimeUs() const override;
    void storeTemperature(double celsius) override;
    int comparedDegrees() const override;
    void storePowerOnValue(QByteArray &registers) const override;
    void writeRegister(int index, uint8_t value) override;
};
