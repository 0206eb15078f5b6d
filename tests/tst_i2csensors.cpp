#include "i2c/bmp280sensor.h"
#include "i2c/d6fsensor.h"
#include "i2c/hdc1080sensor.h"
#include "i2c/heaterschedule.h"
#include "i2c/scd30sensor.h"
#include "i2c/sht3xsensor.h"
#include "i2c/sts3xsensor.h"
#include "bus/crc.h"
#include "base/clock.h"
#include "sim/simbmp280.h"
#include "sim/simd6f.h"
#include "sim/simhdc1080.h"
#include "sim/simscd30.h"
#include "sim/simsht3x.h"
#include "sim/simsts3x.h"
#include "support/bridgerig.h"

#include <QtTest>
#include <cmath>

namespace {

// A driver on the rig's bridge, as readSensors makes one.
template <typename Driver>
struct On
{
    explicit On(BridgeRig &rig)
        : bridge(rig.bridge())
        , driver(rig.session(), rig.state(), rig.romBuffer(), bridge.get())
    {
    }
    std::unique_ptr<I2cBridge> bridge;
    Driver driver;
};

// The packets' bytes without their CRC.
QVector<QByteArray> heads(const QVector<BridgePacket> &packets)
{
    QVector<QByteArray> list;
    for (const BridgePacket &p : packets)
        list << p.packet.left(p.packet.size() - 2);
    return list;
}

QVector<QByteArray> hexList(std::initializer_list<const char *> items)
{
    QVector<QByteArray> list;
    for (const char *item : items)
        list << fromHex(item);
    return list;
}

// Steps the clock to `ms` after `startMs`.
void stepTo(qint64 startMs, qint64 ms)
{
    Clock::advanceMs(startMs + ms - Clock::tickMs());
}

} // namespace

