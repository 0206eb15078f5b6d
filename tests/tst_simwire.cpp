#include "onewire/adapter.h"
#include "onewire/tmex.h"
#include "platform/clock.h"
#include "sim/simromdevice.h"
#include "support/simfixture.h"

#include <QtTest>

namespace {

// A chip whose function layer answers every read slot with a fixed byte and
// remembers what the master wrote and when the strong pull-up changed.
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
    void onStrongPullup(bool on) override { pullups << on; }

    uint8_t answer;
    QByteArray written;
    QVector<bool> pullups;
};

const uint8_t kSkipRom = 0xCC;
const uint8_t kReadRom = 0x33;

} // namespace

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
        QCOMPARE(TMTouchReset(f.session), short(1));
        QCOMPARE(TMTouchByte(f.session, kSkipRom), short(kSkipRom));
        QCOMPARE(TMTouchByte(f.session, 0x4E), short(0x4E));
        QCOMPARE(TMTouchByte(f.session, 0xFF), short(0x30));
        QCOMPARE(TMTouchBit(f.session, 1), short(0));
        // Both heard the broadcast byte; the ROM command is not theirs.
        QCOMPARE(a->written, QByteArray("\x4E"));
        QCOMPARE(b->written, QByteArray("\x4E"));

        // Read ROM with both answering: the bytes collide into their AND.
        TMTouchReset(f.session);
        TMTouchByte(f.session, kReadRom);
        QByteArray collided;
        for (int i = 0; i < 8; ++i)
            collided.append(char(TMTouchByte(f.session, 0xFF)));
        QByteArray expected = a->rom();
        for (int i = 0; i < 8; ++i)
            expected[i] = char(expected.at(i) & b->rom().at(i));
        QCOMPARE(collided, expected);

        // Alone, a device answers Read ROM with its ROM and CRC and stays selected.
        b->setSilent(true);
        TMTouchReset(f.session);
        TMTouchByte(f.session, kReadRom);
        unsigned char read[8];
        for (unsigned char &byte : read)
            byte = uchar(TMTouchByte(f.session, 0xFF));
        QCOMPARE(QByteArray(reinterpret_cast<char *>(read), 8), a->rom());
        QCOMPARE(TMCRC(8, read, 0, 0), short(0));
        QCOMPARE(TMTouchByte(f.session, 0xFF), short(0xF0));
    }

    // TMAccess (reset, Match ROM and the 8 ROM bytes) leaves only the
    // matching device selected, an absent ROM nobody. TMStrongAccess proves
    // presence by a search along the one ROM, past neighbours that agree
    // with it on most of their bits; a device gone silent fails it.
    void selection()
    {
        SimFixture f;
        EchoChip *a = f.add(std::make_unique<EchoChip>(SimFixture::rom(0x28, 0x800000000000ULL), 0x11));
        f.add(std::make_unique<EchoChip>(SimFixture::rom(0x28, 0x000000000000ULL), 0x22));
        QCOMPARE(f.open(), 1);
        uint8_t *buffer = Adapter::instance().accessStateBuffer();
        RomId rom = SimFixture::romId(a->rom());
        QVERIFY(TMRom(f.session, buffer, rom.data()) >= 1);
        TMAccess(f.session, buffer);
        QCOMPARE(TMTouchByte(f.session, 0xFF), short(0x11));
        QCOMPARE(TMStrongAccess(f.session, buffer), short(1));
        QCOMPARE(TMTouchByte(f.session, 0xFF), short(0x11));

        RomId absent = SimFixture::romId(SimFixture::rom(0x28, 0x400000000000ULL));
        TMRom(f.session, buffer, absent.data());
        TMAccess(f.session, buffer);
        QCOMPARE(TMTouchByte(f.session, 0xFF), short(0xFF)); // the line stays high
        QCOMPARE(TMStrongAccess(f.session, buffer), short(0));

        TMRom(f.session, buffer, rom.data());
        a->setSilent(true);
        QCOMPARE(TMStrongAccess(f.session, buffer), short(0));
    }

    // The two state buffers keep separate current devices, and TMRom reads
    // back what it was given.
    void stateBuffersAreSeparate()
    {
        SimFixture f;
        SimDevice *a = f.add(std::make_unique<SimRomDevice>(SimFixture::rom(0x28, 0x01)));
        f.add(std::make_unique<SimRomDevice>(SimFixture::rom(0x28, 0x02)));
        QCOMPARE(f.open(), 1);
        uint8_t *access = Adapter::instance().accessStateBuffer();
        uint8_t fresh[64] = {};
        RomId read(8, 0);
        QVERIFY(TMRom(f.session, fresh, read.data()) < 1); // nothing current yet

        RomId rom = SimFixture::romId(a->rom());
        TMRom(f.session, access, rom.data());
        RomList roms;
        Adapter::instance().search(roms);
        QCOMPARE(roms.size(), 2);
        read.fill(0);
        QVERIFY(TMRom(f.session, access, read.data()) >= 1);
        QCOMPARE(read, rom);
    }

    // Armed with (0, 1, 2), the pull-up starts after the next byte; (0, 0, 0)
    // ends it. Corrupted reads spoil only the bytes read, as many as asked.
    void strongPullupAndCorruptReads()
    {
        SimFixture f;
        EchoChip *a = f.add(std::make_unique<EchoChip>(SimFixture::rom(0x28, 0x01), 0x5A));
        QCOMPARE(f.open(), 1);
        TMTouchReset(f.session);
        TMTouchByte(f.session, kSkipRom);
        TMOneWireLevel(f.session, 0, 1, 2);
        QVERIFY(!f.bus().strongPullupOn());
        TMTouchByte(f.session, 0x44);
        QVERIFY(f.bus().strongPullupOn());
        QCOMPARE(a->written, QByteArray("\x44"));
        QCOMPARE(a->pullups, QVector<bool>({true}));
        TMOneWireLevel(f.session, 0, 0, 0);
        QVERIFY(!f.bus().strongPullupOn());
        QCOMPARE(a->pullups, QVector<bool>({true, false}));
        // Disarmed: further bytes leave the line at normal level.
        QCOMPARE(TMTouchByte(f.session, 0xFF), short(0x5A));
        QVERIFY(!f.bus().strongPullupOn());

        f.bus().corruptReads(a, 2, 0x81);
        QCOMPARE(TMTouchByte(f.session, 0x4E), short(0x4E)); // writes are not corrupted
        QCOMPARE(TMTouchByte(f.session, 0xFF), short(0x5A ^ 0x81));
        QCOMPARE(TMTouchByte(f.session, 0xFF), short(0x5A ^ 0x81));
        QCOMPARE(TMTouchByte(f.session, 0xFF), short(0x5A));
    }
};

QTEST_APPLESS_MAIN(TstSimWire)
#include "tst_simwire.moc"
