#include "base/operatornotices.h"
#include "onewire/adapter.h"
#include "sensors/max31850.h"
#include "model/sensordevice.h"
#include "sensors/typektable.h"
#include "sim/simbusloader.h"
#include "sim/simmax31850.h"
#include "sim/simpt100emulator.h"
#include "sim/typek.h"
#include "support/simfixture.h"

#include <QtTest>
#include <cmath>

namespace {

// One read of one device, set up as the dispatcher does it; with the
// "-pt100" switch unless told otherwise.
struct Read
{
    Read(SimFixture &f, const QByteArray &rom, bool pt100Mode = true)
        : romBuffer(SimFixture::romId(rom))
        , driver(f.tmex, &f.session, f.adapter.accessStateBuffer(), romBuffer.data())
    {
        driver.setPt100Mode(pt100Mode);
    }
    int run() { return driver.convertAndRead(&hot, &cold); }
    // The dispatcher's sequence: up to 4 reads, then the fill.
    void readAndFill(SensorDevice &device)
    {
        for (int i = 0; i < 4 && run() != 1; ++i) {
        }
        driver.fillChannels(device);
    }

    RomId romBuffer;
    Max31850 driver;
    double hot = 0;
    double cold = 0;
};

QByteArray hex(const char *digits)
{
    return QByteArray::fromHex(digits);
}

// What the devices answered to the bytes touched from log entry `from` on.
QByteArray answersFrom(SimFixture &f, int from)
{
    QByteArray answers;
    for (const TrafficEntry &e : f.backend().traffic().mid(from))
        answers.append(e.call == QLatin1String("TMTouchByte") ? QByteArray(1, char(e.result)) : QByteArray());
    return answers;
}

// The bytes sent after the first `command` from log entry `from` on.
QByteArray sentAfter(SimFixture &f, int from, uint8_t command, int count)
{
    const QByteArray bytes = f.backend().touchedBytes(from);
    const int at = bytes.indexOf(char(command));
    return at < 0 ? QByteArray() : bytes.mid(at + 1, count);
}

const char *kZeroScratchpad = "00000000F0FFFFFF";

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

} // namespace

