#include "sim/simds28ea00.h"

#include <QtGlobal>

SimDs28ea00::SimDs28ea00(const QByteArray &rom, double celsius)
    : SimDs18b20(rom, celsius)
{
}

void SimDs28ea00::storeTemperature(double celsius)
{
    SimDs18b20::storeTemperature(qBound(-40.0, celsius, 85.0));
}

std::unique_ptr<SimDevice> SimDs28ea00::fromJson(const QByteArray &rom, const QJsonObject &entry, QString *error)
{
    auto chip = std::make_unique<SimDs28ea00>(rom);
    if (!configureFromJson(*chip, entry, error))
        return nullptr;
    return chip;
}
