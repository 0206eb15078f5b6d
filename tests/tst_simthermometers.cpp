#include "onewire/adapter.h"
#include "onewire/crc.h"
#include "onewire/tmex.h"
#include "platform/clock.h"
#include "sensors/ds18b20.h"
#include "sensors/ds18s20.h"
#include "sensors/max31850.h"
#include "sim/simbusloader.h"
#include "sim/simdevice.h"
#include "sim/simds18b20.h"
#include "sim/simds18s20.h"
#include "support/simfixture.h"

#include <QtTest>
#include <cmath>

namespace {

// Selects every device with Skip ROM and sends `bytes`; returns what came back.
QByteArray broadcast(SimFixture &f, const QByteArray &bytes)
{
    TMTouchReset(f.session);
    TMTouchByte(f.session, 0xCC);
    QByteArray answer;
    for (char b : bytes)
        answer.append(char(TMTouchByte(f.session, uint8_t(b))));
    return answer;
}

QByteArray readScratchpad(SimFixture &f)
{
    return broadcast(f, QByteArray::fromHex("BEFFFFFFFFFFFFFFFFFF")).mid(1);
}

template <typename Driver>
int readWith(SimFixture &f, const QByteArray &rom, int mode, double *value)
{
    RomId romBuffer = SimFixture::romId(rom);
    Driver driver(&f.session, Adapter::instance().accessStateBuffer(), romBuffer.data(), nullptr);
    driver.setWait(1000);
    return driver.convertAndRead(value, mode);
}

int readMax(SimFixture &f, const QByteArray &rom, double *hot, double *offset = nullptr, uint8_t *subtype = nullptr)
{
    RomId romBuffer = SimFixture::romId(rom);
    Max31850 driver(&f.session, Adapter::instance().accessStateBuffer(), romBuffer.data(), nullptr);
    double cold = 0;
    const int result = driver.convertAndRead(hot, &cold);
    bool emulator = false;
    float stored = 0;
    if (offset && driver.readCalibration(&stored, &emulator) == 1)
        *offset = stored;
    if (subtype)
        driver.readSubtype(subtype);
    return result;
}

std::unique_ptr<SimBackend> load(const char *devicesJson, QString *error)
{
    return SimBusLoader::load(QByteArray("{\"devices\": [") + devicesJson + "]}", QStringLiteral("test"), error);
}

} // namespace

class TstSimThermometers : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false")); }

    // Bus-file keys: pinned emulator registers and the faults on demand.
    void busFileKeys()
    {
        QString error;
        auto backend = load(R"(
            {"type": "pt100emulator", "scratchpad": "90010019F0FFFFFF", "offset": 1.0, "subtypeCode": 1},
            {"type": "max31850", "fault": "shortVdd"},
            {"type": "ds18b20", "resolution": 9, "temperature": 25.0625, "powerOnReads": 1, "crcErrors": 1},
            {"type": "ds18s20", "temperature": 21, "countReadings": 1, "th": 255, "tl": 246}
        )", &error);
        QVERIFY2(backend, qPrintable(error));
        SimFixture f(std::move(backend));
        QCOMPARE(f.open(), 1);
        auto rom = [&](int i) { return f.bus().device(i)->rom(); };
        double v = 0, offset = 0;
        uint8_t subtype = 0;
        QCOMPARE(readMax(f, rom(0), &v, &offset, &subtype), 1);
        QCOMPARE(v, 25.77);
        QCOMPARE(offset, 1.0);
        QCOMPARE(subtype, uint8_t(2));
        QCOMPARE(readMax(f, rom(1), &v), Max31850::kNoTemperature);
        // The power-on reading, the CRC error and the COUNT reading cost an attempt each.
        QCOMPARE(readWith<Ds18b20>(f, rom(2), Ds18x20::ConvertThis, &v), 1);
        QCOMPARE(v, 25.0);
        QCOMPARE(static_cast<SimDs18b20 *>(f.bus().device(2))->conversionsStarted(), 2);
        QCOMPARE(readWith<Ds18s20>(f, rom(3), Ds18x20::ConvertThis, &v), 1);
        QCOMPARE(v, 21.0);
        auto *s20 = static_cast<SimDs18s20 *>(f.bus().device(3));
        QCOMPARE(s20->conversionsStarted(), 2);
        QCOMPARE(s20->eeprom(), QByteArray::fromHex("FFF6"));
    }

    // A parasite-powered chip converts only under the strong pull-up (the
    // driver's use of it: tst_ds18x20); a reset during the conversion browns
    // it out. Read Power Supply tells.
    void parasitePower()
    {
        SimFixture f;
        auto *chip = f.add(std::make_unique<SimDs18b20>(SimFixture::rom(0x28, 0x9), 30.5));
        chip->setParasite(true);
        QCOMPARE(f.open(), 1);
        broadcast(f, QByteArray::fromHex("B4"));
        QCOMPARE(TMTouchBit(f.session, 1), short(0));

        broadcast(f, QByteArray::fromHex("44"));
        Clock::advanceMs(800);
        QCOMPARE(readScratchpad(f).left(2), QByteArray::fromHex("5005"));

        TMOneWireLevel(f.session, 0, 1, 2);
        broadcast(f, QByteArray::fromHex("44"));
        Clock::advanceMs(100);
        TMTouchReset(f.session);
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
        while (TMTouchBit(f.session, 1) == 0)
            ;
        const qint64 tookUs = Clock::tickUs() - start;
        QVERIFY2(tookUs >= 93750 && tookUs < 94000, qPrintable(QString::number(tookUs)));
        QCOMPARE(readScratchpad(f).left(2), QByteArray::fromHex("4001"));
    }
};

QTEST_MAIN(TstSimThermometers)
#include "tst_simthermometers.moc"
