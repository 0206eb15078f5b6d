#include "onewire/adapter.h"
#include "bus/crc.h"
#include "onewire/tmex.h"
#include "base/clock.h"
#include "sensors/ds18b20.h"
#include "sensors/ds18s20.h"
#include "model/sensordevice.h"
#include "sim/simbusloader.h"
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
        , driver(f.tmex, &f.session, f.adapter.accessStateBuffer(), romBuffer.data())
    {
        driver.setWait(waitMs);
    }
    int run(int mode) { return driver.convertAndRead(&value, mode); }

    RomId romBuffer;
    Driver driver;
    double value = 0;
};

QByteArray scratch(const char *hex)
{
    return QByteArray::fromHex(hex);
}

// Selects every device with Skip ROM and sends `bytes`; returns what came back.
QByteArray broadcast(SimFixture &f, const QByteArray &bytes)
{
    f.tmex.TMTouchReset(f.session);
    f.tmex.TMTouchByte(f.session, 0xCC);
    QByteArray answer;
    for (char b : bytes)
        answer.append(char(f.tmex.TMTouchByte(f.session, uint8_t(b))));
    return answer;
}

QByteArray readScratchpad(SimFixture &f)
{
    return broadcast(f, scratch("BEFFFFFFFFFFFFFFFFFF")).mid(1);
}

// The index of the first log entry from `from` on that is `call` with `args`, or -1.
int entryOf(const QVector<TrafficEntry> &log, int from, const char *call, const QVector<int> &args)
{
    for (int i = from; i < log.size(); ++i) {
        if (log[i].call == QLatin1String(call) && log[i].args == args)
            return i;
    }
    return -1;
}

enum Fault { None, PowerOnReads, CountReadings, CrcErrors, Silent };

