#include "onewire/adapter.h"
#include "bus/crc.h"
#include "onewire/tmex.h"
#include "base/clock.h"
#include "bus/wirebackend.h"
#include "bus/wiremaster.h"
#include "sim/simidentitychip.h"
#include "sim/simromdevice.h"
#include "support/logcapture.h"
#include "support/forwardingmaster.h"
#include "support/simfixture.h"

#include <QtTest>
#include <algorithm>
#include <cstring>

namespace {

// A simulated driver whose set-up or session start answers as a test needs.
class ScriptedBackend : public SimBackend
{
public:
    short setupOverride = 0;   // non-zero: every successful TMSetup returns this
    int32_t startOverride = 1; // below 1: TMExtendedStartSession returns this

    int32_t extendedStartSession(short portNum, short portType, void *options) override
    {
        if (startOverride < 1)
            return startOverride;
        return SimBackend::extendedStartSession(portNum, portType, options);
    }
    short setup(int32_t session) override
    {
        const short result = SimBackend::setup(session);
        return (result == 1 && setupOverride) ? setupOverride : result;
    }
};

QStringList callsFrom(SimBackend &backend, int from)
{
    QStringList calls;
    for (int i = from; i < backend.traffic().size(); ++i)
        calls << backend.traffic().at(i).call;
    return calls;
}

// A debug stream quotes streamed strings and puts a blank between items.
QString quoted(const RomId &rom)
{
    return QStringLiteral(" \"%1\"").arg(romToText(rom, false));
}

// The order a real search gives: ascending by the 64 ROM bits read in the
// order they cross the wire (bit 0 of byte 0 first) as one binary number.
quint64 wireOrderKey(const RomId &rom)
{
    quint64 key = 0;
    for (int i = 0; i < 64; ++i)
        key = (key << 1) | quint64((rom.at(i / 8) >> (i % 8)) & 1);
    return key;
}

SimDevice *addRom(SimFixture &f, uint8_t family, quint64 serial)
{
    return f.add(std::make_unique<SimRomDevice>(SimFixture::rom(family, serial)));
}

RomId idOf(const SimDevice *device)
{
    return SimFixture::romId(device->rom());
}

// The simulated device behind a ROM the search listed.
SimDevice *deviceOf(SimFixture &f, const RomId &rom)
{
    QByteArray bytes;
    for (short e : rom)
        bytes.append(char(e));
    return f.bus().findDevice(bytes);
}


// A master in front of the simulated bus whose search passes can be made to
// misbehave: fail (an adapter that lost an answer), name the same few
// devices for ever, or a new valid device every pass, each costing
// `passMs` of bus time.
class UnsettledMaster : public ForwardingMaster
{
public:
    enum class Mode { Bus, Cycle, Invent };
    using ForwardingMaster::ForwardingMaster;
    int resetAndSearch(const uint8_t path[8], uint8_t rom[8], uint8_t discrepancies[8],
                       uint8_t command = RomCommand::kSearch) override
    {
        ++passes;
        Clock::advanceMs(passMs);
        if (failures > 0) {
            --failures;
            return -1;
        }
        if (mode == Mode::Bus)
            return m_bus->resetAndSearch(path, rom, discrepancies, command);
        const quint64 serial = mode == Mode::Cycle ? quint64(passes % 3) : quint64(passes);
        const QByteArray found = SimFixture::rom(0x28, 0x100 + serial);
        std::memcpy(rom, found.constData(), 8);
        // A discrepancy where the family code has a 0: always one more branch.
        std::memset(discrepancies, 0, 8);
        discrepancies[0] = 0x01;
        return 1;
    }
    Mode mode = Mode::Bus;
    int failures = 0;
    int passes = 0;
    int passMs = 0;
};

} // namespace

// The adapter: every outcome of open() with its status text and calls, the
// search against buses of several shapes, and the ROM helpers.
class TstAdapter : public QObject
{
    Q_OBJECT
private slots:
    // A chip that cannot follow overdrive keeps the bus at standard speed:
    // overdrive tried, then switched off again; so does an empty bus.
    void firstOpenReportsOverdrive()
    {
        for (bool overdrive : {false, true}) {
            SimFixture f;
            f.add(std::make_unique<SimRomDevice>(SimFixture::rom(0x01, 0x1234), overdrive));
            QCOMPARE(f.open(), 1);
            QCOMPARE(f.adapter.statusText(),
                     QStringLiteral("Adapter found, No error; Info: OverDrive ") + (overdrive ? "ON" : "OFF"));
            QCOMPARE(f.bus().overdrive(), overdrive);
            QStringList calls{"TMValidSession", "TMReadDefaultPort", "TMExtendedStartSession", "TMSetup", "TMAutoOverDrive"};
            QCOMPARE(callsFrom(f.backend(), 0), overdrive ? calls : calls << "TMAutoOverDrive");
            QCOMPARE(f.backend().traffic().at(4).args, QVector<int>({1}));
            QCOMPARE(f.backend().traffic().value(5).args, overdrive ? QVector<int>() : QVector<int>({0}));
            QVERIFY(f.session > 0);
        }
        // No device answers the standard reset: nothing to take along, and
        // overdrive stays off.
        SimFixture empty;
        QCOMPARE(empty.open(), 1);
        QVERIFY(empty.adapter.statusText().endsWith(QStringLiteral("OverDrive OFF")));
        QVERIFY(!empty.bus().overdrive());
    }

