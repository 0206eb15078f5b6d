#include "i2c/i2cbridge.h"
#include "i2c/multihub.h"
#include "bus/crc.h"
#include "onewire/tmex.h"
#include "base/clock.h"
#include "sim/simbmp280.h"
#include "sim/simsht3x.h"
#include "support/bridgerig.h"

#include <QTimer>
#include <QtTest>

// The DS28E17 transport and the multi-hub, through the simulated bridge:
// the packets on the wire, their bounds, the busy wait and the status bytes.
class TstI2cBridge : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false")); }

    // The CRC-16 check value, the two example packets, and what comes back
    // for them.
    void examplePackets()
    {
        QCOMPARE(uint16_t(~Crc::maxim16(QByteArray("123456789"))), uint16_t(0x44C2));
        BridgeRig rig;
        auto *sht = rig.add(std::make_unique<SimSht3x>());
        sht->pinRawTemperature(0x6666);
        auto bridge = rig.bridge();
        QVERIFY(rig.select());
        int from = rig.mark();
        QCOMPARE(bridge->writeData(0x88, fromHex("2C06"), I2cBridge::kWithStop), 2);
        QCOMPARE(rig.packetBytes(from), QVector<QByteArray>{fromHex("4B88022C064D53")});

        Clock::sleepMs(15);
        I2cBridge::accessDevice(rig.f.tmex, rig.session(), rig.state());
        from = rig.mark();
        QByteArray out("stale");
        QCOMPARE(bridge->readData(0x88, out, 6), 6);
        QCOMPARE(rig.packetBytes(from), QVector<QByteArray>{fromHex("878906A844")});
        QCOMPARE(out.left(2), fromHex("6666"));
    }

    // Lengths and modes out of range: -9 and nothing on the bus; the largest
    // lengths go out whole.
    void bounds()
    {
        BridgeRig rig;
        rig.add(std::make_unique<SimBmp280>());
        auto bridge = rig.bridge();
        QVERIFY(rig.select());
        QByteArray out;
        int from = rig.mark();
        QCOMPARE(bridge->writeData(0xEE, QByteArray(), 0), I2cBridge::kBadRequest);
        QCOMPARE(bridge->writeData(0xEE, QByteArray(27, char(0xF5)), 0), I2cBridge::kBadRequest);
        QCOMPARE(bridge->writeData(0xEE, fromHex("F500"), 2), I2cBridge::kBadRequest);
        // 257 would wrap to a length byte of 1 if it were taken modulo 256.
        for (int length : {0, 60, -1, 257}) {
            out = "x";
            QCOMPARE(bridge->readData(0xEE, out, length), I2cBridge::kBadRequest);
            QVERIFY(out.isEmpty());
        }
        QCOMPARE(rig.mark(), from); // nothing on the bus

        QCOMPARE(bridge->writeData(0xEE, QByteArray(26, char(0xF5)), 0), 26);
        const uint16_t writeCrc = uint16_t(~Crc::maxim16(fromHex("4BEE1A") + QByteArray(26, char(0xF5))));
        QCOMPARE(rig.packetBytes(from), QVector<QByteArray>{fromHex("4BEE1A") + QByteArray(26, char(0xF5))
                                                            + char(writeCrc & 0xFF) + char(writeCrc >> 8)});

        I2cBridge::accessDevice(rig.f.tmex, rig.session(), rig.state()); // a new command needs a new selection
        from = rig.mark();
        QCOMPARE(bridge->readData(0xEE, out, 59), 59);
        QCOMPARE(out.size(), 59);
        const uint16_t readCrc = uint16_t(~Crc::maxim16(fromHex("87EF3B")));
        QCOMPARE(rig.packetBytes(from), QVector<QByteArray>{fromHex("87EF3B") + char(readCrc & 0xFF) + char(readCrc >> 8)});
    }

    // The busy wait: 60 reads 1 ms apart processing events, then -1; a
    // status byte or a write-status byte that is not 0; a refused packet.
    void busyAndStatus()
    {
        BridgeRig rig;
        auto *sht = rig.add(std::make_unique<SimSht3x>());
        auto bridge = rig.bridge();
        QVERIFY(rig.select());

        rig.chip->setStuckBusy(1);
        int events = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, [&] { ++events; });
        ticker.start(0);
        int from = rig.mark();
        const qint64 startMs = Clock::tickMs();
        QCOMPARE(bridge->writeData(0x88, fromHex("3780"), 0), I2cBridge::kFailed);
        ticker.stop();
        QCOMPARE(rig.callCount("TMTouchBit", from), 60);
        QVERIFY(Clock::tickMs() - startMs >= 60);
        QVERIFY(events >= 59);
        QCOMPARE(bridge->waitWhileBusy(), I2cBridge::kFailed); // still stuck until a reset

        // After a reset the bridge works; a quick answer is found on the first or second poll.
        QVERIFY(rig.select());
        from = rig.mark();
        QCOMPARE(bridge->writeData(0x88, fromHex("3780"), 0), 2);
        QVERIFY(rig.callCount("TMTouchBit", from) <= 2);

        // A data byte not acknowledged: status 0, write status 1.
        sht->setNackData(true);
        I2cBridge::accessDevice(rig.f.tmex, rig.session(), rig.state());
        from = rig.mark();
        QCOMPARE(bridge->writeData(0x88, fromHex("3780"), 0), I2cBridge::kTransferFailed);
        QVector<BridgePacket> p = rig.packets(from);
        QCOMPARE(p[0].status, 0);
        QCOMPARE(p[0].writeStatus, 1);
        sht->setNackData(false);

        // An address not acknowledged: status bit 1; a read then fails with -1.
        I2cBridge::accessDevice(rig.f.tmex, rig.session(), rig.state());
        from = rig.mark();
        QCOMPARE(bridge->writeData(0x8A, fromHex("3780"), 0), I2cBridge::kTransferFailed);
        QCOMPARE(rig.packets(from)[0].status, int(SimDs28e17::kAddressNack));
        I2cBridge::accessDevice(rig.f.tmex, rig.session(), rig.state());
        QByteArray out;
        QCOMPARE(bridge->readData(0x8A, out, 2), I2cBridge::kFailed);
        I2cBridge::accessDevice(rig.f.tmex, rig.session(), rig.state());

        // A packet whose CRC does not match is refused before any I2C traffic.
        const int measurements = sht->measurementsStarted();
        const int transactions = rig.chip->transactions();
        for (int b : {0x4B, 0x88, 0x02, 0x2C, 0x06, 0x4D, 0x54})
            rig.f.tmex.TMTouchByte(rig.f.session, short(b));
        QCOMPARE(rig.f.tmex.TMTouchBit(rig.f.session, 1), short(0));
        QCOMPARE(rig.f.tmex.TMTouchByte(rig.f.session, 0xFF), short(SimDs28e17::kCrcError));
        QCOMPARE(rig.chip->transactions(), transactions);
        QCOMPARE(sht->measurementsStarted(), measurements);
    }

    // Speed and sleep are broadcasts; the speed sets how long a transaction
    // keeps the bridge busy (900 kHz is the configuration byte 02); a sleeping
    // bridge wakes at the next reset.
    void speedAndSleep()
    {
        BridgeRig rig;
        rig.add(std::make_unique<SimBmp280>());
        QCOMPARE(rig.chip->speedKHz(), 400); // power-on
        auto bridge = rig.bridge();
        QCOMPARE(rig.chip->speedKHz(), 100); // the broadcast is tst_cycle's

        // 25 bytes at 100 kHz keep it busy about 2.3 ms, at 900 kHz about 0.25 ms.
        auto pollsForRead = [&] {
            rig.select();
            QByteArray out;
            const int from = rig.mark();
            bridge->readData(0xEE, out, 24);
            return rig.callCount("TMTouchBit", from);
        };
        const int slow = pollsForRead();
        bridge->setBusSpeed(900);
        const int fast = pollsForRead();
        QCOMPARE(slow, 4);
        QCOMPARE(fast, 2);

        bridge->sendSleepCommand();
        QVERIFY(rig.chip->asleep());
        QCOMPARE(rig.chip->sleeps(), 1);
        QVERIFY(rig.select()); // its reset wakes the bridge
        QVERIFY(!rig.chip->asleep());
        QByteArray out;
        bridge->setBusSpeed(100);
        QVERIFY(rig.select());
        QCOMPARE(bridge->readData(0xEF, out, 1), 1);
    }

    // The bridge commands the program does not use, as the simulated chip
    // answers them, and a sensor that holds the clock during its conversion.
    void otherBridgeCommands()
    {
        BridgeRig rig;
        auto *sht = rig.add(std::make_unique<SimSht3x>());
        rig.add(std::make_unique<SimBmp280>());
        auto bridge = rig.bridge();
        int polls = 0;
        // Sends a packet (with its CRC-16 when it has one), polls while busy
        // and reads back `count` bytes.
        auto exchange = [&](const char *body, bool withCrc, int count) {
            rig.select();
            QByteArray packet = fromHex(body);
            const uint16_t crc = uint16_t(~Crc::maxim16(packet));
            if (withCrc)
                packet.append(char(crc & 0xFF)).append(char(crc >> 8));
            for (char b : packet)
                rig.f.tmex.TMTouchByte(rig.f.session, uint8_t(b));
            for (polls = 1; rig.f.tmex.TMTouchBit(rig.f.session, 1) == 1 && polls < 100; ++polls)
                Clock::sleepMs(1);
            QByteArray bytes;
            for (int i = 0; i < count; ++i)
                bytes += char(rig.f.tmex.TMTouchByte(rig.f.session, 0xFF));
            return bytes;
        };
        // Write-Read Data With Stop: status, write status, data.
        QCOMPARE(exchange("2DEE01D001", true, 3), fromHex("000058"));
        // Write Data No Stop, then Write Data Only With Stop: one register write in two packets.
        QCOMPARE(exchange("5AEE01F5", true, 2), fromHex("0000"));
        QCOMPARE(exchange("7801A0", true, 2), fromHex("0000"));
        QCOMPARE(exchange("2DEE01F501", true, 3), fromHex("0000A0"));
        // Write Data Only with nothing left open: start error, nothing sent.
        QCOMPARE(exchange("6901A0", true, 1), QByteArray(1, char(SimDs28e17::kStartError)));
        // Read Configuration (100 kHz after the bridge object's broadcast), Read Device Revision.
        QCOMPARE(exchange("E1", false, 1), fromHex("00"));
        QCOMPARE(exchange("C4", false, 1), fromHex("01"));

        // Reading a single shot at once: with clock stretching the bridge
        // stays busy until the conversion is over; without, the address is refused.
        exchange("4B88022C06", true, 2);
        QCOMPARE(exchange("878906", true, 1), fromHex("00"));
        QVERIFY2(polls >= 5, qPrintable(QString::number(polls)));
        exchange("4B88022400", true, 2);
        QCOMPARE(exchange("878906", true, 1), QByteArray(1, char(SimDs28e17::kAddressNack)));
        QCOMPARE(sht->measurementsStarted(), 2);
    }

    // Discovery at 0x70, else 0x40; later selections only where it was
    // found. (The walk to channel 47 and a bridge without a hub are
    // tst_bridgewalk's; a refused channel byte is the faults bus of
    // tst_sameoutput, which fails when the refusal is not seen.)
    void hubSelection()
    {
        for (uint8_t address : {SimMultiHub::kFirstAddress, SimMultiHub::kSecondAddress}) {
            BridgeRig rig;
            SimMultiHub *simHub = rig.addHub(address);
            auto bridge = rig.bridge();
            MultiHub hub(rig.session(), rig.state(), rig.romBuffer(), bridge.get());
            int from = rig.mark();
            QCOMPARE(hub.selectChannel(3), 1);
            QCOMPARE(simHub->selectedChannel(), 3);
            QCOMPARE(rig.writeAddresses(from), address == SimMultiHub::kFirstAddress ? QVector<int>({0x70})
                                                                                     : QVector<int>({0x70, 0x40}));
            QCOMPARE(rig.packetBytes(from).last().mid(2, 2), fromHex("0103")); // one data byte: the channel
            from = rig.mark();
            QCOMPARE(hub.nextChannel(), 1);
            QCOMPARE(rig.writeAddresses(from), QVector<int>({address << 1}));
        }
    }
};

QTEST_MAIN(TstI2cBridge)
#include "tst_i2cbridge.moc"