// One read of one chip: a DS18S20 (0x10) or DS18B20 (0x28) at 21 °C, or
// with its 8 register bytes pinned, and a fault on demand.
const struct ReadCase
{
    const char *name;
    uint8_t family;
    const char *registers;
    Fault fault;
    int count;
    int mode;
    int result;
    double celsius;   // NaN: no value
    const char *wire; // the command bytes of the read; R is Read Scratchpad with its 9 read slots
} kReads[] = {
    // The worked register values: 0.5 °C bit dropped, counts applied, kept
    // to the hundredth rounding half away from zero on both sides of 0 °C.
    {"S20 25.0", 0x10, "32004B46FFFF0C10", None, 0, Ds18x20::ReadOnly, 1, 25.0, "R"},
    {"S20 25.0 odd raw", 0x10, "33004B46FFFF0C10", None, 0, Ds18x20::ReadOnly, 1, 25.0, "R"},
    {"S20 -25.0", 0x10, "CEFF4B46FFFF0C10", None, 0, Ds18x20::ReadOnly, 1, -25.0, "R"},
    {"S20 -0.5", 0x10, "FEFF4B46FFFF0410", None, 0, Ds18x20::ReadOnly, 1, -0.5, "R"},
    {"S20 -0.6875", 0x10, "FEFF4B46FFFF0710", None, 0, Ds18x20::ReadOnly, 1, -0.69, "R"},
    {"S20 0.3125", 0x10, "00004B46FFFF0710", None, 0, Ds18x20::ReadOnly, 1, 0.31, "R"},
    // All-zero bytes pass the CRC but hold no count to divide by.
    {"S20 zeros", 0x10, "0000000000000000", None, 0, Ds18x20::ReadOnly, Ds18x20::kBadScratchpad, NAN, "RRRR"},
    // Only the whole power-on pattern is suspect, measured again by the
    // device alone: +85 °C with other reserved bytes is a genuine reading.
    {"B20 power-on", 0x28, "50054B467FFF0C10", None, 0, Ds18x20::ReadOnly, Ds18x20::kPowerOnValue, NAN, "R44R44R44R"},
    {"B20 85 byte 6", 0x28, "50054B467FFF0B10", None, 0, Ds18x20::ReadOnly, 1, 85.0, "R"},
    {"B20 85 byte 7", 0x28, "50054B467FFF0C11", None, 0, Ds18x20::ReadOnly, 1, 85.0, "RR"},
    // Bytes the datasheet fixes (5 FFh, 7 10h, configuration bits 0..4 set)
    // that read otherwise are read again and taken when both reads agree:
    // a clone with its own reserved bytes keeps reading.
    {"B20 clone", 0x28, "91014B467F0A0C66", None, 0, Ds18x20::ReadOnly, 1, 25.0625, "RR"},
    {"S20 clone", 0x10, "32004B46FF000C10", None, 0, Ds18x20::ReadOnly, 1, 25.0, "RR"},
    // Each reserved bit of the configuration byte (7 reads 0, 4..0 read 1)
    // read otherwise asks for the agreeing read on its own; the 12-bit
    // setting's write then follows, since the byte is not 7Fh.
    {"B20 config bit 7", 0x28, "91014B46FFFF0C10", None, 0, Ds18x20::ReadOnly, 1, 25.0625, "RRR4E4B467FR48"},
    {"B20 config bit 4", 0x28, "91014B466FFF0C10", None, 0, Ds18x20::ReadOnly, 1, 25.0625, "RRR4E4B467FR48"},
    {"B20 config bit 3", 0x28, "91014B4677FF0C10", None, 0, Ds18x20::ReadOnly, 1, 25.0625, "RRR4E4B467FR48"},
    {"B20 config bit 2", 0x28, "91014B467BFF0C10", None, 0, Ds18x20::ReadOnly, 1, 25.0625, "RRR4E4B467FR48"},
    {"B20 config bit 1", 0x28, "91014B467DFF0C10", None, 0, Ds18x20::ReadOnly, 1, 25.0625, "RRR4E4B467FR48"},
    {"B20 config bit 0", 0x28, "91014B467EFF0C10", None, 0, Ds18x20::ReadOnly, 1, 25.0625, "RRR4E4B467FR48"},
    // 12 bits read as is; below, the undefined bits are cleared and the
    // resolution set to 12 bits: a second read that agrees, Write
    // Scratchpad, a read back, Copy Scratchpad.
    {"B20 12 bits", 0x28, "91014B467FFF0C10", None, 0, Ds18x20::ReadOnly, 1, 25.0625, "R"},
    {"B20 11 bits", 0x28, "93014B465FFF0C10", None, 0, Ds18x20::ReadOnly, 1, 25.125, "RR4E4B467FR48"},
    {"B20 10 bits", 0x28, "93014B463FFF0C10", None, 0, Ds18x20::ReadOnly, 1, 25.0, "RR4E4B467FR48"},
    {"B20 9 bits", 0x28, "9101FFF61FFF0C10", None, 0, Ds18x20::ReadOnly, 1, 25.0, "RR4EFFF67FR48"},
    // The retry paths. A power-on value forever: the broadcast, then three
    // individual conversions, and no value.
    {"S20 power-on", 0x10, nullptr, PowerOnReads, 1000, Ds18x20::ConvertAll, Ds18x20::kPowerOnValue, NAN, "CC44R44R44R44R"},
    // A COUNT reading (COUNT_PER_C - COUNT_REMAIN = 1) is measured once more
    // by an individual conversion; a second one in a row is accepted
    // (21 - 0.25 + 1/16, kept to the hundredth).
    {"S20 count", 0x10, nullptr, CountReadings, 1, Ds18x20::ConvertAll, 1, 21.0, "CC44R44R"},
    {"S20 count twice", 0x10, nullptr, CountReadings, 2, Ds18x20::ConvertThis, 1, 20.81, "44R44R"},
    // Found by a thermometer read after the broadcast: converted again, not
    // just read again (which would return the same bytes).
    {"S20 count read-only", 0x10, nullptr, CountReadings, 1, Ds18x20::ReadOnly, 1, 21.0, "R44R"},
    // CRC errors are read again without converting in read-only mode; four
    // give -7. After the broadcast, a retry converts this device alone.
    {"B20 CRC once", 0x28, nullptr, CrcErrors, 1, Ds18x20::ReadOnly, 1, 21.0, "RR"},
    {"B20 CRC after broadcast", 0x28, nullptr, CrcErrors, 1, Ds18x20::ConvertAll, 1, 21.0, "CC44R44R"},
    {"B20 CRC always", 0x28, nullptr, CrcErrors, 4, Ds18x20::ReadOnly, Ds18x20::kBadScratchpad, NAN, "RRRR"},
    {"S20 CRC once", 0x10, nullptr, CrcErrors, 1, Ds18x20::ReadOnly, 1, 21.0, "RR"},
    {"S20 CRC always", 0x10, nullptr, CrcErrors, 4, Ds18x20::ReadOnly, Ds18x20::kBadScratchpad, NAN, "RRRR"},
    // A value the chips cannot measure is a garbled scratchpad, whatever its CRC.
    {"B20 +150", 0x28, "60094B467FFF0C10", None, 0, Ds18x20::ReadOnly, Ds18x20::kBadScratchpad, NAN, "RRRR"},
    {"B20 -60", 0x28, "40FC4B467FFF0C10", None, 0, Ds18x20::ReadOnly, Ds18x20::kBadScratchpad, NAN, "RRRR"},
    {"B20 +125", 0x28, "D0074B467FFF0C10", None, 0, Ds18x20::ReadOnly, 1, 125.0, "R"},
    {"B20 silent", 0x28, nullptr, Silent, 0, Ds18x20::ConvertThis, Ds18x20::kNotSelected, NAN, ""},
};

} // namespace