    // Once set up, each open costs exactly TMValidSession and TMSetup and
    // leaves the first step's text, with the port from the last full open.
    void laterOpensTakeTwoCalls()
    {
        SimFixture f;
        f.bus().setDefaultPort(true, 3, 2);
        QCOMPARE(f.open(), 1);
        const int32_t first = f.session;
        const int mark = f.backend().traffic().size();
        QCOMPARE(f.open(), 1);
        QCOMPARE(f.open(), 1);
        QCOMPARE(callsFrom(f.backend(), mark),
                 QStringList({"TMValidSession", "TMSetup", "TMValidSession", "TMSetup"}));
        QCOMPARE(f.session, first);
        QCOMPARE(f.adapter.statusText(), QStringLiteral("Error TMReadDefaultPort port=3  portType=2"));
    }

    // TMSetup's 2 counts as set up right after a new session (tst_busfile's
    // faultsTakeEffect), not on the fast path: a new session is started.
    void setupResultTwoOnFastPath()
    {
        auto scripted = std::make_unique<ScriptedBackend>();
        scripted->setupOverride = 2;
        SimFixture f(std::move(scripted));
        QCOMPARE(f.open(), 1);
        const int32_t first = f.session;
        QCOMPARE(f.open(), 1);
        QCOMPARE(f.backend().callCount("TMExtendedStartSession"), 2);
        QVERIFY(f.session != first);
        QCOMPARE(f.backend().callCount("TMEndSession"), 0);
    }

    // A first open that fails: without a default port nothing is started;
    // a failed set-up ends the new session; a failed start keeps the
    // driver's result as the handle. Each with its status text.
    void failedFirstOpens()
    {
        const QString port = QStringLiteral("TMValidSession TMReadDefaultPort"); // the scripted start is not logged
        const struct
        {
            bool port, setupFails;
            int32_t startResult;
            int result;
            QString calls;
            int32_t handle;
            const char *status; // %1: the session the start gave
        } cases[] = {
            {false, false, 1, -1, port, 0, "Error TMReadDefaultPort port=0  portType=0"},
            {true, true, 1, -2, port + " TMExtendedStartSession TMSetup TMEndSession", 0, "Error TMSetup session=%1\nAdapter not found"},
            {true, false, -5, -3, port, -5, "Error TMExtendedStartSession port=0  portType=6\nError setup driver port"},
        };
        for (const auto &c : cases) {
            auto scripted = std::make_unique<ScriptedBackend>();
            scripted->startOverride = c.startResult;
            SimFixture f(std::move(scripted));
            f.bus().setDefaultPort(c.port);
            f.bus().setSetupFails(c.setupFails);
            QCOMPARE(f.open(), c.result);
            QCOMPARE(callsFrom(f.backend(), 0).join(' '), c.calls);
            QCOMPARE(f.adapter.sessionHandle(), c.handle);
            const QString session = QString::number(f.backend().traffic().value(2).result);
            QCOMPARE(f.adapter.statusText(), QString::fromUtf8(c.status).replace("%1", session));
        }
    }

