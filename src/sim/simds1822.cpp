#include "sim/simds1822.h"

SimDs1822::SimDs1822(const QByteArray &rom, double celsius)
    : SimDs18b20(rom, celsius)
{
}

std::unique_ptr<SimDevice> SimDs1822::fromJson(const QByteArray &rom, const QJsonObject &entry, QString *error)
{
    auto chip = std::make_unique<SimDs1822>(rom);
    if (!configureFromJson(*chip, entry, error))
        return nullptr;
    return chip;
}