class TstDs18x20 : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false")); }

    void reads_data()
    {
        QTest::addColumn<int>("row");
        for (int i = 0; i < int(sizeof kReads / sizeof kReads[0]); ++i)
            QTest::newRow(kReads[i].name) << i;
    }
    // Each read's result, value and the command bytes on the wire. A
    // read-only read follows a broadcast conversion, as in a cycle.
    void reads()
    {
        QFETCH(int, row);
        const ReadCase &c = kReads[row];
        SimFixture f;
        const QByteArray rom = SimFixture::rom(c.family, 0x500 + row);
        SimDs18x20 *chip = c.family == 0x10 ? static_cast<SimDs18x20 *>(f.add(std::make_unique<SimDs18s20>(rom, 21.0)))
                                            : f.add(std::make_unique<SimDs18b20>(rom, 21.0));
        if (c.registers)
            chip->pinScratchpad(scratch(c.registers));
        if (c.fault == PowerOnReads)
            chip->failWithPowerOnReads(c.count);
        else if (c.fault == CountReadings)
            static_cast<SimDs18s20 *>(chip)->failWithCountReadings(c.count);
        else if (c.fault == CrcErrors)
            chip->failCrc(c.count);
        chip->setSilent(c.fault == Silent);
        QCOMPARE(f.open(), 1);
        if (c.mode == Ds18x20::ReadOnly) {
            f.tmex.TMTouchReset(f.session);
            f.tmex.TMTouchByte(f.session, 0xCC);
            f.tmex.TMTouchByte(f.session, 0x44);
            Clock::advanceMs(1000);
        }
        const int from = f.backend().traffic().size();
        double value = 0;
        auto read = [&](auto &&r) {
            const int result = r.run(c.mode);
            value = r.value;
            return result;
        };
        QCOMPARE(c.family == 0x10 ? read(Read<Ds18s20>(f, rom)) : read(Read<Ds18b20>(f, rom)), c.result);
        if (std::isnan(c.celsius))
            QVERIFY(std::isnan(value));
        else
            QCOMPARE(value, c.celsius);
        const QByteArray wire = QByteArray(c.wire).replace("R", "BEFFFFFFFFFFFFFFFFFF");
        QCOMPARE(f.backend().touchedBytes(from).toHex().toUpper(), wire);
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
        QCOMPARE(chip->eeprom(), scratch("4B467F"));
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
    // and drops it before the read.
    void strongPullupPowersParasiteChip()
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

    // The simulated chip: a parasite-powered one converts only under the
    // strong pull-up; a reset during the conversion browns it out. Read
    // Power Supply tells.
    void parasitePower()
    {
        SimFixture f;
        auto *chip = f.add(std::make_unique<SimDs18b20>(SimFixture::rom(0x28, 0x9), 30.5));
        chip->setParasite(true);
        QCOMPARE(f.open(), 1);
        broadcast(f, QByteArray::fromHex("B4"));
        QCOMPARE(f.tmex.TMTouchBit(f.session, 1), short(0));

        broadcast(f, QByteArray::fromHex("44"));
        Clock::advanceMs(800);
        QCOMPARE(readScratchpad(f).left(2), QByteArray::fromHex("5005"));

        f.tmex.TMOneWireLevel(f.session, 0, 1, 2);
        broadcast(f, QByteArray::fromHex("44"));
        Clock::advanceMs(100);
        f.tmex.TMTouchReset(f.session);
        Clock::advanceMs(800);
        QCOMPARE(readScratchpad(f).left(2), QByteArray::fromHex("5005"));
    }

    // Write Scratchpad reaches EEPROM only through Copy Scratchpad; Recall
    // and a power cycle bring the stored values back; read slots show the
    // conversion time of the resolution.
    void eepromAndConversionTime()
    {
        SimFixture f;
        auto *chip = f.add(std::make_unique<SimDs18b20>(SimFixture::rom(0x28, 0xA), 20.0));
        QCOMPARE(f.open(), 1);
        const QByteArray powerOn = QByteArray::fromHex("50054B467FFF0C10");
        QCOMPARE(readScratchpad(f), powerOn + char(Crc::dallas8(powerOn)));
        broadcast(f, QByteArray::fromHex("4E11220F"));
        QCOMPARE(readScratchpad(f).mid(2, 3), QByteArray::fromHex("11221F"));
        chip->powerCycle();
        QCOMPARE(readScratchpad(f).mid(2, 3), QByteArray::fromHex("4B467F"));

        broadcast(f, QByteArray::fromHex("4E11221F"));
        broadcast(f, QByteArray::fromHex("48"));
        broadcast(f, QByteArray::fromHex("4E33447F"));
        broadcast(f, QByteArray::fromHex("B8"));
        QCOMPARE(readScratchpad(f).mid(2, 3), QByteArray::fromHex("11221F"));
        chip->powerCycle();
        QCOMPARE(chip->eeprom(), QByteArray::fromHex("11221F"));

        // 9 bits: 93.75 ms. Before that the read slots give 0.
        broadcast(f, QByteArray::fromHex("44"));
        const qint64 start = Clock::tickUs();
        while (f.tmex.TMTouchBit(f.session, 1) == 0)
            ;
        const qint64 tookUs = Clock::tickUs() - start;
        QVERIFY2(tookUs >= 93750 && tookUs < 94000, qPrintable(QString::number(tookUs)));
        QCOMPARE(readScratchpad(f).left(2), QByteArray::fromHex("4001"));
    }

    // The thresholds of a bus file reach the chip's EEPROM. (The fault and
    // resolution keys are tst_sameoutput's faults bus.)
    void busFileThresholds()
    {
        QString error;
        auto backend = SimBusLoader::load(R"({"devices": [{"type": "ds18s20", "th": 255, "tl": 246}]})", "x", &error);
        QVERIFY2(backend, qPrintable(error));
        QCOMPARE(static_cast<SimDs18s20 *>(backend->bus().device(0))->eeprom(), scratch("FFF6"));
    }

    // The single channel: three records are cut to the last, none gets one;
    // the thresholds come from TH and TL (0xFF is 125 °C, 0xF6 -10 °C) even
    // when the read failed, which leaves no value and no time.
    void fillKeepsOneChannel()
    {
        SimFixture f;
        auto *b20 = f.add(std::make_unique<SimDs18b20>(SimFixture::rom(0x28, 0x63)));
        auto *s20 = f.add(std::make_unique<SimDs18s20>(SimFixture::rom(0x10, 0x64)));
        b20->pinScratchpad(scratch("9101FFF61FFF0C10"));
        s20->failWithPowerOnReads(1000);
        QCOMPARE(f.open(), 1);
        Read<Ds18b20> good(f, b20->rom());
        QCOMPARE(good.run(Ds18x20::ConvertThis), 1);
        SensorDevice device;
        device.channels.resize(3);
        device.channels[2].announcedReading = 42;
        good.driver.fillChannels(device);
        QCOMPARE(device.channels.size(), 1);
        const SensorChannel &c = device.channels[0];
        QCOMPARE(c.announcedReading, uint64_t(42));
        QCOMPARE(c.value, 25.0);
        QVERIFY(c.time.isValid());
        QCOMPARE(c.alarmHigh, 125.0);
        QCOMPARE(c.alarmLow, -10.0);
        QCOMPARE(c.type, QStringLiteral("DS18B20 Temperature sensor"));

        Read<Ds18s20> failed(f, s20->rom());
        QCOMPARE(failed.run(Ds18x20::ConvertThis), Ds18x20::kPowerOnValue);
        QCOMPARE(failed.driver.scratchpad().left(8), scratch("AA004B46FFFF0C10"));
        SensorDevice empty;
        failed.driver.fillChannels(empty);
        QCOMPARE(empty.channels.size(), 1);
        const SensorChannel &n = empty.channels[0];
        QVERIFY(std::isnan(n.value));
        QVERIFY(!n.time.isValid());
        QCOMPARE(n.updated, uint8_t(1));
        QCOMPARE(n.alarmHigh, 75.0);
        QCOMPARE(n.alarmLow, 70.0);
        QCOMPARE(n.type, QStringLiteral("DS18S20 Temperature sensor"));
    }
};

QTEST_MAIN(TstDs18x20)
#include "tst_ds18x20.moc"