    void unplugAndReplug()
    {
        SimFixture f;
        SimDevice *a = addRom(f, 0x01, 0x42);
        // No session yet: the search leaves the list alone and the bus
        // untouched, and there is no reset.
        RomList roms{RomId(8, 1)};
        QCOMPARE(f.adapter.search(roms), -4);
        QCOMPARE(roms, RomList{RomId(8, 1)});
        QCOMPARE(f.backend().traffic().size(), 0);
        QCOMPARE(f.adapter.resetBus(), -1);
        QCOMPARE(f.open(), 1);
        const int32_t first = f.session;

        // Unplugged and plugged back between two checks: the same session
        // goes on. A check while the port is gone too keeps it. A search
        // meanwhile finds nothing and still reports 1; plugged back, it finds
        // the bus again.
        f.bus().setConnected(false);
        QCOMPARE(f.tmex.TMValidSession(first), short(0));
        QCOMPARE(f.adapter.search(roms), 1);
        QVERIFY(roms.isEmpty());
        f.bus().setDefaultPort(false);
        QCOMPARE(f.open(), -1);
        QCOMPARE(f.adapter.sessionHandle(), first);
        f.bus().setDefaultPort(true);
        f.bus().setConnected(true);
        QCOMPARE(f.tmex.TMValidSession(first), short(1));
        QCOMPARE(f.open(), 1);
        QCOMPARE(f.session, first);
        QCOMPARE(f.adapter.search(roms), 1);
        QCOMPARE(roms, RomList({idOf(a)}));

        // Checked while unplugged: the port still opens but the set-up fails,
        // so the new session is ended and each later check starts over.
        f.bus().setConnected(false);
        QCOMPARE(f.open(), -2);
        QCOMPARE(f.session, 0);
        QCOMPARE(f.open(), -2);
        QCOMPARE(f.backend().callCount("TMEndSession"), 2);
        QCOMPARE(f.adapter.resetBus(), -1);
        QCOMPARE(f.backend().callCount("TMTouchReset"), 0);

        f.bus().setConnected(true);
        QCOMPARE(f.open(), 1);
        QVERIFY(f.session > 0);
        QCOMPARE(f.adapter.statusText(), QStringLiteral("Adapter found, No error; Info: OverDrive OFF"));
        QCOMPARE(f.adapter.resetBus(), 1);
    }

    // Twenty devices that agree on their first 40 bits; the search must list
    // every one, in the order real hardware finds them, whatever the bus
    // order, and log each as found by TMFirst or TMNext.
    void manyDevicesInWireOrder()
    {
        SimFixture f;
        const quint16 tails[20] = {0x0000, 0x0001, 0x0002, 0x0003, 0x8000, 0x8001, 0x4000, 0xC000, 0x00FF, 0xFF00,
                                   0xFFFF, 0xFFFE, 0x7FFF, 0x1234, 0x1235, 0x1334, 0x0100, 0x0101, 0x0180, 0x2A5A};
        RomList expected;
        for (int k = 0; k < 20; ++k) {
            const int i = (k * 7) % 20; // added out of order
            const quint64 serial = 0x00113377ULL | (quint64(tails[i]) << 32);
            expected << idOf(addRom(f, 0x28, serial));
        }
        expected << idOf(f.add(std::make_unique<SimIdentityChip>(SimFixture::rom(0x81, 0x77))));
        std::sort(expected.begin(), expected.end(),
                  [](const RomId &a, const RomId &b) { return wireOrderKey(a) < wireOrderKey(b); });

        QCOMPARE(f.open(), 1);
        RomList roms;
        LogCapture log;
        QCOMPARE(f.adapter.search(roms), 1);
        QCOMPARE(roms, expected);
        QCOMPARE(log.lines().size(), 21);
        QCOMPARE(log.lines().first(), "Info: TMFirst Find new device: serial number: " + quoted(expected.first()));
        QCOMPARE(log.lines().last(), "Info: TMNext Find new device: serial number: " + quoted(expected.last()));
        QCOMPARE(f.backend().callCount("TMNext"), 21); // the last one ends the search
        // A second search gives the same list (the search restarts at TMFirst).
        RomList again;
        f.adapter.search(again);
        QCOMPARE(again, expected);
    }

    // The first ROM found cannot be read: the search gives up with an empty
    // list. (A later one is left out silently: tst_busfile's faultsTakeEffect.)
    void unreadableFirstRom()
    {
        SimFixture f;
        addRom(f, 0x28, 1);
        addRom(f, 0x28, 2);
        QCOMPARE(f.open(), 1);
        RomList order, roms;
        f.adapter.search(order);
        f.backend().failRomReads(deviceOf(f, order.at(0)), 1);
        LogCapture log;
        const int mark = f.backend().traffic().size();
        QCOMPARE(f.adapter.search(roms), 1);
        QVERIFY(roms.isEmpty());
        QCOMPARE(log.lines(), QStringList({"Critical: Fail on read ROM"}));
        QVERIFY(!f.backend().trafficText(mark).contains("TMNext"));
    }

