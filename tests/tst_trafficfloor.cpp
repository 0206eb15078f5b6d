#include "i2c/i2cbridge.h"
#include "onewire/adapter.h"
#include "onewire/tmex.h"
#include "platform/clock.h"
#include "sim/simds28e17.h"
#include "sim/simromdevice.h"
#include "sim/simsht3x.h"
#include "sim/simtrafficfloor.h"
#include "support/simfixture.h"

#include <QtTest>
#include <functional>

// The benchmark's floor, computed from the traffic log alone, against sums
// worked out by hand from the 1-Wire timing table (reset 960 µs, slot 70 µs,
// byte 560 µs at standard speed; 121, 10 and 80 µs in overdrive) — and
// against the time the simulated bus actually charged.
namespace {

struct Cost
{
    qint64 floorUs = 0;
    qint64 clockUs = 0;
    int bits = 0;
};

// The floor of what `action` sends, and the virtual time it took.
Cost cost(SimFixture &f, bool overdrive, const std::function<void()> &action)
{
    f.backend().clearTraffic();
    const qint64 startUs = Clock::tickUs();
    action();
    Cost c;
    c.clockUs = Clock::tickUs() - startUs;
    SimTrafficFloor floor;
    floor.setOverdrive(overdrive);
    floor.addAll(f.backend().traffic());
    c.floorUs = floor.totalUs();
    c.bits = f.backend().callCount(QStringLiteral("TMTouchBit"));
    return c;
}

RomId romOf(SimDevice *device)
{
    return SimFixture::romId(device->rom());
}

} // namespace

class TstTrafficFloor : public QObject
{
    Q_OBJECT
private slots:
    // At standard speed (a chip on the bus does not follow overdrive).
    void standardSpeedTransactions()
    {
        SimFixture f;
        SimDevice *plain = f.add(std::make_unique<SimRomDevice>(SimFixture::rom(0x01, 0x4E2A1B)));
        auto *bridge = f.add(std::make_unique<SimDs28e17>(SimFixture::rom(0x19, 0x0B812E5C)));
        bridge->i2c().add(std::make_unique<SimSht3x>());
        uint8_t *state = Adapter::instance().accessStateBuffer();

        // Opening the session tries overdrive, which not every device
        // follows: standard reset, Overdrive Skip ROM, overdrive reset,
        // standard reset: 960 + 560 + 121 + 960 µs.
        Cost c = cost(f, false, [&] { QCOMPARE(f.open(), 1); });
        QVERIFY(!f.bus().overdrive());
        QCOMPARE(c.floorUs, 2601);
        QCOMPARE(c.clockUs, 2601);

        // A reset: 960 µs.
        c = cost(f, false, [&] { TMTouchReset(f.session); });
        QCOMPARE(c.floorUs, 960);
        QCOMPARE(c.clockUs, 960);

        // Match ROM (TMAccess): a reset and 9 bytes, 960 + 9 × 560 = 6000 µs.
        RomId rom = romOf(plain);
        c = cost(f, false, [&] {
            TMRom(f.session, state, rom.data());
            TMAccess(f.session, state);
        });
        QCOMPARE(c.floorUs, 6000);
        QCOMPARE(c.clockUs, 6000);

        // A search of the two devices: two passes of a reset, the Search ROM
        // byte and 64 × 3 slots (960 + 560 + 192 × 70 = 14960 µs each); the
        // TMNext that finds nothing more sends nothing.
        RomList roms;
        c = cost(f, false, [&] { QCOMPARE(Adapter::instance().search(roms), 1); });
        QCOMPARE(roms.size(), 2);
        QCOMPARE(f.backend().callCount(QStringLiteral("TMNext")), 2);
        QCOMPARE(c.floorUs, 2 * 14960);
        QCOMPARE(c.clockUs, 2 * 14960);

        // One bridge write as an SHT3x measurement begins: the selection
        // (TMStrongAccess, 14960 µs), the 7-byte packet 4B 88 02 2C 06 CRC CRC
        // (3920 µs), two busy bits with the 1 ms poll between them (2 × 70 +
        // 1000 µs: 3 I2C bytes of 90 µs at 100 kHz outlast the first slot),
        // status and write status (1120 µs), then the sensor's 15 ms wait.
        RomId bridgeRom = romOf(bridge);
        I2cBridge transport(&f.session, state, bridgeRom.data(), nullptr); // sets 100 kHz
        c = cost(f, false, [&] {
            QVERIFY(I2cBridge::selectDevice(&f.session, state, bridgeRom.data()));
            QCOMPARE(transport.writeData(0x88, QByteArray::fromHex("2C06"), I2cBridge::kWithStop), 2);
            Clock::sleepMs(15);
        });
        QCOMPARE(f.backend().touchedBytes(), QByteArray::fromHex("4B88022C064D53FFFF"));
        QCOMPARE(c.bits, 2);
        QCOMPARE(c.floorUs, 14960 + 3920 + 2 * 70 + 1000 + 1120 + 15000);
        QCOMPARE(c.clockUs, c.floorUs);

        // A write the sensor refuses (no such command acknowledged) is given
        // up at once: no sensor wait in the floor.
        c = cost(f, false, [&] {
            QVERIFY(I2cBridge::selectDevice(&f.session, state, bridgeRom.data()));
            QCOMPARE(transport.writeData(0x8A, QByteArray::fromHex("2C06"), I2cBridge::kWithStop),
                     I2cBridge::kTransferFailed);
        });
        QCOMPARE(c.floorUs, c.clockUs);
        QVERIFY(c.floorUs < 14960 + 3920 + 2 * 70 + 1000 + 1120 + 15000);
    }

    // In overdrive: a reset 121 µs, Match ROM 121 + 72 × 10 = 841 µs.
    void overdriveTransactions()
    {
        SimFixture f;
        SimDevice *chip = f.add(std::make_unique<SimRomDevice>(SimFixture::rom(0x01, 0x77), true));
        QCOMPARE(f.open(), 1);
        QVERIFY(f.bus().overdrive());
        // The floor learns the speed from the log, as the benchmark feeds it.
        RomId rom = romOf(chip);
        // Trying overdrive, which succeeds: 960 + 560 + 121 µs; the floor
        // goes on in overdrive.
        Adapter::instance().forgetSession();
        f.backend().clearTraffic();
        const qint64 startUs = Clock::tickUs();
        QCOMPARE(f.open(), 1);
        SimTrafficFloor fromLog;
        fromLog.addAll(f.backend().traffic());
        QVERIFY(fromLog.overdrive());
        QCOMPARE(fromLog.totalUs(), 1641);
        QCOMPARE(Clock::tickUs() - startUs, 1641);

        Cost c = cost(f, true, [&] { TMTouchReset(f.session); });
        QCOMPARE(c.floorUs, 121);
        QCOMPARE(c.clockUs, 121);
        c = cost(f, true, [&] {
            TMRom(f.session, Adapter::instance().accessStateBuffer(), rom.data());
            TMAccess(f.session, Adapter::instance().accessStateBuffer());
        });
        QCOMPARE(c.floorUs, 841);
        QCOMPARE(c.clockUs, 841);
    }
};

QTEST_MAIN(TstTrafficFloor)
#include "tst_trafficfloor.moc"
