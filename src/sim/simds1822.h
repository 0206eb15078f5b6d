#pragma once

#include "sim/simds18b20.h"

// A DS1822 (family 0x22): the DS18B20's scratchpad, commands, resolutions
// and conversion times.
class SimDs1822 : public SimDs18b20
{
public:
    explicit SimDs1822(const QByteArray &rom, double celsius = 20.0);
    QString kind() const override { return QStringLiteral("DS1822"); }

    // A bus-file entry: the DS18B20's keys.
    static std::unique_ptr<SimDevice> fromJson(const QByteArray &rom, const QJsonObject &entry, QString *error);
};
