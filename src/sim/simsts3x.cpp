#include "sim/simsts3x.h"

SimSts3x::SimSts3x(double celsius)
    : SimSht3x(kDefaultAddress, false, celsius)
{
}

std::unique_ptr<SimI2cSlave> SimSts3x::fromJson(const QJsonObject &entry, QString *error)
{
    auto chip = std::make_unique<SimSts3x>();
    if (!chip->configure(entry, error))
        return nullptr;
    return chip;
}
