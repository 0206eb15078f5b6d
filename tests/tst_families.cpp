#include "base/appsettings.h"
#include "base/clock.h"
#include "onewire/romid.h"
#include "model/sensordevice.h"
#include "sensors/ds1822.h"
#include "sensors/ds1825.h"
#include "sensors/ds2408.h"
#include "sensors/ds2413.h"
#include "sensors/ds2423.h"
#include "sensors/ds2438.h"
#include "sensors/ds2450.h"
#include "sensors/ds28ea00.h"
#include "sensors/max31850.h"
#include "sensors/sensor.h"
#include "session/measurementsession.h"
#include "session/sessiondescription.h"
#include "sim/simds1822.h"
#include "sim/simds1825.h"
#include "sim/simds2408.h"
#include "sim/simds2413.h"
#include "sim/simds2423.h"
#include "sim/simds2438.h"
#include "sim/simds2450.h"
#include "sim/simds28ea00.h"
#include "sim/simmax31850.h"
#include "support/mqtttestbroker.h"
#include "support/mqtttestsubscriber.h"
#include "support/serialfixture.h"
#include "support/settingsfolder.h"
#include "support/simfixture.h"
#include "support/testprocess.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>

// The drivers of the DS18B20's kin and of the DS2438, DS2450, DS2423, DS2413
// and DS2408 against their simulated chips: the bytes on the wire (after each
// selection) and what they decode, including the edges their data sheets
// name; then the same through the measurement cycle's dispatch.
namespace {

// One driver read of a device, set up as the dispatch does it.
template <typename Driver>
struct Read
{
    Read(SimFixture &f, const QByteArray &rom)
        : romBuffer(SimFixture::romId(rom))
        , driver(f.tmex, &f.session, f.adapter.accessStateBuffer(), romBuffer.data())
    {
    }
    RomId romBuffer;
    Driver driver;
};

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(text);
}

// The bytes sent since log entry `from`, as upper-case hexadecimal.
QString wire(SimFixture &f, int from)
{
    return QString::fromLatin1(f.backend().touchedBytes(from).toHex().toUpper());
}

QString ff(int count)
{
    return QString(count * 2, QLatin1Char('F'));
}

// Every channel of the device with this family after one cycle of `f`'s bus.
struct Cycle
{
    explicit Cycle(SimFixture &f)
        : session(&f.backend())
    {
        session.refresh();
        session.measure();
    }
    const SensorDevice *device(uint8_t family) const
    {
        for (const SensorDevice *d : session.allDevices()) {
            if (d->family == family)
                return d;
        }
        return nullptr;
    }
    MeasurementSession session;
};

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

// What owread prints for `path` on the face at `server`; "error" when it fails.
QByteArray owread(const QString &server, const QString &path)
{
    QProcess process;
    process.start(QStringLiteral("owread"), {QStringLiteral("-s"), server, path});
    if (!process.waitForFinished(10000) || process.exitCode() != 0)
        return "error";
    return process.readAllStandardOutput();
}