class TstMax31850 : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false")); }

    // The worked scratchpads, and the checks that give -6: fault bits (no
    // cold junction then) and a voltage beyond the table (cold junction
    // kept). A CRC error is retried within the read; four give -7. Every
    // conversion under the strong pull-up; a silent device gives -1.
    void readsAndFill()
    {
        SimFixture f;
        auto *chip = f.add(std::make_unique<SimMax31850>(SimFixture::rom(0x3B, 0x31850)));
        QCOMPARE(f.open(), 1);
        const double nan = std::nan("");
        const char *kFourTries = "44R44R44R44R"; // R: Read Scratchpad and its 9 read slots
        struct Case { const char *registers; int crcErrors; int result; double hot, cold; const char *wire; } cases[] = {
            {"40060019F0FFFFFF", 0, 1, 100.75, 25.0, "44R"},
            {"90010019F0FFFFFF", 0, 1, 25.77, 25.0, "44R"},
            {kZeroScratchpad, 0, 1, 0.0, 0.0, "44R"},
            {"41060019F0FFFFFF", 0, Max31850::kNoTemperature, nan, nan, kFourTries},
            {"40060119F0FFFFFF", 0, Max31850::kNoTemperature, nan, nan, kFourTries},
            {"FC7F0019F0FFFFFF", 0, Max31850::kNoTemperature, nan, 25.0, kFourTries},
            {"60F0F0FFF0FFFFFF", 0, Max31850::kNoTemperature, nan, -0.06, kFourTries}, // -250 °C by the chip's slope
            {"40060019F0FFFFFF", 1, 1, 100.75, 25.0, "44R44R"},
            {"40060019F0FFFFFF", 4, Max31850::kBadScratchpad, nan, nan, kFourTries},
        };
        for (const Case &c : cases) {
            chip->pinScratchpad(hex(c.registers));
            chip->failCrc(c.crcErrors);
            const int from = f.backend().traffic().size();
            Read r(f, chip->rom());
            QCOMPARE(r.run(), c.result);
            QCOMPARE(QString::number(r.hot, 'g', 10), QString::number(c.hot, 'g', 10)); // "nan" for none
            QCOMPARE(QString::number(r.cold, 'g', 10), QString::number(c.cold, 'g', 10));
            QCOMPARE(f.backend().touchedBytes(from).toHex().toUpper(),
                     QByteArray(c.wire).replace("R", "BEFFFFFFFFFFFFFFFFFF"));
        }
        int strongPullups = 0;
        for (const TrafficEntry &e : f.backend().traffic())
            strongPullups += e.call == QLatin1String("TMOneWireLevel") && e.args == QVector<int>{0, 1, 2};
        QCOMPARE(strongPullups, chip->conversionsStarted());

        // The fill: two channels whatever was there before (after a failed
        // read: tst_cycle's thermocoupleTries), taken at the same time; a
        // plain chip reports no offset.
        SensorDevice device;
        device.channels.resize(1);
        device.channels[0].calibration = 2.0f;
        Read(f, chip->rom()).readAndFill(device);
        QCOMPARE(device.channels.size(), 2);
        QCOMPARE(device.channels[0].value, 100.75);
        QCOMPARE(device.channels[0].calibration, 0.0f);
        QCOMPARE(device.channels[1].subchannel, uint8_t(1));
        QCOMPARE(device.channels[0].time, device.channels[1].time);

        chip->setSilent(true);
        Read gone(f, chip->rom());
        QCOMPARE(gone.run(), Max31850::kNotSelected);
        float offset = 7.0f;
        bool emulator = true;
        QCOMPARE(gone.driver.readCalibration(&offset, &emulator), Max31850::kNotSelected);
        QCOMPARE(offset, 7.0f); // untouched
    }

    // 0xFC: eight 0xFF from a plain chip, the complemented float from an
    // emulator, anything else retried and finally -14.
    void emulatorDetection()
    {
        SimFixture f;
        auto *plain = f.add(std::make_unique<SimMax31850>(SimFixture::rom(0x3B, 0x2)));
        auto *emulator = f.add(std::make_unique<SimPt100Emulator>(SimFixture::rom(0x3B, 0x3), 20.0, 1.0f));
        QCOMPARE(f.open(), 1);

        int from = f.backend().traffic().size();
        Read p(f, plain->rom());
        float offset = 3.0f;
        bool isEmulator = true;
        QCOMPARE(p.driver.readCalibration(&offset, &isEmulator), 1);
        QVERIFY(!isEmulator);
        QCOMPARE(offset, 0.0f);
        QCOMPARE(f.backend().touchedBytes(from), hex("FCFFFFFFFFFFFFFFFF"));

        from = f.backend().traffic().size();
        Read e(f, emulator->rom());
        QCOMPARE(e.driver.readCalibration(&offset, &isEmulator), 1);
        QVERIFY(isEmulator);
        QCOMPARE(offset, 1.0f);
        QCOMPARE(answersFrom(f, from), hex("FC0000803FFFFF7FC0")); // the float, then its complement

        emulator->failCalibrationReads(4);
        QCOMPARE(e.driver.readCalibration(&offset, &isEmulator), Max31850::kUnknownAnswer);
        QVERIFY(!isEmulator);
        QCOMPARE(offset, 0.0f);
    }

    // new offset = target - (value - stored offset); within ±5 (ends
    // included) it is written, beyond it the operator is warned and nothing
    // is written; so without a value from the device or without a reference
    // sample; a reset writes 0 whatever the offset, value or sample.
    void calibration()
    {
        SimFixture f;
        auto *emulator = f.add(std::make_unique<SimPt100Emulator>(SimFixture::rom(0x3B, 0x4), 0.0, 0.25f));
        emulator->pinScratchpad(hex(kZeroScratchpad)); // the hot junction reads exactly 0.0
        QCOMPARE(f.open(), 1);

        SensorDevice device;
        Read(f, emulator->rom()).readAndFill(device);
        QCOMPARE(device.channels[0].value, 0.0);
        QCOMPARE(device.channels[0].calibration, 0.25f);

        // The value is 0, so each new offset is the target plus the stored one.
        const char *kOpen = "41060019F0FFFFFF"; // open circuit: no value
        const char *kWhy = "Ошибка значений калибровки. ";
        struct Case
        {
            const char *registers;
            float target;
            bool reset;
            const char *written;
            float offsetAfter;
            const char *warning;
        } cases[] = {
            {kZeroScratchpad, 0.75f, false, "3F800000C07FFFFF", 1.0f, nullptr},  // 0.75 + 0.25 = 1
            {kZeroScratchpad, 4.0f, false, "40A00000BF5FFFFF", 5.0f, nullptr},   // 4 + 1 = 5, the upper end
            {kZeroScratchpad, -10.0f, false, "C0A000003F5FFFFF", -5.0f, nullptr}, // -10 + 5 = -5, the lower end
            {kZeroScratchpad, 10.25f, false, nullptr, -5.0f, "Смещение не может быть более 5 градусов!"}, // 5.25
            {kOpen, 20.0f, false, nullptr, -5.0f, "Датчик не дал значения температуры, калибровка не записана!"},
            {kZeroScratchpad, -32768.0f, false, nullptr, -5.0f, "Эталонное значение не задано, калибровка не записана!"},
            {kOpen, -32768.0f, true, "00000000FFFFFFFF", 0.0f, nullptr},
        };
        QStringList notices;
        OperatorNotices warnings;
        warnings.setHandler([&notices](const OperatorNotices::Notice &n) { notices << n.title + ": " + n.text; });
        for (const Case &c : cases) {
            emulator->pinScratchpad(hex(c.registers));
            device.channels[0].calibrateRequest = true;
            device.channels[0].calibrationTarget = c.target;
            device.channels[0].resetCalibration = c.reset;
            notices.clear();
            const int from = f.backend().traffic().size();
            Read read(f, emulator->rom());
            read.driver.setNotices(&warnings);
            read.readAndFill(device);
            QCOMPARE(sentAfter(f, from, 0xFE, 8), hex(c.written ? c.written : "")); // nothing: no 0xFE sent
            QCOMPARE(emulator->offset(), c.offsetAfter);
            QCOMPARE(notices, c.warning ? QStringList(QString::fromUtf8("ВНИМАНИЕ!: ") + kWhy + QString::fromUtf8(c.warning))
                                        : QStringList());
            QVERIFY(!device.channels[0].calibrateRequest);
            QVERIFY(!device.channels[0].resetCalibration);
        }
        // The channel shows the offset the device reports at the next read.
        Read(f, emulator->rom()).readAndFill(device);
        QCOMPARE(device.channels[0].calibration, 0.0f);
    }

    // Sub-types read in both codes and shown in the type with the switch;
    // written as code and complement.
    void subtypes()
    {
        SimFixture f;
        auto *emulator = f.add(std::make_unique<SimPt100Emulator>(SimFixture::rom(0x3B, 0x7), 20.0, 0.0f, 0x00));
        QCOMPARE(f.open(), 1);
        SensorDevice device;
        Read(f, emulator->rom()).readAndFill(device);
        QCOMPARE(device.channels[0].subtype, uint8_t(1));
        QCOMPARE(device.channels[0].type, QStringLiteral("MAX31850Emulator Pt100"));
        QCOMPARE(device.channels[1].type, QStringLiteral("MAX31850Emulator Thermocouple Cold-Junction sensor "));

        struct Case { uint8_t requested; const char *sent; uint8_t code; uint8_t shown; const char *type; } cases[] = {
            {2, "01FE", 0x01, 2, "MAX31850Emulator 100П"},
            {1, "00FF", 0x00, 1, "MAX31850Emulator Pt100"},
            {0, "FF00", 0xFF, 0, "MAX31850Emulator"},
        };
        for (const Case &c : cases) {
            device.channels[0].requestedSubtype = c.requested;
            device.channels[0].subtypeWriteRequest = true;
            const int from = f.backend().traffic().size();
            Read(f, emulator->rom()).readAndFill(device);
            QCOMPARE(sentAfter(f, from, 0xFB, 2), hex(c.sent));
            QCOMPARE(emulator->subtypeCode(), c.code);
            QVERIFY(!device.channels[0].subtypeWriteRequest);
            Read(f, emulator->rom()).readAndFill(device);
            QCOMPARE(device.channels[0].subtype, c.shown);
            QCOMPARE(device.channels[0].type, QString::fromUtf8(c.type));
        }

        // Without the switch the emulator reads as a plain thermocouple channel.
        emulator->setSubtypeCode(0x01);
        Read(f, emulator->rom(), false).readAndFill(device);
        QVERIFY(device.channels[0].isEmulator);
        QCOMPARE(device.channels[0].subtype, uint8_t(0));
        QCOMPARE(device.channels[0].type, QStringLiteral("MAX31850 Temperature sensor"));
        QCOMPARE(device.channels[1].type, QStringLiteral("MAX31850 Thermocouple Cold-Junction sensor"));
    }

    // The bus-file keys of the converters reach the chips: an emulator's
    // pinned registers, offset and sub-type code; a fault.
    void busFileKeys()
    {
        QString error;
        auto backend = SimBusLoader::load(R"({"devices": [
            {"type": "pt100emulator", "scratchpad": "90010019F0FFFFFF", "offset": 1.0, "subtypeCode": 1},
            {"type": "max31850", "fault": "shortVdd"}]})", "x", &error);
        QVERIFY2(backend, qPrintable(error));
        SimFixture f(std::move(backend));
        QCOMPARE(f.open(), 1);
        SensorDevice emulator;
        Read(f, f.bus().device(0)->rom()).readAndFill(emulator);
        QCOMPARE(emulator.channels[0].value, 25.77);
        QCOMPARE(emulator.channels[0].calibration, 1.0f);
        QCOMPARE(emulator.channels[0].subtype, uint8_t(2));
        QCOMPARE(Read(f, f.bus().device(1)->rom()).run(), Max31850::kNoTemperature);
    }

    // The type K table: the published rows, strict increase, and agreement
    // with the reference function the simulated chip uses.
    void typeKTable()
    {
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

    // Thermocouple temperatures through chip and driver. Cold junction at
    // 0 °C: back within what the chip's 0.25 °C step allows there. At 25 °C:
    // the driver turns the chip's value back into a voltage without taking
    // the cold junction out, so it reads the temperature of
    // E(Th) - E(Tc) + Tc · 41.276 µV/°C; 100 °C gives 40 06 00 19 and 100.75.
    void typeKRoundTrip()
    {
        SimFixture f;
        auto *chip = f.add(std::make_unique<SimMax31850>(SimFixture::rom(0x3B, 0x4B)));
        QCOMPARE(f.open(), 1);
        auto read = [&](double hotCelsius, double coldCelsius) {
            chip->setHotJunction(SimTemperature(hotCelsius));
            chip->setColdJunction(SimTemperature(coldCelsius));
            Read r(f, chip->rom());
            return r.run() == 1 ? r.hot : std::nan("");
        };
        for (double celsius = -250.0; celsius <= 1350.0; celsius += 6.25 + 0.01) {
            const double hot = read(celsius, 0.0);
            QVERIFY2(std::fabs(hot - celsius) <= allowedError(celsius),
                     qPrintable(QStringLiteral("%1 °C read as %2").arg(celsius).arg(hot)));
        }
        QCOMPARE(read(100.0, 25.0), 100.75);
        QCOMPARE(chip->scratchpad().left(4), hex("40060019"));
        for (double celsius = -200.0; celsius <= 1300.0; celsius += 12.5 + 0.03) {
            const double byDesign = celsiusFor(TypeK::emfMv(celsius) - TypeK::emfMv(25.0) + 25.0 * kChipSlopeMvPerC);
            const double hot = read(celsius, 25.0);
            QVERIFY2(std::fabs(hot - byDesign) <= allowedError(byDesign),
                     qPrintable(QStringLiteral("%1 °C read as %2, expected %3").arg(celsius).arg(hot).arg(byDesign)));
        }
    }
};

QTEST_MAIN(TstMax31850)
#include "tst_max31850.moc"
