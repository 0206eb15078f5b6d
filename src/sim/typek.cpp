#include "sim/typek.h"

#include <cmath>

namespace {

// -270 °C .. 0 °C: E = sum c[i] t^i.
const double kBelowZero[] = {
    0.0,
    0.394501280250e-01,
    0.236223735980e-04,
    -0.328589067840e-06,
    -0.499048287770e-08,
    -0.675090591730e-10,
    -0.574103274280e-12,
    -0.310888728940e-14,
    -0.104516093650e-16,
    -0.198892668780e-19,
    -0.163226974860e-22,
};

// 0 °C .. 1372 °C: E = sum c[i] t^i + a0 exp(a1 (t - a2)^2).
const double kAboveZero[] = {
    -0.176004136860e-01,
    0.389212049750e-01,
    0.185587700320e-04,
    -0.994575928740e-07,
    0.318409457190e-09,
    -0.560728448890e-12,
    0.560750590590e-15,
    -0.320207200030e-18,
    0.971511471520e-22,
    -0.121047212750e-25,
};
const double kA0 = 0.118597600000e+00;
const double kA1 = -0.118343200000e-03;
const double kA2 = 0.126968600000e+03;

template <int N>
double horner(const double (&c)[N], double t)
{
    double sum = 0.0;
    for (int i = N - 1; i >= 0; --i)
        sum = sum * t + c[i];
    return sum;
}

} // namespace

double TypeK::emfMv(double celsius)
{
    const double t = std::fmin(std::fmax(celsius, kMinCelsius), kMaxCelsius);
    if (t < 0.0)
        return horner(kBelowZero, t);
    return horner(kAboveZero, t) + kA0 * std::exp(kA1 * (t - kA2) * (t - kA2));
}