// The data lines of the measurement file of `rom` (as the table shows it)
// and `subchannel` in `folder`, its name made by the template %SN1W%_%SC%.
QStringList fileValues(const QString &folder, const QString &rom, int subchannel)
{
    QFile file(folder + QLatin1Char('/') + rom + QLatin1Char('_') + QString::number(subchannel) + QStringLiteral(".csv"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList values;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (int i = 10; i < lines.size(); ++i) {
        if (!lines.at(i).trimmed().isEmpty())
            values << QString::fromUtf8(lines.at(i)).trimmed().section(QLatin1Char(';'), 2, 2);
    }
    return values;
}

} // namespace

class TstFamilies : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false")); }

    // DS1822, DS28EA00 and DS1825 read as the DS18B20 does (after the
    // broadcast: Read Scratchpad alone), at the resolution they are set to
    // and never rewritten, within their own measuring range.
    void thermometers_data()
    {
        QTest::addColumn<uint8_t>("family");
        QTest::addColumn<QByteArray>("registers");
        QTest::addColumn<int>("result");
        QTest::addColumn<double>("celsius");
        QTest::addColumn<QString>("reads"); // Read Scratchpads on the wire
        QTest::newRow("DS1822 11 bits, not rewritten") << uint8_t(0x22) << hex("3BFF4B465FFF0C10") << 1 << -12.375 << QStringLiteral("R");
        QTest::newRow("DS1822 +125") << uint8_t(0x22) << hex("D0074B467FFF0C10") << 1 << 125.0 << QStringLiteral("R");
        QTest::newRow("DS28EA00 -40") << uint8_t(0x42) << hex("80FD4B467FFF0C10") << 1 << -40.0 << QStringLiteral("R");
        QTest::newRow("DS28EA00 +85.5 is no reading") << uint8_t(0x42) << hex("58054B467FFF0C10") << -7 << double(NAN) << QStringLiteral("RRRR");
        QTest::newRow("DS28EA00 -41 is no reading") << uint8_t(0x42) << hex("70FD4B467FFF0C10") << -7 << double(NAN) << QStringLiteral("RRRR");
        QTest::newRow("DS1825 -10.125 at 12 bits") << uint8_t(0x3B) << hex("5EFF4B4675FF0C10") << 1 << -10.125 << QStringLiteral("R");
        QTest::newRow("DS1825 9 bits") << uint8_t(0x3B) << hex("93014B461AFF0C10") << 1 << 25.0 << QStringLiteral("R");
    }
    void thermometers()
    {
        QFETCH(uint8_t, family);
        QFETCH(QByteArray, registers);
        QFETCH(int, result);
        QFETCH(double, celsius);
        QFETCH(QString, reads);
        SimFixture f;
        const QByteArray rom = SimFixture::rom(family, 0x77);
        SimDs18b20 *chip = family == 0x22   ? f.add(std::make_unique<SimDs1822>(rom))
                           : family == 0x42 ? static_cast<SimDs18b20 *>(f.add(std::make_unique<SimDs28ea00>(rom)))
                                            : f.add(std::make_unique<SimDs1825>(rom, 20.0, 5));
        chip->pinScratchpad(registers);
        QCOMPARE(f.open(), 1);
        const int from = f.backend().traffic().size();
        double value = 0;
        auto run = [&](auto &&r) { return r.driver.convertAndRead(&value, Ds18x20::ReadOnly); };
        const int got = family == 0x22 ? run(Read<Ds1822>(f, rom))
                      : family == 0x42 ? run(Read<Ds28ea00>(f, rom))
                                       : run(Read<Ds1825>(f, rom));
        QCOMPARE(got, result);
        if (std::isnan(celsius))
            QVERIFY(std::isnan(value));
        else
            QCOMPARE(value, celsius);
        QCOMPARE(wire(f, from), QString(reads).replace(QLatin1String("R"), QLatin1String("BE") + ff(9)));
    }

    // The two chips of family 0x3B told apart by the scratchpad's
    // configuration byte, once: a DS1825 is a thermometer of the cycle's
    // broadcast with its address pins in its type, a MAX31850 gives its two
    // junctions; the next cycle reads neither scratchpad for the telling.
    void family3BToldApartByTheScratchpad()
    {
        SimFixture f;
        f.add(std::make_unique<SimDs1825>(SimFixture::rom(0x3B, 0x1825), 23.25, 9));
        f.add(std::make_unique<SimMax31850>(SimFixture::rom(0x3B, 0x31850), 300.0, 25.0));
        Cycle cycle(f);
        QVector<const SensorDevice *> found;
        for (const SensorDevice *d : cycle.session.allDevices())
            found << d;
        QCOMPARE(found.size(), 2);
        const SensorDevice *ds1825 = found.at(0)->channels.size() == 1 ? found.at(0) : found.at(1);
        const SensorDevice *max31850 = ds1825 == found.at(0) ? found.at(1) : found.at(0);
        QCOMPARE(ds1825->chip, &Ds1825::kTraits);
        QCOMPARE(ds1825->channels.at(0).type, QStringLiteral("DS1825 Temperature sensor, address 9"));
        QCOMPARE(ds1825->channels.at(0).value, 23.25);
        QCOMPARE(max31850->chip, &Max31850::kTraits);
        QCOMPARE(max31850->channels.size(), 2);
        QCOMPARE(max31850->channels.at(1).value, 25.0);

        const int from = f.backend().traffic().size();
        cycle.session.refresh();
        cycle.session.measure();
        // The thermometer's broadcast and read, the thermocouple's own
        // conversion and read, and nothing else: no second telling.
        QCOMPARE(f.backend().touchedBytes(from).count(char(0xBE)), 2);
    }

    // A DS2438 read: Convert V on the input AD selects, Convert T, page 0;
    // AD flipped (only the configuration bits written, never copied),
    // Convert V, page 0 again. The HIH-4000's humidity from VAD, VDD and T.
    void batteryMonitor()
    {
        SimFixture f;
        const QByteArray rom = SimFixture::rom(0x26, 0x2438);
        auto *chip = f.add(std::make_unique<SimDs2438>(rom));
        chip->setTemperature(SimTemperature(-10.5));
        chip->setVdd(SimTemperature(4.87));
        chip->setHumidity(SimTemperature(62.0));
        chip->setSenseVolts(-0.0125);
        QCOMPARE(f.open(), 1);
        const int from = f.backend().traffic().size();
        Read<Ds2438> r(f, rom);
        r.driver.setHumidity(true);
        QCOMPARE(r.driver.convertAndRead(), 1);
        const QString page = QStringLiteral("B800BE00") + ff(9);
        QCOMPARE(wire(f, from), QStringLiteral("B444") + page + QStringLiteral("4E0007B4") + page);
        SensorDevice device;
        r.driver.fillChannels(device);
        QCOMPARE(device.channels.size(), 5);
        QCOMPARE(device.channels.at(0).value, -10.5);
        QCOMPARE(device.channels.at(1).value, 4.87);
        const double vad = device.channels.at(2).value;
        QVERIFY(qAbs(vad - 4.87 * (0.0062 * 62.0 * (1.0546 + 0.00216 * 10.5) + 0.16)) < 0.006);
        // The current register is signed: -51 steps of 0.2441 mV.
        QCOMPARE(device.channels.at(3).value, -51 * 0.0002441);
        QCOMPARE(device.channels.at(4).value, Ds2438::humidityPercent(vad, 4.87, -10.5));
        QVERIFY(qAbs(device.channels.at(4).value - 62.0) < 0.3);
        // The input AD left selected: VAD; the next read converts it first.
        QCOMPARE(uint8_t(chip->page0().at(0)) & 0x0F, 0x07);

        // A garbled page is read again; a write the chip lost (AD not
        // flipped, the same input twice) is taken for a failed attempt.
        chip->failCrc(1);
        chip->loseWrites(1);
        Read<Ds2438> again(f, rom);
        QCOMPARE(again.driver.convertAndRead(), 1);
        again.driver.fillChannels(device);
        // VDD and VAD each from its own conversion, not one input twice.
        QCOMPARE(device.channels.at(1).value, 4.87);
        QCOMPARE(device.channels.at(2).value, vad);
        // Conversions still running when the wait ends (their pages say so)
        // are read again, not taken with the input before them; one that
        // never ends gives no value.
        chip->slowConversions(3, 20000);
        const int late = f.backend().traffic().size();
        Read<Ds2438> slow(f, rom);
        QCOMPARE(slow.driver.convertAndRead(), 1);
        QCOMPARE(wire(f, late).count(page), 4);
        slow.driver.fillChannels(device);
        QCOMPARE(device.channels.at(1).value, 4.87);
        QCOMPARE(device.channels.at(2).value, vad);
        chip->slowConversions(1000, 1000000);
        Read<Ds2438> stuck(f, rom);
        QCOMPARE(stuck.driver.convertAndRead(), Ds2438::kBadPage);
        chip->slowConversions(0, 0);
        // A garbled page whose CRC holds all the same: its fixed bits tell.
        chip->failFixedBits(1);
        Read<Ds2438> garbled(f, rom);
        QCOMPARE(garbled.driver.convertAndRead(), 1);
        garbled.driver.fillChannels(device);
        QCOMPARE(device.channels.at(0).value, -10.5);
        chip->failCrc(1000);
        Read<Ds2438> never(f, rom);
        QCOMPARE(never.driver.convertAndRead(), Ds2438::kBadPage);
        never.driver.fillChannels(device);
        QVERIFY(std::isnan(device.channels.at(0).value) && std::isnan(device.channels.at(3).value));
    }

    // A DS2450 read: its set-up pages (control/status to calibration), the
    // conversion of all four, the results; each channel at the range and
    // resolution its own bytes give, the ends of the range included.
    void quadConverter_data()
    {
        QTest::addColumn<int>("bits");
        QTest::addColumn<bool>("highRange");
        QTest::addColumn<bool>("vcc");
        QTest::newRow("16 bits 5.12 V, VCC") << 16 << true << true;
        QTest::newRow("8 bits 2.56 V, VCC") << 8 << false << true;
        QTest::newRow("12 bits 5.12 V, parasite") << 12 << true << false;
    }
    void quadConverter()
    {
        QFETCH(int, bits);
        QFETCH(bool, highRange);
        QFETCH(bool, vcc);
        SimFixture f;
        const QByteArray rom = SimFixture::rom(0x20, 0x2450);
        auto *chip = f.add(std::make_unique<SimDs2450>(rom));
        const double range = highRange ? 5.12 : 2.56;
        const double inputs[4] = {0.0, 1.2345, range - 0.00001, 6.0};
        for (int i = 0; i < 4; ++i) {
            chip->setInput(i, SimTemperature(inputs[i]));
            chip->setup(i, bits, highRange);
        }
        chip->setVccPowered(vcc);
        QCOMPARE(f.open(), 1);
        const int from = f.backend().traffic().size();
        Read<Ds2450> r(f, rom);
        QCOMPARE(r.driver.convertAndRead(), 1);
        QCOMPARE(wire(f, from), QStringLiteral("AA0800") + ff(30) + QStringLiteral("3C0F00") + ff(2)
                                    + QStringLiteral("AA0000") + ff(10));
        QCOMPARE(chip->conversions(), 1);
        SensorDevice device;
        r.driver.fillChannels(device);
        const double step = range / (1 << bits);
        QCOMPARE(device.channels.at(0).value, 0.0);
        QCOMPARE(device.channels.at(1).value, std::floor(1.2345 / step) * step);
        QCOMPARE(device.channels.at(2).value, range - step); // full scale
        QCOMPARE(device.channels.at(3).value, range - step); // beyond it
        // Without VCC the conversion runs on the strong pull-up, armed for
        // the command's last CRC byte.
        const QVector<TrafficEntry> &log = f.backend().traffic();
        bool armed = false;
        for (int i = from; i < log.size(); ++i)
            armed |= log[i].call == QLatin1String("TMOneWireLevel") && log[i].args == QVector<int>({0, 1, 2});
        QCOMPARE(armed, !vcc);
    }

    // A bad CRC-16, or a result with a bit set below its resolution under a
    // CRC that holds, is read again; never a sound one: no value.
    void quadConverterRetriesBadMemory()
    {
        SimFixture f;
        const QByteArray rom = SimFixture::rom(0x20, 0x2451);
        auto *chip = f.add(std::make_unique<SimDs2450>(rom));
        chip->setInput(0, SimTemperature(2.0));
        chip->setup(0, 12, true);
        QCOMPARE(f.open(), 1);
        SensorDevice device;
        for (auto fail : {&SimDs2450::failCrc, &SimDs2450::failFixedBits, &SimDs2450::failControlBits}) {
            (chip->*fail)(1);
            Read<Ds2450> once(f, rom);
            QCOMPARE(once.driver.convertAndRead(), 1);
            once.driver.fillChannels(device);
            QCOMPARE(device.channels.at(0).value, 2.0);
            (chip->*fail)(1000);
            Read<Ds2450> never(f, rom);
            QCOMPARE(never.driver.convertAndRead(), Ds2450::kBadMemory);
            never.driver.fillChannels(device);
            QVERIFY(std::isnan(device.channels.at(0).value));
            (chip->*fail)(0);
        }
    }

    // A DS2423 read: one Read Memory + Counter from page 14's last byte
    // through page 15, both CRC-16s checked. Its counts as counter channels;
    // a wrap past 2^32 − 1 is a step forward, a count that goes back is
    // refused once and the next one taken against it.
    void counter()
    {
        SimFixture f;
        const QByteArray rom = SimFixture::rom(0x1D, 0x2423);
        auto *chip = f.add(std::make_unique<SimDs2423>(rom));
        chip->setCount(0, 4294967293u);
        chip->setCount(1, 1000);
        QCOMPARE(f.open(), 1);
        SensorDevice device;
        auto read = [&] {
            Read<Ds2423> r(f, rom);
            const int result = r.driver.convertAndRead();
            return std::make_pair(result, r.driver.fillChannels(device));
        };
        const int from = f.backend().traffic().size();
        QCOMPARE(read(), std::make_pair(1, false));
        QCOMPARE(wire(f, from), QStringLiteral("A5DF01") + ff(53));
        QCOMPARE(device.channels.at(0).value, 4294967293.0);
        QCOMPARE(device.channels.at(0).kind(), ChannelKind::Counter);
        chip->addPulses(0, 5);
        QCOMPARE(read(), std::make_pair(1, false));
        QCOMPARE(device.channels.at(0).value, 2.0);
        // The meter's battery changed: back to 3.
        chip->setCount(1, 3);
        QCOMPARE(read(), std::make_pair(1, true));
        QVERIFY(std::isnan(device.channels.at(1).value));
        QCOMPARE(device.channels.at(0).value, 2.0);
        chip->addPulses(1, 4);
        QCOMPARE(read(), std::make_pair(1, false));
        QCOMPARE(device.channels.at(1).value, 7.0);
        // A bad CRC, or a bit set among the zeros under a CRC that holds,
        // is read again; never a good one: no value.
        chip->failCrc(1);
        QCOMPARE(read(), std::make_pair(1, false));
        chip->failFixedBits(1);
        QCOMPARE(read(), std::make_pair(1, false));
        chip->failFixedBits(1000);
        QCOMPARE(read().first, Ds2423::kBadMemory);
        chip->failFixedBits(0);
        chip->failCrc(1000);
        QCOMPARE(read().first, Ds2423::kBadMemory);
        QVERIFY(std::isnan(device.channels.at(0).value));
    }

    // A DS2413 read: PIO Access Read and one status byte, its complement
    // checked. A pin that changes between reads reads changed; the read
    // never writes an output.
    void dualSwitch()
    {
        SimFixture f;
        const QByteArray rom = SimFixture::rom(0x3A, 0x2413);
        auto *chip = f.add(std::make_unique<SimDs2413>(rom));
        chip->setOutput(0, true);
        QCOMPARE(f.open(), 1);
        SensorDevice device;
        auto read = [&] {
            Read<Ds2413> r(f, rom);
            const int from = f.backend().traffic().size();
            const int result = r.driver.convertAndRead();
            r.driver.fillChannels(device);
            return std::make_pair(result, wire(f, from));
        };
        QCOMPARE(read(), std::make_pair(1, QStringLiteral("F5FF")));
        auto states = [&] {
            QVector<double> v;
            for (const SensorChannel &c : device.channels)
                v << c.value;
            return v;
        };
        // Sensed A low (its transistor on), B high; output A on, B off.
        QCOMPARE(states(), QVector<double>({0, 1, 1, 0}));
        chip->setInput(1, false);
        QCOMPARE(read().first, 1);
        QCOMPARE(states(), QVector<double>({0, 0, 1, 0}));
        QVERIFY(chip->output(0) && !chip->output(1));
        chip->failComplement(1);
        QCOMPARE(read(), std::make_pair(1, QStringLiteral("F5FFF5FF")));
        chip->failComplement(1000);
        QCOMPARE(read().first, Ds2413::kBadState);
        QVERIFY(std::isnan(device.channels.at(0).value));
    }

    // A DS2408 read: Read PIO Registers from 88h to the page's end and its
    // CRC-16. Pins as sensed, the activity latches of those that changed.
    void eightChannelSwitch()
    {
        SimFixture f;
        const QByteArray rom = SimFixture::rom(0x29, 0x2408);
        auto *chip = f.add(std::make_unique<SimDs2408>(rom));
        chip->setInputs(0xA5);
        chip->setOutputs(0x01);
        QCOMPARE(f.open(), 1);
        SensorDevice device;
        auto read = [&] {
            Read<Ds2408> r(f, rom);
            const int from = f.backend().traffic().size();
            const int result = r.driver.convertAndRead();
            r.driver.fillChannels(device);
            return std::make_pair(result, wire(f, from));
        };
        auto bits = [&](int first) {
            int byte = 0;
            for (int i = 0; i < 8; ++i)
                byte |= int(device.channels.at(first + i).value) << i;
            return byte;
        };
        QCOMPARE(read(), std::make_pair(1, QStringLiteral("F08800") + ff(10)));
        QCOMPARE(device.channels.size(), 16);
        QCOMPARE(bits(0), 0xA4);
        const int latchedBefore = bits(8);
        chip->setInputs(0xA5 ^ 0x30);
        QCOMPARE(read().first, 1);
        QCOMPARE(bits(0), 0x94);
        QCOMPARE(bits(8), latchedBefore | 0x30);
        chip->failCrc(1);
        QCOMPARE(read().first, 1);
        chip->failCrc(1000);
        QCOMPARE(read().first, Ds2408::kBadRegisters);
        QVERIFY(std::isnan(device.channels.at(15).value));
    }

    // Through the cycle: the failures say why ("ошибка CRC", a counter that
    // went back), and the DS2438's humidity channel is there when the bus
    // file wires an HIH-4000 to it or the settings name it.
    void dispatch()
    {
        SettingsFolder settings;
        SimFixture f;
        auto *counter = f.add(std::make_unique<SimDs2423>(SimFixture::rom(0x1D, 1)));
        counter->setCount(0, 50);
        auto *plain = f.add(std::make_unique<SimDs2438>(SimFixture::rom(0x26, 2)));
        auto *wired = f.add(std::make_unique<SimDs2438>(SimFixture::rom(0x26, 3)));
        wired->setHumidity(SimTemperature(40.0));
        auto *pio = f.add(std::make_unique<SimDs2413>(SimFixture::rom(0x3A, 4)));
        QString plainRom;
        {
            Cycle cycle(f);
            const SensorDevice *first = cycle.device(0x26);
            QCOMPARE(first->channels.size(), 4);
            counter->setCount(0, 10);
            pio->failComplement(1000);
            cycle.session.refresh();
            cycle.session.measure();
            QCOMPARE(cycle.device(0x1D)->channels.at(0).failure, QStringLiteral("счётчик пошёл назад"));
            QCOMPARE(cycle.device(0x3A)->channels.at(0).failure, QStringLiteral("ошибка CRC"));
            for (const SensorDevice *d : cycle.session.allDevices()) {
                if (d->family == 0x26)
                    QCOMPARE(d->channels.size(), d->key == Sensor::keyOf(SimFixture::romId(wired->rom())) ? 5 : 4);
            }
            plainRom = romToText(SimFixture::romId(plain->rom()), true);
        }
        // The settings name the plain one by its ROM as the table shows it
        // (in either case).
        appSettings().setValue(QStringLiteral("Sensors/Hih4000"), plainRom.toLower());
        SessionDescription description;
        description.bus = &f.backend();
        description.scanAllType = true;
        QString error;
        std::unique_ptr<MeasurementSession> configured = MeasurementSession::fromDescription(std::move(description), &error);
        QCOMPARE(configured->refresh().openResult, 1);
        configured->measure();
        for (const SensorDevice *d : configured->allDevices()) {
            if (d->family == 0x26)
                QCOMPARE(d->channels.size(), 5);
        }
        appSettings().remove(QStringLiteral("Sensors/Hih4000"));
    }

    // Over the emulated DS2480B every read is one round trip a
    // transaction, the DS2438's Write Scratchpad and the DS2450's Convert
    // one more each: they wait for their selection to be confirmed.
    void roundTripsOverTheSerialAdapter()
    {
        SerialFixture f;
        auto *monitor = f.add(std::make_unique<SimDs2438>(SimFixture::rom(0x26, 1)));
        monitor->setHumidity(SimTemperature(50.0));
        f.add(std::make_unique<SimDs2450>(SimFixture::rom(0x20, 2)));
        f.add(std::make_unique<SimDs2423>(SimFixture::rom(0x1D, 3)));
        f.add(std::make_unique<SimDs2413>(SimFixture::rom(0x3A, 4)));
        f.add(std::make_unique<SimDs2408>(SimFixture::rom(0x29, 5)));
        MeasurementSession session(&f.backend());
        session.sensor().setHumidityDevices({QStringLiteral("*")});
        QCOMPARE(session.refresh().openResult, 1);
        session.measure();
        QMap<int, qint64> trips;
        for (SensorDevice *device : session.allDevices()) {
            f.port().clearCounts();
            QCOMPARE(session.sensor().readDevice(*device), 1);
            trips.insert(device->family, f.port().turnarounds());
            for (const SensorChannel &channel : device->channels)
                QVERIFY2(!std::isnan(channel.value), qPrintable(channel.type));
        }
        QCOMPARE(trips, (QMap<int, qint64>{{0x26, 9}, {0x20, 4}, {0x1D, 1}, {0x3A, 1}, {0x29, 1}}));
    }

    // One orvexctl run over the bus of fixed values with every output: the
    // files hold counts whole, states as 0 and 1, volts to the digit the chip
    // resolves; owread finds every property under the names general-purpose
    // owservers give them; Home Assistant's discovery has a counter with
    // state_class total_increasing, the states as binary sensors, the volts
    // and the humidity with their device classes, the DS1825 as what it is;
    // promtool accepts the metrics, a counter family among them.
    void everyOutputInOneRun()
    {
        for (const char *program : {"owread", "promtool"}) {
            if (QStandardPaths::findExecutable(QLatin1String(program)).isEmpty())
                QFAIL(qPrintable(QStringLiteral("%1 is missing: run tools/install-deps --test").arg(QLatin1String(program))));
        }
        if (MqttTestBroker::executable().isEmpty())
            QFAIL("mosquitto is missing: run tools/install-deps --test");
        MqttTestBroker broker;
        QVERIFY2(broker.start(), qPrintable(broker.error()));
        MqttTestSubscriber listener(QStringLiteral("families"), {QStringLiteral("homeassistant/#")});
        QVERIFY(listener.connectTo(broker.port()));
        QTemporaryDir home, record;
        const quint16 owPort = freePort(), metricsPort = freePort();
        TestProcess ctl(QStringLiteral(ORVEXCTL_BIN),
                        {"XDG_CONFIG_HOME=" + home.path() + "/config", "XDG_DATA_HOME=" + home.path() + "/data"});
        ctl.start({"read", "--bus=sim:" + SimFixture::busFile("families.json"), "--fast", "--cycles", "1000000",
                   "--interval", "10", "--record", record.path(), "--template", "%SN1W%_%SC%", "--mqtt",
                   broker.url(QStringLiteral("lab")), "--owserver", QString::number(owPort), "--metrics",
                   QString::number(metricsPort), "--alarm", "EE0655443322111D=:100000",
                   "--alarm", "2005554433221120/3=0:5.2"});
        QVERIFY(ctl.waitForLines(3 * 37)); // three cycles of 37 channels

        const QString server = QStringLiteral("127.0.0.1:%1").arg(owPort);
        // In owserver's 12-wide field with the digits the table shows: volts
        // of a DS2450 to 4 decimals, a DS2438's vis to 5, its humidity to 1.
        const struct
        {
            const char *path;
            const char *text;
        } floats[] = {
            {"/22.112233445501/temperature", "-12.38"}, {"/42.112233445502/temperature", "40.50"},
            {"/3B.112233445503/temperature", "23.25"},  {"/3B.112233445509/thermocouple", "300.71"},
            {"/26.112233445504/temperature", "24.00"},  {"/26.112233445504/VDD", "5.00"},
            {"/26.112233445504/VAD", "2.20"},           {"/26.112233445504/vis", "0.01245"},
            {"/26.112233445504/humidity", "45.0"},      {"/26.112233445504/HIH4000/humidity", "45.0"},
            {"/20.112233445505/volt.A", "1.2500"},      {"/20.112233445505/volt.D", "5.0999"},
        };
        for (const auto &f : floats)
            QCOMPARE(owread(server, QLatin1String(f.path)), QByteArray(f.text).rightJustified(12));
        QCOMPARE(owread(server, "/3B.112233445503/type"), QByteArray("DS1825"));
        QCOMPARE(owread(server, "/3B.112233445509/type"), QByteArray("MAX31850"));
        QCOMPARE(owread(server, "/1D.112233445506/counter.A"), QByteArray("      123456"));
        QCOMPARE(owread(server, "/1D.112233445506/counter.B"), QByteArray("  4294967290"));
        // PIO A pulled low by its own output, B driven low: nothing sensed high.
        QCOMPARE(owread(server, "/3A.112233445507/sensed.A") + owread(server, "/3A.112233445507/sensed.B")
                     + owread(server, "/3A.112233445507/PIO.A") + owread(server, "/3A.112233445507/PIO.B")
                     + owread(server, "/3A.112233445507/latch.A"),
                 QByteArray("00101"));
        QByteArray pios;
        for (int i = 0; i < 8; ++i)
            pios += owread(server, QStringLiteral("/29.112233445508/sensed.%1").arg(i));
        QCOMPARE(pios, QByteArray("00100101")); // 0xA5 with PIO 0 and 1 pulled low
        QCOMPARE(owread(server, "/26.112233445504/current"), QByteArray("error"));

        // The files: the chip's digits, a line for each cycle.
        QCOMPARE(fileValues(record.path(), "EE0655443322111D", 0).value(0), QStringLiteral("123456"));
        QCOMPARE(fileValues(record.path(), "EC0755443322113A", 2).value(0), QStringLiteral("1"));
        QCOMPARE(fileValues(record.path(), "2005554433221120", 0).value(0), QStringLiteral("1,2500"));
        QCOMPARE(fileValues(record.path(), "F004554433221126", 3).value(0), QStringLiteral("0,01245"));
        QVERIFY(fileValues(record.path(), "1108554433221129", 15).size() >= 3);

        // Alarms on a count and a voltage: the count above its limit.
        QFile alarms(record.path() + QStringLiteral("/alarms.csv"));
        QVERIFY(alarms.open(QIODevice::ReadOnly));
        const QByteArray alarmLines = alarms.readAll();
        QVERIFY2(alarmLines.contains("EE0655443322111D") && !alarmLines.contains("2005554433221120"), alarmLines.constData());

        // Home Assistant's discovery, field by field.
        auto config = [&](const QString &component, const QString &id) {
            QJsonObject found;
            for (const QByteArray &payload : listener.payloads(QStringLiteral("homeassistant/") + component + "/+/" + id + "/config"))
                found = QJsonDocument::fromJson(payload).object();
            return found;
        };
        QTRY_VERIFY_WITH_TIMEOUT(!config("sensor", "EE0655443322111D_1").isEmpty(), 10000);
        const QJsonObject counter = config("sensor", "EE0655443322111D_0");
        QCOMPARE(counter.value("state_class").toString(), QStringLiteral("total_increasing"));
        QVERIFY(!counter.contains("device_class"));
        QCOMPARE(counter.value("unit_of_measurement").toString(), QStringLiteral("count"));
        QCOMPARE(counter.value("value_template").toString(), QStringLiteral("{{ value_json.value }}"));
        const QJsonObject pio = config("binary_sensor", "1108554433221129_3");
        QCOMPARE(pio.value("payload_on").toString(), QStringLiteral("ON"));
        QCOMPARE(pio.value("payload_off").toString(), QStringLiteral("OFF"));
        // A state renders ON or OFF, a failed reading (null) unknown.
        QCOMPARE(pio.value("value_template").toString(),
                 QStringLiteral("{{ none if value_json.value is none else ('ON' if value_json.value == 1 else 'OFF') }}"));
        QVERIFY(!pio.contains("state_class") && !pio.contains("unit_of_measurement"));
        QVERIFY(config("sensor", "1108554433221129_3").isEmpty());
        const QJsonObject volts = config("sensor", "2005554433221120_1");
        QCOMPARE(volts.value("device_class").toString(), QStringLiteral("voltage"));
        QCOMPARE(volts.value("unit_of_measurement").toString(), QStringLiteral("V"));
        QCOMPARE(volts.value("state_class").toString(), QStringLiteral("measurement"));
        const QJsonObject humidity = config("sensor", "F004554433221126_4");
        QCOMPARE(humidity.value("device_class").toString(), QStringLiteral("humidity"));
        QCOMPARE(humidity.value("unit_of_measurement").toString(), QStringLiteral("%"));
        QCOMPARE(config("sensor", "B00355443322113B_0").value("device").toObject().value("model").toString(),
                 QStringLiteral("DS1825"));

        // Prometheus: base units, the counts a counter family.
        QTcpSocket http;
        http.connectToHost(QHostAddress::LocalHost, metricsPort);
        QVERIFY(http.waitForConnected(2000));
        http.write("GET /metrics HTTP/1.0\r\n\r\n");
        QByteArray page;
        while (http.waitForReadyRead(1000))
            page += http.readAll();
        page = page.mid(page.indexOf("\r\n\r\n") + 4);
        QVERIFY(page.contains("# TYPE orvex_count_total counter\n"));
        QVERIFY(page.contains("orvex_count_total{rom=\"EE0655443322111D\""));
        QVERIFY(page.contains("} 123456\n"));
        QVERIFY(page.contains("orvex_voltage_volts{rom=\"2005554433221120\""));
        QVERIFY(page.contains("orvex_state{rom=\"1108554433221129\""));
        // Each chip's own reasons from 0: a counter going back only for the
        // counter, a conversion without strong pull-up only for the converter.
        const auto reasons = [&](const QByteArray &rom, const QByteArray &reason) {
            int lines = 0;
            for (const QByteArray &line : page.split('\n'))
                lines += line.startsWith("orvex_failed_readings_total{rom=\"" + rom + '"')
                         && line.contains(",reason=\"" + reason + "\"} 0");
            return lines;
        };
        QCOMPARE(reasons("EE0655443322111D", "counter_back"), 2);
        QCOMPARE(reasons("EE0655443322111D", "crc"), 2);
        QCOMPARE(reasons("2005554433221120", "no_pullup"), 4);
        QCOMPARE(reasons("2005554433221120", "counter_back"), 0);
        QCOMPARE(reasons("EE0655443322111D", "power_on_value"), 0);
        QProcess promtool;
        promtool.start(QStringLiteral("promtool"), {QStringLiteral("check"), QStringLiteral("metrics")});
        promtool.write(page);
        promtool.closeWriteChannel();
        QVERIFY(promtool.waitForFinished(20000));
        QVERIFY2(promtool.exitCode() == 0, promtool.readAllStandardError().constData());
        ctl.kill();
    }
};

QTEST_GUILESS_MAIN(TstFamilies)
#include "tst_families.moc"
