#include "onewire/adapter.h"
#include "sensors/max31850.h"
#include "sensors/typek.h"
#include "sensors/typektable.h"
#include "sim/simmax31850.h"
#include "support/simfixture.h"

#include <QtTest>
#include <cmath>

namespace {

const double kChipSlopeMvPerC = 0.041276;

// The temperature whose type K voltage is `millivolts` (bisection).
double celsiusFor(double millivolts)
{
    double low = TypeK::kMinCelsius, high = TypeK::kMaxCelsius;
    for (int i = 0; i < 60; ++i) {
        const double mid = (low + high) / 2;
        (TypeK::emfMv(mid) < millivolts ? low : high) = mid;
    }
    return (low + high) / 2;
}

// How far the driver may be off at `celsius`: the chip's half step of
// 0.25 °C and the table's half digit, seen through the local slope of the
// curve, plus the driver's cut to 1/100 °C.
double allowedError(double celsius)
{
    const double slope = std::min(TypeK::emfMv(celsius + 1) - TypeK::emfMv(celsius),
                                  TypeK::emfMv(celsius) - TypeK::emfMv(celsius - 1));
    return (0.125 * kChipSlopeMvPerC + 0.0005) / slope + 0.011;
}

struct Thermocouple
{
    Thermocouple()
    {
        chip = f.add(std::make_unique<SimMax31850>(SimFixture::rom(0x3B, 0x4B)));
        f.open();
        romBuffer = SimFixture::romId(chip->rom());
    }
    // The driver's hot-junction reading for these junction temperatures.
    double read(double hotCelsius, double coldCelsius)
    {
        chip->setHotJunction(SimTemperature(hotCelsius));
        chip->setColdJunction(SimTemperature(coldCelsius));
        Max31850 driver(&f.session, Adapter::instance().accessStateBuffer(), romBuffer.data(), nullptr);
        double hot = 0, cold = 0;
        return driver.convertAndRead(&hot, &cold) == 1 ? hot : std::nan("");
    }

    SimFixture f;
    SimMax31850 *chip;
    RomId romBuffer;
};

} // namespace

class TstTypeK : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false")); }

    // The published rows, strict increase, and agreement with the
    // reference function the simulated chip uses.
    void table()
    {
        QCOMPARE(TypeKTable::kSize, 1643);
        const struct { int celsius; double millivolts; } rows[] = {
            {-270, -6.458}, {-200, -5.891}, {0, 0.000}, {25, 1.000}, {100, 4.096}, {1000, 41.276}, {1372, 54.886},
        };
        for (const auto &row : rows)
            QCOMPARE(TypeKTable::millivolts(row.celsius - TypeKTable::kFirstCelsius), row.millivolts);
        for (int i = 1; i < TypeKTable::kSize; ++i)
            QVERIFY2(TypeKTable::millivolts(i) > TypeKTable::millivolts(i - 1), qPrintable(QString::number(i)));
        for (int i = 0; i < TypeKTable::kSize; ++i) {
            const double exact = TypeK::emfMv(i + TypeKTable::kFirstCelsius);
            QVERIFY2(std::fabs(TypeKTable::millivolts(i) - exact) <= 0.0005 + 1e-9, qPrintable(QString::number(i)));
        }
    }

    // Cold junction at 0 °C: chip and driver give the thermocouple's
    // temperature back within what the chip's 0.25 °C step allows there.
    void roundTripWithColdJunctionAtZero()
    {
        Thermocouple tc;
        for (double celsius = -250.0; celsius <= 1350.0; celsius += 6.25 + 0.01) {
            const double hot = tc.read(celsius, 0.0);
            QVERIFY2(std::fabs(hot - celsius) <= allowedError(celsius),
                     qPrintable(QStringLiteral("%1 °C read as %2").arg(celsius).arg(hot)));
        }
    }

    // Cold junction at 25 °C: the driver turns the chip's value back into a
    // voltage without taking the cold junction out, so it reads the
    // temperature of E(Th) - E(Tc) + Tc · 41.276 µV/°C. 100 °C gives the
    // scratchpad 40 06 00 19 and 100.75.
    void roundTripWithWarmColdJunction()
    {
        Thermocouple tc;
        QCOMPARE(tc.read(100.0, 25.0), 100.75);
        QCOMPARE(tc.chip->scratchpad().left(4), QByteArray::fromHex("40060019"));
        for (double celsius = -200.0; celsius <= 1300.0; celsius += 12.5 + 0.03) {
            const double byDesign = celsiusFor(TypeK::emfMv(celsius) - TypeK::emfMv(25.0) + 25.0 * kChipSlopeMvPerC);
            const double hot = tc.read(celsius, 25.0);
            QVERIFY2(std::fabs(hot - byDesign) <= allowedError(byDesign),
                     qPrintable(QStringLiteral("%1 °C read as %2, expected %3").arg(celsius).arg(hot).arg(byDesign)));
        }
    }
};

QTEST_MAIN(TstTypeK)
#include "tst_typek.moc"
