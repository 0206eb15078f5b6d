#include "onewire/adapter.h"
#include "onewire/tmex.h"
#include "platform/clock.h"
#include "sensors/ds18b20.h"
#include "sensors/ds18s20.h"
#include "sensors/sensordevice.h"
#include "sim/simds18b20.h"
#include "sim/simds18s20.h"
#include "support/simfixture.h"

#include <QtTest>
#include <cmath>

namespace {

// One read of one device, set up as the dispatcher does it.
template <typename Driver>
struct Read
{
    Read(SimFixture &f, const QByteArray &rom, int waitMs = 1000)
        : romBuffer(SimFixture::romId(rom))
        , driver(&f.session, Adapter::instance().accessStateBuffer(), romBuffer.data(), nullptr)
    {
        driver.setWait(waitMs);
    }
    int run(int mode) { return driver.convertAndRead(&value, mode); }

    RomId romBuffer;
    Driver driver;
    double value = 0;
};

int countOf(const QByteArray &bytes, uint8_t value)
{
    return int(std::count(bytes.begin(), bytes.end(), char(value)));
}

QByteArray scratch(const char *hex)
{
    return QByteArray::fromHex(hex);
}

// An adapter that cannot give the strong pull-up: the level calls succeed
// and change nothing on the wire.
class NoPullupBackend : public SimBackend
{
public:
    short oneWireLevel(int32_t, short, short, short) override { return 1; }
};

// The index of the first log entry from `from` on that is `call` with `args`, or -1.
int entryOf(const QVector<TrafficEntry> &log, int from, const char *call, const QVector<int> &args)
{
    for (int i = from; i < log.size(); ++i) {
        if (log[i].call == QLatin1String(call) && log[i].args == args)
            return i;
    }
    return -1;
}

} // namespace

