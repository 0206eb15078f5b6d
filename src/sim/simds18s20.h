#pragma once

#include "sim/simds18x20.h"

#include <memory>

// A DS18S20 (family 0x10): a 9-bit register (0.5 °C) refined by
// COUNT_REMAIN and COUNT_PER_C (16) to 1/16 °C, 750 ms per conversion,
// +85 °C at power-on.
class SimDs18s20 : public SimDs18x20
{
public:
    explicit SimDs18s20(const QByteArray &rom, double celsius = 20.0);
    QString kind() const override { return QStringLiteral("DS18S20"); }

    // Fault: the next `count` conversions leave COUNT_REMAIN one below
    // COUNT_PER_C, whatever the temperature.
    void failWithCountReadings(int count) { m_countReadings = count; }

    // A bus-file entry: the shared DS18x20 keys and "countReadings".
    static std::unique_ptr<SimDevice> fromJson(const QByteArray &rom, const QJsonObject &entry, QString *error);

protected:
    qint64 conversionTimeUs() const override { return 750000; }
    void storeTemperature(double celsius) override;
    int comparedDegrees() const override;
    void storePowerOnValue(QByteArray &registers) const override;

private:
    int m_countReadings = 0;
};
