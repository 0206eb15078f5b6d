#include "i2c/i2cbridge.h"
#include "onewire/adapter.h"
#include "onewire/tmex.h"
#include "base/clock.h"
#include "bus/romcommands.h"
#include "sim/simds28e17.h"
#include "sim/simromdevice.h"
#include "sim/simsht3x.h"
#include "support/simfixture.h"
#include "support/trafficfloor.h"

#include <QtTest>
#include <functional>

namespace {

// A chip whose function layer answers every read slot with a fixed byte and
// remembers what the master wrote.
class EchoChip : public SimDevice
{
public:
    EchoChip(const QByteArray &rom, uint8_t answer) : SimDevice(rom), answer(answer) {}
    QString kind() const override { return QStringLiteral("echo"); }
    uint8_t functionByte(uint8_t fromMaster) override
    {
        if (fromMaster == 0xFF)
            return answer;
        written.append(char(fromMaster));
        return 0xFF;
    }
    int functionBit(int fromMaster) override { return fromMaster ? (answer & 1) : 0; }

    uint8_t answer;
    QByteArray written;
};

using FloorAndClock = QPair<qint64, qint64>;

// The floor of what `action` sends (the speed learnt from the log when
// `overdrive` is not given), and the virtual time it took.
FloorAndClock cost(SimFixture &f, const std::function<void()> &action, int overdrive = -1)
{
    f.backend().clearTraffic();
    const qint64 startUs = Clock::tickUs();
    action();
    TrafficFloor floor;
    if (overdrive >= 0)
        floor.setOverdrive(overdrive == 1);
    floor.addAll(f.backend().traffic());
    return {floor.totalUs(), Clock::tickUs() - startUs};
}

FloorAndClock both(qint64 us)
{
    return {us, us};
}

} // namespace

// The simulated bus under the TMEX calls. (Selection by Match ROM and by a
// search along one ROM is every driver test's: a Match ROM that stops
// comparing before the last byte fails tst_sameoutput's faults bus, a strong
// access that does not prove presence fails tst_cycle's silent thermometer.
// Corrupted reads are that bus's corruptReads device: writes corrupted too,
// or reads corrupted for ever, fail it.)
class TstSimWire : public QObject
{
    Q_OBJECT
private slots:
    // Devices that talk at once pull the line low wherever any of them sends 0.
    void wiredAnd()
    {
        SimFixture f;
        EchoChip *a = f.add(std::make_unique<EchoChip>(SimFixture::rom(0x28, 0x01), 0xF0));
        EchoChip *b = f.add(std::make_unique<EchoChip>(SimFixture::rom(0x28, 0x02), 0x3C));
        QCOMPARE(f.open(), 1);
        QCOMPARE(f.tmex.TMTouchReset(f.session), short(1));
        QCOMPARE(f.tmex.TMTouchByte(f.session, RomCommand::kSkip), short(RomCommand::kSkip));
        QCOMPARE(f.tmex.TMTouchByte(f.session, 0x4E), short(0x4E));
        QCOMPARE(f.tmex.TMTouchByte(f.session, 0xFF), short(0x30));
        QCOMPARE(f.tmex.TMTouchBit(f.session, 1), short(0));
        // Both heard the broadcast byte; the ROM command is not theirs.
        QCOMPARE(a->written, QByteArray("\x4E"));
        QCOMPARE(b->written, QByteArray("\x4E"));

        // Read ROM with both answering: the bytes collide into their AND.
        f.tmex.TMTouchReset(f.session);
        f.tmex.TMTouchByte(f.session, RomCommand::kRead);
        QByteArray collided;
        for (int i = 0; i < 8; ++i)
            collided.append(char(f.tmex.TMTouchByte(f.session, 0xFF)));
        QByteArray expected = a->rom();
        for (int i = 0; i < 8; ++i)
            expected[i] = char(expected.at(i) & b->rom().at(i));
        QCOMPARE(collided, expected);

        // Alone, a device answers Read ROM with its ROM and CRC and stays selected.
        b->setSilent(true);
        f.tmex.TMTouchReset(f.session);
        f.tmex.TMTouchByte(f.session, RomCommand::kRead);
        unsigned char read[8];
        for (unsigned char &byte : read)
            byte = uchar(f.tmex.TMTouchByte(f.session, 0xFF));
        QCOMPARE(QByteArray(reinterpret_cast<char *>(read), 8), a->rom());
        QCOMPARE(f.tmex.TMCRC(8, read, 0, 0), short(0));
        QCOMPARE(f.tmex.TMTouchByte(f.session, 0xFF), short(0xF0));
    }

    // The two state buffers keep separate current devices, and TMRom reads
    // back what it was given.
    void stateBuffersAreSeparate()
    {
        SimFixture f;
        SimDevice *a = f.add(std::make_unique<SimRomDevice>(SimFixture::rom(0x28, 0x01)));
        f.add(std::make_unique<SimRomDevice>(SimFixture::rom(0x28, 0x02)));
        QCOMPARE(f.open(), 1);
        uint8_t *access = f.adapter.accessStateBuffer();
        uint8_t fresh[64] = {};
        RomId read(8, 0);
        QVERIFY(f.tmex.TMRom(f.session, fresh, read.data()) < 1); // nothing current yet

        RomId rom = SimFixture::romId(a->rom());
        f.tmex.TMRom(f.session, access, rom.data());
        RomList roms;
        f.adapter.search(roms);
        QCOMPARE(roms.size(), 2);
        read.fill(0);
        QVERIFY(f.tmex.TMRom(f.session, access, read.data()) >= 1);
        QCOMPARE(read, rom);
    }