    // Identifiers failing the validity test are skipped without a message,
    // also when the first device found is one of them.
    void invalidRomsSkipped()
    {
        SimFixture f;
        f.add(std::make_unique<SimRomDevice>(QByteArray(8, '\0')));   // found first
        f.add(std::make_unique<SimRomDevice>(QByteArray(8, '\xFF'))); // found last
        QByteArray badCrc = SimFixture::rom(0x28, 0x55);
        badCrc[7] = char(badCrc.at(7) ^ 0x01);
        f.add(std::make_unique<SimRomDevice>(badCrc));
        SimDevice *good = addRom(f, 0x10, 0x66);
        QCOMPARE(f.open(), 1);
        LogCapture log;
        RomList roms;
        QCOMPARE(f.adapter.search(roms), 1);
        QCOMPARE(roms, RomList({idOf(good)}));
        QCOMPARE(log.lines(), QStringList({"Info: TMNext Find new device: serial number: " + quoted(idOf(good))}));
    }

    // The ROM text both ways round (only the low byte of an element), the
    // CRC-8 check value ("123456789" gives A1) and the validity test, the
    // adapter's serial from its identity chip.
    // A pass the adapter fails (noise on the line) is run again, so the
    // cycle keeps its devices. A search that does not settle ends as an
    // error: the same devices named for ever (64 passes without a new one),
    // new valid devices every pass (beyond twice the last settled count and
    // 64 more, or after 30 s of bus time before any search settled).
    void unsettledSearches()
    {
        SimFixture sim;
        for (int i = 0; i < 5; ++i)
            sim.add(std::make_unique<SimRomDevice>(SimFixture::rom(0x28, quint64(0x2000 + 41 * i))));
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
        UnsettledMaster master(&sim.bus());
        WireBackend backend(&master);
        sim.tmex.setBackend(&backend);
        QCOMPARE(sim.adapter.open(), 1);
        RomList roms;
        for (const int failures : {1, 2}) {
            master.failures = failures;
            QCOMPARE(sim.adapter.search(roms), 1);
            QCOMPARE(roms.size(), 5);
        }

        struct Case { UnsettledMaster::Mode mode; int passMs; bool settledBefore; int maxPasses; } cases[] = {
            {UnsettledMaster::Mode::Cycle, 0, true, 3 + 64 + 1},
            {UnsettledMaster::Mode::Invent, 0, true, 2 * 5 + 64 + 2},
            {UnsettledMaster::Mode::Invent, 100, false, 30000 / 100 + 2},
        };
        for (const Case &c : cases) {
            Adapter adapter(sim.tmex);
            QCOMPARE(adapter.open(), 1);
            if (c.settledBefore) {
                master.mode = UnsettledMaster::Mode::Bus;
                QCOMPARE(adapter.search(roms), 1);
            }
            master.mode = c.mode;
            master.passMs = c.passMs;
            master.passes = 0;
            QCOMPARE(adapter.search(roms), Adapter::kSearchUnsettled);
            QVERIFY2(master.passes <= c.maxPasses, QByteArray::number(master.passes));
        }
        QLoggingCategory::setFilterRules(QString());
    }

    void romHelpers()
    {
        QCOMPARE(Crc::dallas8(QByteArray("123456789")), uint8_t(0xA1));
        const RomId rom{0x28, 0x01, 0xAB, 0x00, 0x0F, 0x10, 0x7F, 0x0C};
        QCOMPARE(romToText(rom, false), QStringLiteral("2801AB000F107F0C"));
        QCOMPARE(romToText(rom, true), QStringLiteral("0C7F100F00AB0128"));
        QCOMPARE(romToText(RomId(), false), QString());
        QCOMPARE(romToText(RomId{short(0xFFAB), 0x05}, false), QStringLiteral("AB05"));

        const RomId good = SimFixture::romId(SimFixture::rom(0x28, 0xA1B2C3D4E5F6ULL));
        QVERIFY(Adapter::romIsValid(good));
        QVERIFY(!Adapter::romIsValid(good.mid(0, 7)));
        QVERIFY(!Adapter::romIsValid(RomId(good) << 0));
        for (int i = 0; i < 8; ++i) {
            RomId bad = good;
            bad[i] = short(bad[i] ^ 0x40);
            QVERIFY2(!Adapter::romIsValid(bad), qPrintable(QString::number(i)));
        }

        const RomId ds2401 = SimFixture::romId(SimFixture::rom(0x01, 2));
        const RomId ds1420 = SimFixture::romId(SimFixture::rom(0x81, 3));
        QCOMPARE(Adapter::findAdapterSerial({good, ds2401, ds1420}, false), romToText(ds2401, false));
        QCOMPARE(Adapter::findAdapterSerial({good, ds1420, ds2401}, true), romToText(ds1420, true));
        QCOMPARE(Adapter::findAdapterSerial({good, RomId()}, false), QString());
        QCOMPARE(Adapter::findAdapterSerial({}, true), QString());
    }
};

QTEST_APPLESS_MAIN(TstAdapter)
#include "tst_adapter.moc"
