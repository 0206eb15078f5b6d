#pragma once

// The ITS-90 reference function of the type K thermocouple (NIST ITS-90
// thermocouple database, IEC 60584-1): thermoelectric voltage against a
// reference junction at 0 °C. The same coefficients generate the driver's
// table (gentypektable.py); keep the two in step.
class TypeK
{
public:
    static constexpr double kMinCelsius = -270.0;
    static constexpr double kMaxCelsius = 1372.0;

    // Voltage in mV at `celsius`; defined from kMinCelsius to kMaxCelsius,
    // outside it the nearest end of the range is used.
    static double emfMv(double celsius);
};