class TstDs18x20 : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false")); }

    // The worked register values: 0.5 °C bit dropped, counts applied, kept to
    // the hundredth rounding half away from zero on both sides of 0 °C; all-zero
    // bytes pass the CRC but hold no count to divide by.
    void ds18s20Arithmetic()
    {
        SimFixture f;
        auto *chip = f.add(std::make_unique<SimDs18s20>(SimFixture::rom(0x10, 0x1234)));
        QCOMPARE(f.open(), 1);
        struct Case { const char *registers; int result; double celsius; } cases[] = {
            {"32004B46FFFF0C10", 1, 25.0},
            {"33004B46FFFF0C10", 1, 25.0},
            {"CEFF4B46FFFF0C10", 1, -25.0},
            {"FEFF4B46FFFF0410", 1, -0.5},
            {"FEFF4B46FFFF0710", 1, -0.69}, // -0.6875
            {"00004B46FFFF0710", 1, 0.31},  // 0.3125
            {"32004B46FFFF0410", 1, 25.5},
            {"0000000000000000", Ds18x20::kBadScratchpad, std::nan("")},
        };
        for (const Case &c : cases) {
            chip->pinScratchpad(scratch(c.registers));
            const int from = f.backend().traffic().size();
            Read<Ds18s20> r(f, chip->rom());
            QCOMPARE(r.run(Ds18x20::ReadOnly), c.result);
            QCOMPARE(std::isnan(r.value) ? 0.0 : r.value, std::isnan(c.celsius) ? 0.0 : c.celsius);
            // Read only: no conversion, just the scratchpad.
            QCOMPARE(f.backend().touchedBytes(from).left(10), scratch("BEFFFFFFFFFFFFFFFFFF"));
        }
    }

    // A chip that keeps giving its power-on value: every retry converts the
    // device alone, and after four attempts the channel gets NaN.
    void powerOnValueIsRetriedThenGivesNaN()
    {
        SimFixture f;
        auto *chip = f.add(std::make_unique<SimDs18s20>(SimFixture::rom(0x10, 0x77), 21.0));
        QCOMPARE(f.open(), 1);
        chip->failWithPowerOnReads(1000);
        Read<Ds18s20> r(f, chip->rom());
        QCOMPARE(r.run(Ds18x20::ConvertAll), Ds18x20::kPowerOnValue);
        QVERIFY(std::isnan(r.value));
        QCOMPARE(r.driver.scratchpad().left(8), scratch("AA004B46FFFF0C10"));
        const QByteArray wire = f.backend().touchedBytes();
        QCOMPARE(countOf(wire, 0xCC), 1); // one broadcast
        QCOMPARE(countOf(wire, 0x44), 4); // and three individual conversions
        QCOMPARE(countOf(wire, 0xBE), 4);
        QCOMPARE(chip->conversionsStarted(), 4);

        SensorDevice device;
        r.driver.fillChannels(device);
        QCOMPARE(device.channels.size(), 1);
        QVERIFY(std::isnan(device.channels[0].value));
        QVERIFY(!device.channels[0].time.isValid());
        QCOMPARE(device.channels[0].updated, uint8_t(1));
        QCOMPARE(device.channels[0].alarmHigh, 75.0); // thresholds still from the scratchpad
        QCOMPARE(device.channels[0].alarmLow, 70.0);
    }

    // A COUNT reading (COUNT_PER_C - COUNT_REMAIN = 1) is measured once
    // more by an individual conversion; a second one in a row is accepted.
    void countReadingIsMeasuredAgain()
    {
        SimFixture f;
        auto *chip = f.add(std::make_unique<SimDs18s20>(SimFixture::rom(0x10, 0x78), 21.0));
        QCOMPARE(f.open(), 1);
        chip->failWithCountReadings(1);
        Read<Ds18s20> first(f, chip->rom());
        QCOMPARE(first.run(Ds18x20::ConvertAll), 1);
        QCOMPARE(first.value, 21.0);
        QCOMPARE(chip->conversionsStarted(), 2);
        QCOMPARE(countOf(f.backend().touchedBytes(), 0xCC), 1);

        chip->failWithCountReadings(2);
        const int from = f.backend().traffic().size();
        Read<Ds18s20> second(f, chip->rom());
        QCOMPARE(second.run(Ds18x20::ConvertThis), 1);
        QCOMPARE(second.value, 20.81); // 21 - 0.25 + 1/16, kept to the hundredth
        QCOMPARE(countOf(f.backend().touchedBytes(from), 0x44), 2);
    }

    // The second thermometer of a cycle reads without converting; a COUNT
    // reading found that way is measured again by a conversion of this
    // device alone, not just read again (which would return the same bytes).
    void countReadingInReadOnlyModeIsConvertedAgain()
    {
        SimFixture f;
        auto *first = f.add(std::make_unique<SimDs18b20>(SimFixture::rom(0x28, 0x79), 18.0));
        auto *chip = f.add(std::make_unique<SimDs18s20>(SimFixture::rom(0x10, 0x7A), 21.0));
        QCOMPARE(f.open(), 1);
        chip->failWithCountReadings(1);
        Read<Ds18b20> broadcast(f, first->rom());
        QCOMPARE(broadcast.run(Ds18x20::ConvertAll), 1);
        QCOMPARE(chip->conversionsStarted(), 1);

        const int from = f.backend().traffic().size();
        Read<Ds18s20> readOnly(f, chip->rom());
        QCOMPARE(readOnly.run(Ds18x20::ReadOnly), 1);
        QCOMPARE(readOnly.value, 21.0);
        QCOMPARE(chip->conversionsStarted(), 2);
        // Read, then Match ROM and Convert T for this device, then read again.
        const QByteArray wire = f.backend().touchedBytes(from);
        QCOMPARE(countOf(wire, 0xCC), 0);
        QCOMPARE(countOf(wire, 0x44), 1);
        QCOMPARE(countOf(wire, 0xBE), 2);
        QVERIFY(wire.indexOf(char(0x44)) > wire.indexOf(char(0xBE)));
    }

    // Only the whole power-on pattern is suspect: +85 °C with other reserved
    // bytes is a genuine reading. Bits below the resolution are cleared at
    // 10 bits as well.
    void ds18b20PowerOnPatternAndTenBits()
    {
        SimFixture f;
        auto *chip = f.add(std::make_unique<SimDs18b20>(SimFixture::rom(0x28, 0x503)));
        QCOMPARE(f.open(), 1);
        const struct
        {
            const char *registers;
            int result;
            double celsius;
        } cases[] = {
            {"50054B467FFF0C10", Ds18x20::kPowerOnValue, std::nan("")},
            {"50054B467FFF0B10", 1, 85.0},
            {"50054B467FFF0C11", 1, 85.0},
            {"93014B463FFF0C10", 1, 25.0},
            {"93014B465FFF0C10", 1, 25.125},
        };
        for (const auto &c : cases) {
            chip->pinScratchpad(scratch(c.registers));
            Read<Ds18b20> r(f, chip->rom());
            QCOMPARE(r.run(Ds18x20::ReadOnly), c.result);
            QCOMPARE(std::isnan(r.value) ? 0.0 : r.value, std::isnan(c.celsius) ? 0.0 : c.celsius);
        }
    }

    // 12 bit reads as is; a 9-bit device is read at 9 bits (undefined bits
    // cleared) and set to 12 bits with the write and copy on the wire.
    void ds18b20ResolutionAndAlarms()
    {
        SimFixture f;
        auto *chip = f.add(std::make_unique<SimDs18b20>(SimFixture::rom(0x28, 0x501)));
        QCOMPARE(f.open(), 1);
        chip->pinScratchpad(scratch("91014B467FFF0C10"));
        int from = f.backend().traffic().size();
        Read<Ds18b20> twelve(f, chip->rom());
        QCOMPARE(twelve.run(Ds18x20::ReadOnly), 1);
        QCOMPARE(twelve.value, 25.0625);
        QCOMPARE(countOf(f.backend().touchedBytes(from), 0x4E), 0);

        chip->pinScratchpad(scratch("9101FFF61FFF0C10"));
        from = f.backend().traffic().size();
        Read<Ds18b20> nine(f, chip->rom());
        QCOMPARE(nine.run(Ds18x20::ReadOnly), 1);
        QCOMPARE(nine.value, 25.0);
        QCOMPARE(f.backend().touchedBytes(from), scratch("BEFFFFFFFFFFFFFFFFFF4EFFF67F48"));
        QCOMPARE(chip->eeprom(), scratch("FFF67F"));
        QCOMPARE(uint8_t(chip->scratchpad().at(4)), uint8_t(0x7F));

        SensorDevice device;
        nine.driver.fillChannels(device);
        const SensorChannel &c = device.channels[0];
        QCOMPARE(c.alarmHigh, 125.0);
        QCOMPARE(c.alarmLow, -10.0);
        QCOMPARE(c.type, QStringLiteral("DS18B20 Temperature sensor"));
    }

    // A chip at 9 bits measuring 25.0625 °C: the first reading is cut to
    // 25.0 and fixes the resolution, the next one sees all 12 bits, and the
    // setting survives a power cycle.
    void resolutionCorrectionTakesEffect()
    {
        SimFixture f;
        auto *chip = f.add(std::make_unique<SimDs18b20>(SimFixture::rom(0x28, 0x502), 25.0625));
        chip->setResolution(9);
        QCOMPARE(f.open(), 1);
        Read<Ds18b20> first(f, chip->rom());
        QCOMPARE(first.run(Ds18x20::ConvertThis), 1);
        QCOMPARE(first.value, 25.0);
        Read<Ds18b20> second(f, chip->rom());
        QCOMPARE(second.run(Ds18x20::ConvertThis), 1);
        QCOMPARE(second.value, 25.0625);
        chip->powerCycle();
        QCOMPARE(uint8_t(chip->scratchpad().at(4)), uint8_t(0x7F));
    }

    // Three thermometers, one broadcast: the first read converts all of
    // them, the others only read; the 1000 ms wait is spent once.
    void oneBroadcastServesAll()
    {
        SimFixture f;
        auto *a = f.add(std::make_unique<SimDs18b20>(SimFixture::rom(0x28, 1), 21.5));
        auto *b = f.add(std::make_unique<SimDs18b20>(SimFixture::rom(0x28, 2), -3.25));
        auto *c = f.add(std::make_unique<SimDs18s20>(SimFixture::rom(0x10, 3), 19.0));
        QCOMPARE(f.open(), 1);
        const int from = f.backend().traffic().size();
        const qint64 start = Clock::tickMs();
        Read<Ds18b20> ra(f, a->rom());
        Read<Ds18b20> rb(f, b->rom());
        Read<Ds18s20> rc(f, c->rom());
        QCOMPARE(ra.run(Ds18x20::ConvertAll), 1);
        QCOMPARE(rb.run(Ds18x20::ReadOnly), 1);
        QCOMPARE(rc.run(Ds18x20::ReadOnly), 1);
        QCOMPARE(ra.value, 21.5);
        QCOMPARE(rb.value, -3.25);
        QCOMPARE(rc.value, 19.0);
        const QByteArray wire = f.backend().touchedBytes(from);
        QCOMPARE(countOf(wire, 0x44), 1);
        QCOMPARE(wire.left(2), scratch("CC44"));
        QCOMPARE(f.backend().callCount(QStringLiteral("TMOneWireLevel")), 2);
        QVERIFY(Clock::tickMs() - start < 1100);
    }

    // A read before the conversion time is over gives the previous result.
    void earlyReadGivesOldScratchpad()
    {
        SimFixture f;
        auto *chip = f.add(std::make_unique<SimDs18b20>(SimFixture::rom(0x28, 0x60), 10.0));
        QCOMPARE(f.open(), 1);
        Read<Ds18b20> first(f, chip->rom());
        QCOMPARE(first.run(Ds18x20::ConvertThis), 1);
        QCOMPARE(first.value, 10.0);
        chip->setTemperature(SimTemperature(30.0));
        Read<Ds18b20> hurried(f, chip->rom(), 50);
        QCOMPARE(hurried.run(Ds18x20::ConvertThis), 1);
        QCOMPARE(hurried.value, 10.0);
        Clock::advanceMs(750);
        Read<Ds18b20> later(f, chip->rom());
        QCOMPARE(later.run(Ds18x20::ReadOnly), 1);
        QCOMPARE(later.value, 30.0);
    }

    // A parasite-powered DS18B20 converts only on the strong pull-up: the
    // driver arms it right before Convert T, keeps it through the whole wait
    // and drops it before the read. Through an adapter without it the chip
    // browns out and keeps its +85 °C power-on value: four attempts, NaN.
    void strongPullupPowersParasiteChip()
    {
        {
            SimFixture f;
            auto *chip = f.add(std::make_unique<SimDs18b20>(SimFixture::rom(0x28, 0x70), 30.5));
            chip->setParasite(true);
            QCOMPARE(f.open(), 1);
            const int from = f.backend().traffic().size();
            Read<Ds18b20> r(f, chip->rom());
            QCOMPARE(r.run(Ds18x20::ConvertAll), 1);
            QCOMPARE(r.value, 30.5);
            QCOMPARE(chip->conversionsStarted(), 1);
            const QVector<TrafficEntry> &log = f.backend().traffic();
            const int convert = entryOf(log, from, "TMTouchByte", {0x44});
            const int release = entryOf(log, from, "TMOneWireLevel", {0, 0, 0});
            const int read = entryOf(log, from, "TMTouchByte", {0xBE});
            QVERIFY(convert > from && release > convert && read > release);
            QCOMPARE(log[convert - 1].call, QStringLiteral("TMOneWireLevel"));
            QCOMPARE(log[convert - 1].args, QVector<int>({0, 1, 2}));
            QVERIFY(log[release].timeUs - log[convert].timeUs >= 1000000);
            QVERIFY(!f.bus().strongPullupOn());
        }
        SimFixture f(std::make_unique<NoPullupBackend>());
        auto *chip = f.add(std::make_unique<SimDs18b20>(SimFixture::rom(0x28, 0x71), 30.5));
        chip->setParasite(true);
        QCOMPARE(f.open(), 1);
        Read<Ds18b20> r(f, chip->rom());
        QCOMPARE(r.run(Ds18x20::ConvertAll), Ds18x20::kPowerOnValue);
        QVERIFY(std::isnan(r.value));
        QCOMPARE(chip->conversionsStarted(), 4);
        QCOMPARE(r.driver.scratchpad().left(2), scratch("5005"));
    }

    // CRC errors are read again (without converting in read-only mode);
    // four in a row give -7; a silent device gives -1.
    void crcAndSelectionFailures()
    {
        SimFixture f;
        auto *chip = f.add(std::make_unique<SimDs18b20>(SimFixture::rom(0x28, 0x61), 12.5));
        QCOMPARE(f.open(), 1);
        Read<Ds18b20> warmUp(f, chip->rom());
        QCOMPARE(warmUp.run(Ds18x20::ConvertThis), 1);

        chip->failCrc(1);
        int from = f.backend().traffic().size();
        Read<Ds18b20> once(f, chip->rom());
        QCOMPARE(once.run(Ds18x20::ReadOnly), 1);
        QCOMPARE(once.value, 12.5);
        QCOMPARE(countOf(f.backend().touchedBytes(from), 0xBE), 2);
        QCOMPARE(countOf(f.backend().touchedBytes(from), 0x44), 0);

        chip->failCrc(4);
        Read<Ds18b20> always(f, chip->rom());
        QCOMPARE(always.run(Ds18x20::ReadOnly), Ds18x20::kBadScratchpad);
        QVERIFY(std::isnan(always.value));

        chip->setSilent(true);
        from = f.backend().traffic().size();
        Read<Ds18b20> gone(f, chip->rom());
        QCOMPARE(gone.run(Ds18x20::ConvertThis), Ds18x20::kNotSelected);
        QCOMPARE(countOf(f.backend().touchedBytes(from), 0x44), 0);
    }

    // The single channel: three records are cut to the last, none gets one.
    void fillKeepsOneChannel()
    {
        SimFixture f;
        auto *chip = f.add(std::make_unique<SimDs18s20>(SimFixture::rom(0x10, 0x63), 22.0));
        QCOMPARE(f.open(), 1);
        Read<Ds18s20> r(f, chip->rom());
        QCOMPARE(r.run(Ds18x20::ConvertThis), 1);
        SensorDevice device;
        device.channels.resize(3);
        device.channels[2].fileName = QStringLiteral("kept.txt");
        r.driver.fillChannels(device);
        QCOMPARE(device.channels.size(), 1);
        QCOMPARE(device.channels[0].fileName, QStringLiteral("kept.txt"));
        QCOMPARE(device.channels[0].value, 22.0);
        QVERIFY(device.channels[0].time.isValid());

        SensorDevice empty;
        r.driver.fillChannels(empty);
        QCOMPARE(empty.channels.size(), 1);
        QCOMPARE(empty.channels[0].type, QStringLiteral("DS18S20 Temperature sensor"));
    }
};

QTEST_MAIN(TstDs18x20)
#include "tst_ds18x20.moc"