    // The time charged: the benchmark's floor, computed from the traffic log
    // alone, against sums worked out by hand from the 1-Wire timing table
    // (reset 960 µs, slot 70 µs, byte 560 µs at standard speed; 121, 10 and
    // 80 µs in overdrive), and against the time the simulated bus charged.
    // Here at standard speed (a chip on the bus does not follow overdrive).
    void timeAtStandardSpeed()
    {
        SimFixture f;
        SimDevice *plain = f.add(std::make_unique<SimRomDevice>(SimFixture::rom(0x01, 0x4E2A1B)));
        auto *bridge = f.add(std::make_unique<SimDs28e17>(SimFixture::rom(0x19, 0x0B812E5C)));
        bridge->i2c().add(std::make_unique<SimSht3x>());
        uint8_t *state = f.adapter.accessStateBuffer();

        // Opening the session tries overdrive, which not every device
        // follows: standard reset, Overdrive Skip ROM, overdrive reset,
        // standard reset: 960 + 560 + 121 + 960 µs.
        QCOMPARE(cost(f, [&] { QCOMPARE(f.open(), 1); }, 0), both(2601));
        QVERIFY(!f.bus().overdrive());
        QCOMPARE(cost(f, [&] { f.tmex.TMTouchReset(f.session); }, 0), both(960));

        // Match ROM (TMAccess): a reset and 9 bytes, 960 + 9 × 560 = 6000 µs.
        RomId rom = SimFixture::romId(plain->rom());
        QCOMPARE(cost(f, [&] { f.tmex.TMRom(f.session, state, rom.data()); f.tmex.TMAccess(f.session, state); }, 0), both(6000));

        // A search of the two devices: two passes of a reset, the Search ROM
        // byte and 64 × 3 slots (960 + 560 + 192 × 70 = 14960 µs each); the
        // TMNext that finds nothing more sends nothing.
        RomList roms;
        QCOMPARE(cost(f, [&] { f.adapter.search(roms); }, 0), both(2 * 14960));
        QCOMPARE(roms.size(), 2);
        QCOMPARE(f.backend().callCount(QStringLiteral("TMNext")), 2);

        // One bridge write as an SHT3x measurement begins: the selection
        // (TMStrongAccess, 14960 µs), the 7-byte packet 4B 88 02 2C 06 CRC CRC
        // (3920 µs), two busy bits with the 1 ms poll between them (2 × 70 +
        // 1000 µs: 3 I2C bytes of 90 µs at 100 kHz outlast the first slot),
        // status and write status (1120 µs), then the sensor's 15 ms wait.
        RomId bridgeRom = SimFixture::romId(bridge->rom());
        I2cBridge transport(f.tmex, &f.session, state, bridgeRom.data(), nullptr); // sets 100 kHz
        const qint64 writeUs = 14960 + 3920 + 2 * 70 + 1000 + 1120;
        QCOMPARE(cost(f, [&] {
                     QVERIFY(f.tmex.selectDevice(f.session, state, bridgeRom.data()));
                     QCOMPARE(transport.writeData(0x88, QByteArray::fromHex("2C06"), I2cBridge::kWithStop), 2);
                     Clock::sleepMs(15);
                 }, 0),
                 both(writeUs + 15000));
        QCOMPARE(f.backend().touchedBytes(), QByteArray::fromHex("4B88022C064D53FFFF"));
        QCOMPARE(f.backend().callCount(QStringLiteral("TMTouchBit")), 2);

        // A write the sensor refuses (no such command acknowledged) is given
        // up at once: no sensor wait in the floor.
        const FloorAndClock refused = cost(f, [&] {
            QVERIFY(f.tmex.selectDevice(f.session, state, bridgeRom.data()));
            QCOMPARE(transport.writeData(0x8A, QByteArray::fromHex("2C06"), I2cBridge::kWithStop),
                     I2cBridge::kTransferFailed);
        }, 0);
        QCOMPARE(refused.first, refused.second);
        QVERIFY(refused.first < writeUs + 15000);
    }

    // In overdrive: trying it, which succeeds, 960 + 560 + 121 µs (the floor
    // learns the speed from the log, as the benchmark feeds it); a reset
    // 121 µs, Match ROM 121 + 72 × 10 = 841 µs, a search of the one device
    // 121 + 8 × 10 + 192 × 10 = 2121 µs.
    void timeInOverdrive()
    {
        SimFixture f;
        SimDevice *chip = f.add(std::make_unique<SimRomDevice>(SimFixture::rom(0x01, 0x77), true));
        QCOMPARE(cost(f, [&] { QCOMPARE(f.open(), 1); }), both(1641));
        QVERIFY(f.bus().overdrive());
        uint8_t *state = f.adapter.accessStateBuffer();
        RomId rom = SimFixture::romId(chip->rom());
        QCOMPARE(cost(f, [&] { f.tmex.TMTouchReset(f.session); }, 1), both(121));
        QCOMPARE(cost(f, [&] { f.tmex.TMRom(f.session, state, rom.data()); f.tmex.TMAccess(f.session, state); }, 1), both(841));
        RomList roms;
        QCOMPARE(cost(f, [&] { f.adapter.search(roms); }, 1), both(2121));
        QCOMPARE(roms.size(), 1);
    }
};

QTEST_MAIN(TstSimWire)
#include "tst_simwire.moc"
