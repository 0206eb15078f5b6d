#pragma once

// The ITS-90 reference function of the type K thermocouple (NIST ITS-90
// thermocouple database, IEC 60584-1): thermoelectric voltage against a
// reference junction at 0 °C. The simulated thermocouple chips and the tests
// use it; the driver converts with its generated table instead
// (sensors/gentypektable.py, from the same coefficients: keep the two in step).
class TypeK
{
public:
    static constexpr double kMinCelsius = -270.0;
    static constexpr double kMaxCelsius = 1372.0;

    // Voltage in mV at `celsius`; defined from kMinCelsius to kMaxCelsius,
    // outside it the nearest end of the range is used.
    static double emfMv(double celsius);
};