class TstI2cSensors : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false")); }
    // The SHT3x and STS3x: identifiers derived from the serial-number words
    // 0x1234 and 0x5678 (the hash in the middle six bytes), measurements, CRC
    // errors (check value: BE EF gives 92).
    void sensirion()
    {
        QCOMPARE(Crc::sensirion8(fromHex("BEEF")), uint8_t(0x92));

        BridgeRig rig;
        auto *sts = rig.add(std::make_unique<SimSts3x>());
        auto *sht = rig.add(std::make_unique<SimSht3x>());
        sts->setSerial(0x1234, 0x5678);
        sht->setSerial(0x1234, 0x5678);
        On<Sts3xSensor> s(rig);
        uint64_t serial = 0;
        int from = rig.mark();
        QCOMPARE(s.driver.probe(serial), 1);
        QCOMPARE(serial, Q_UINT64_C(0x95806BFDE105AC54));
        QVector<BridgePacket> p = rig.packets(from);
        QCOMPARE(heads(p), hexList({"4B94023780", "879506"}));
        QCOMPARE(p[1].data, fromHex("1234375678 7D"));

        On<Sht3xSensor> h(rig);
        QCOMPARE(h.driver.probe(serial), 1);
        QCOMPARE(serial, Q_UINT64_C(0x8F7D785637341243));
        // (A wrong CRC in the serial number is final, no second try: the
        // faults bus of tst_sameoutput fails when the probe tries again.)

        // Raw words to values, cut toward zero; the single shot, 15 ms, and
        // the read of 6 (SHT3x) or 4 (STS3x) bytes.
        const struct { int rawT, rawH; double celsius, percent; } cases[] = {
            {0, 32768, -45.0, 50.0}, {65535, 65535, 130.0, 100.0}, {26213, 0, 24.99, 0.0}, {10000, 1, -18.29, 0.0}};
        for (const auto &c : cases) {
            sht->pinRawTemperature(c.rawT);
            sht->pinRawHumidity(c.rawH);
            sts->pinRawTemperature(c.rawT);
            On<Sht3xSensor> h(rig);
            int from = rig.mark();
            QCOMPARE(h.driver.measure(), 1);
            QCOMPARE(h.driver.temperature(), c.celsius);
            QCOMPARE(h.driver.humidity(), c.percent);
            QCOMPARE(h.driver.heaterState(), -1);
            QVector<BridgePacket> p = rig.packets(from);
            QCOMPARE(heads(p), hexList({"4B88022C06", "878906"}));
            On<Sts3xSensor> s(rig);
            from = rig.mark();
            QCOMPARE(s.driver.measure(), 1);
            QCOMPARE(s.driver.temperature(), c.celsius);
            p = rig.packets(from);
            QCOMPARE(heads(p), hexList({"4B94022C06", "879504"}));
            QCOMPARE(uint8_t(p[1].data.at(3)), uint8_t(0xFF)); // the fourth byte: nothing driven
        }

        // At least 15 ms between the command and the read (the last ones sent).
        qint64 sentUs[256] = {};
        for (const TrafficEntry &e : rig.f.backend().traffic())
            sentUs[e.call == QLatin1String("TMTouchByte") ? e.args.value(0) & 0xFF : 0] = e.timeUs;
        QVERIFY(sentUs[0x87] - sentUs[0x4B] >= 15000);

        // A CRC error is tried again; four of them give -7 and no value.
        sht->failCrc(1);
        On<Sht3xSensor> retried(rig);
        const int before = sht->measurementsStarted();
        QCOMPARE(retried.driver.measure(), 1);
        QCOMPARE(sht->measurementsStarted() - before, 2);
        sht->failCrc(4);
        On<Sht3xSensor> failed(rig);
        QCOMPARE(failed.driver.measure(), I2cBridge::kCrcMismatch);
        QVERIFY(std::isnan(failed.driver.temperature()));
    }

    // Without "-sht" nothing of the heater; with it and no durations, every
    // measurement sends the heater off; the status word gives the heater state.
    void heaterCommands()
    {
        BridgeRig rig;
        auto *sht = rig.add(std::make_unique<SimSht3x>());
        sht->setSerial(0x0101, 0x0202);
        On<Sht3xSensor> plain(rig);
        uint64_t serial = 0;
        plain.driver.probe(serial);
        int from = rig.mark();
        plain.driver.measure();
        plain.driver.heaterStep();
        QCOMPARE(heads(rig.packets(from)), hexList({"4B88022C06", "878906"}));
        QCOMPARE(plain.driver.heaterState(), -1);

        rig.context.setShtMode(true);
        for (int i = 0; i < 2; ++i) {
            On<Sht3xSensor> h(rig);
            h.driver.probe(serial);
            from = rig.mark();
            h.driver.measure();
            h.driver.heaterStep();
            QCOMPARE(heads(rig.packets(from)), hexList({"4B88022C06", "878906", "4B8802F32D", "878903", "4B88023066"}));
            QCOMPARE(h.driver.heaterState(), 0);
        }
        QVERIFY(rig.context.heaterSchedules().find(serial));

        // The status register shows the heater.
        On<Sht3xSensor> h(rig);
        QVERIFY(h.driver.setHeater(true));
        QVERIFY(sht->heaterOn());
        uint16_t status = 0;
        QCOMPARE(h.driver.readStatus(status), 1);
        QVERIFY(status & (1u << 13));
        QCOMPARE(h.driver.measure(), 1);
        QCOMPARE(h.driver.heaterState(), 1);
        sht->failCrc(1);
        On<Sht3xSensor> bad(rig);
        QCOMPARE(bad.driver.readStatus(status), I2cBridge::kCrcMismatch);
    }

    // The heater schedule in virtual time, one measurement per step.
    void heaterSchedule()
    {
        BridgeRig rig;
        rig.context.setShtMode(true);
        auto *sht = rig.add(std::make_unique<SimSht3x>());

        // Pause 10 s, on 3 s: on, waited out in place, off; on again once
        // the pause is over by a whole second.
        sht->setSerial(0x1111, 0x0001);
        rig.context.heaterSchedules().setPauseS(10);
        rig.context.heaterSchedules().setOnTimeS(3);
        uint64_t serial = 0;
        auto step = [&] {
            On<Sht3xSensor> h(rig);
            h.driver.probe(serial);
            h.driver.heaterStep();
        };
        const qint64 start = Clock::tickMs();
        int commands = sht->heaterCommands();
        step();
        QCOMPARE(sht->heaterCommands() - commands, 2);
        QVERIFY(!sht->heaterOn());
        const qint64 offMs = Clock::tickMs();
        QVERIFY(offMs - start >= 3000 && offMs - start < 3300);
        int onAt = -1;
        for (int s = 1; s <= 15 && onAt < 0; ++s) {
            stepTo(offMs, s * 1000);
            commands = sht->heaterCommands();
            step();
            if (sht->heaterCommands() > commands)
                onAt = s;
        }
        QCOMPARE(onAt, 11);

        // Pause 30 s, on 20 s, a measurement every 10 s: on at 0, off at 30,
        // on again at 70.
        sht->setSerial(0x2222, 0x0002);
        rig.context.heaterSchedules().setPauseS(30);
        rig.context.heaterSchedules().setOnTimeS(20);
        const qint64 t0 = Clock::tickMs() + 1000;
        QStringList seen;
        for (int k = 0; k <= 8; ++k) {
            stepTo(t0, k * 10000);
            commands = sht->heaterCommands();
            step();
            if (sht->heaterCommands() > commands)
                seen << QStringLiteral("%1 %2").arg(k * 10).arg(sht->heaterOn() ? "on" : "off");
        }
        QCOMPARE(seen, QStringList({"0 on", "30 off", "70 on"}));

        // New durations (the spin boxes, as tst_bridgewindow checks) leave
        // the times already planned alone.
        const QDateTime nextOn = rig.context.heaterSchedules().of(serial).nextOn;
        rig.context.heaterSchedules().setPauseS(7);
        rig.context.heaterSchedules().setOnTimeS(2);
        QCOMPARE(rig.context.heaterSchedules().of(serial).nextOn, nextOn);
    }

    void hdc1080()
    {
        BridgeRig rig;
        auto *hdc = rig.add(std::make_unique<SimHdc1080>());
        hdc->setSerial(0x1234, 0x5678, 0x9A80);
        On<Hdc1080Sensor> h(rig);
        uint64_t serial = 0;
        int from = rig.mark();
        QCOMPARE(h.driver.probe(serial), 1);
        QCOMPARE(serial, Q_UINT64_C(0x123456789A80));
        QCOMPARE(heads(rig.packets(from)), hexList({"4B8001FB", "878102", "4B8001FC", "878102", "4B8001FD", "878102"}));

        const struct { int rawT, rawH; double celsius, percent; } cases[] = {
            {0x6666, 0x8000, 25.99, 50.0}, {0, 0xFFFF, -40.0, 99.9}, {0xFFFF, 0, 124.99, 0.0}};
        for (const auto &c : cases) {
            hdc->pinRawTemperature(c.rawT);
            hdc->pinRawHumidity(c.rawH);
            On<Hdc1080Sensor> m(rig);
            from = rig.mark();
            QCOMPARE(m.driver.measure(), 1);
            QCOMPARE(m.driver.temperature(), c.celsius);
            QCOMPARE(m.driver.humidity(), c.percent);
            QCOMPARE(heads(rig.packets(from)), hexList({"4B800100", "878102", "4B800101", "878102"}));
        }

        // The humidity fails in every attempt: the temperature stays, -10.
        hdc->stopAckingAfter(2);
        On<Hdc1080Sensor> half(rig);
        QCOMPARE(half.driver.measure(), I2cBridge::kTransferFailed);
        QCOMPARE(half.driver.temperature(), 124.99);
        QVERIFY(std::isnan(half.driver.humidity()));
    }

    // The manufacturer's worked example through the chip and the driver.
    void bmp280()
    {
        Bmp280Sensor::Calibration example{27504, 26435, -1000, 36477, -10685, 3024, 2855, 140, -7, 15500, -14600, 6000};
        double celsius = 0, kPa = 0;
        QVERIFY(Bmp280Sensor::compensate(example, 519888, 415148, &celsius, &kPa));
        QCOMPARE(celsius, 25.08);
        QCOMPARE(kPa, 100.65);
        int32_t tFine = 0;
        QCOMPARE(SimBmp280::compensateT(SimBmp280::Calibration(), 519888, &tFine), 2508);
        QCOMPARE(SimBmp280::compensateP(SimBmp280::Calibration(), 415148, tFine) / 256, uint32_t(100653));

        BridgeRig rig;
        auto *bmp = rig.add(std::make_unique<SimBmp280>());
        bmp->pinAdc(519888, 415148);
        bmp->setChipId(0x60); // not a BMP280's ID: read as one all the same
        On<Bmp280Sensor> b(rig);
        uint64_t serial = 0;
        QCOMPARE(b.driver.probe(serial), 1);
        QCOMPARE(serial, uint64_t(0x60));
        int from = rig.mark();
        QCOMPARE(b.driver.measure(), 1);
        QCOMPARE(b.driver.temperature(), 25.08);
        QCOMPARE(b.driver.pressure(), 100.65);
        QCOMPARE(heads(rig.packets(from)),
                 hexList({"4BEE02F500", "4BEE02F491", "5AEE01F7", "87EF06", "5AEE0188", "87EF18"}));
        QCOMPARE(bmp->conversionsStarted(), 1);

        // Values made from the wanted ones through the chip's calibration come back.
        bmp->pinAdc(-1, -1);
        bmp->setTemperature(SimTemperature(18.3));
        bmp->setPressure(SimTemperature(97654.0));
        On<Bmp280Sensor> round(rig);
        QCOMPARE(round.driver.measure(), 1);
        QVERIFY(std::fabs(round.driver.temperature() - 18.3) <= 0.011);
        QVERIFY(std::fabs(round.driver.pressure() - 97.65) <= 0.011);
        // (P1 = 0, no pressure after four attempts and the temperature kept,
        // is the faults bus of tst_sameoutput.)
    }

    void d6f()
    {
        QCOMPARE(D6fSensor::pressureFromRaw(1024), -50.0);
        QCOMPARE(D6fSensor::pressureFromRaw(31024), 0.0);
        QCOMPARE(D6fSensor::pressureFromRaw(61024), 50.0);
        QCOMPARE(D6fSensor::temperatureFromRaw(10214), 0.0);
        QCOMPARE(D6fSensor::temperatureFromRaw(10588), 374.0 / 37.39); // 10.0027, not cut

        BridgeRig rig;
        auto *d6f = rig.add(std::make_unique<SimD6f>());
        d6f->pinRawPressure(31024 + 600);
        d6f->pinRawTemperature(10588);
        On<D6fSensor> d(rig);
        uint64_t serial = 5;
        QCOMPARE(d.driver.probe(serial), 1);
        QVERIFY(d6f->initialised());
        int from = rig.mark();
        QCOMPARE(d.driver.measure(), 1);
        QCOMPARE(d.driver.pressure(), 1.0);
        QCOMPARE(d.driver.temperature(), 374.0 / 37.39);
        QCOMPARE(heads(rig.packets(from)), hexList({"4BD805 00D0401806", "4BD804 00D0512C", "5AD80107", "87D902",
                                                    "4BD804 00D0612C", "5AD80107", "87D902"}));
    }

    void scd30()
    {
        const struct { const char *text; uint64_t high, low; } serials[] = {
            {"0123456789ABCDEF0011", 0x0123, Q_UINT64_C(0x456789ABCDEF0011)},
            {"0123456789ABCDEF", 0, Q_UINT64_C(0x0123456789ABCDEF)},
            {"0123456789AB", Q_UINT64_C(0x0123456789AB), Q_UINT64_C(0x0123456789AB)},
            {"8123456789ABCDEF", 0, 0}, {"01-23-45", 0x012345, 0x012345}, {"", 0, 0}, {"XYZ", 0, 0}};
        for (const auto &s : serials) {
            uint64_t high = 1, low = 1;
            Scd30Sensor::splitSerial(s.text, &high, &low);
            QCOMPARE(high, s.high);
            QCOMPARE(low, s.low);
        }

        BridgeRig rig;
        auto *scd = rig.add(std::make_unique<SimScd30>());
        scd->setSerialText("0123-4567-89AB-CDEF-0011");
        scd->pinMeasurement(fromHex("43C80000 41C80000 42480000"));
        scd->failCrc(1); // the first serial answer is spoilt; the second try reads it
        On<Scd30Sensor> c(rig);
        QByteArray text("old");
        int from = rig.mark();
        QCOMPARE(c.driver.probe(text), 1);
        QCOMPARE(text, QByteArray("0123-4567-89AB-CDEF-0011"));
        QCOMPARE(heads(rig.packets(from)), hexList({"4BC202D033", "87C330", "4BC202D033", "87C330"}));
        from = rig.mark();
        QCOMPARE(c.driver.measure(), 18);
        QCOMPARE(heads(rig.packets(from)), hexList({"4BC2020202", "87C302", "4BC2020300", "87C312"}));
        QCOMPARE(c.driver.co2(), 400.0);
        QCOMPARE(c.driver.temperature(), 25.0);
        QCOMPARE(c.driver.humidity(), 50.0);

        // Read once, the measurement is not ready again within the 2 s interval.
        On<Scd30Sensor> again(rig);
        QCOMPARE(again.driver.measure(), Scd30Sensor::kNotReady);
        Clock::advanceMs(2000);
        On<Scd30Sensor> later(rig);
        QCOMPARE(later.driver.measure(), 18);
        // (A sensor never ready is the faults bus of tst_sameoutput.)
    }
};

QTEST_MAIN(TstI2cSensors)
#include "tst_i2csensors.moc"
