#include "support/usbtestbed.h"
#include "support/w1kernelpeer.h"
#include "support/w1testbed.h"

#include "base/clock.h"
#include "bus/crc.h"
#include "bus/w1backend.h"
#include "bus/w1netlink.h"
#include "bus/w1sysfs.h"
#include "session/masterregistry.h"
#include "session/measurementsession.h"
#include "sensors/sensor.h"
#include "sim/simbackend.h"
#include "sim/simbusloader.h"
#include "sim/simdevice.h"
#include "sim/simds18b20.h"
#include "support/logcapture.h"
#include "support/recordingrig.h"
#include "support/simfixture.h"
#include "support/tablesupport.h"

#include <QtTest>
#include <cerrno>
#include <cmath>

namespace {

const QString kMaster = QStringLiteral("w1_bus_master1");
const QDateTime kStart(QDate(2025, 1, 27), QTime(14, 3, 5));

std::unique_ptr<SimBackend> load(const QString &file)
{
    QString error;
    std::unique_ptr<SimBackend> sim = SimBusLoader::loadFile(SimFixture::busFile(file), &error);
    if (!sim)
        qFatal("%s", qPrintable(error));
    return sim;
}

QString nameOf(const QByteArray &rom)
{
    return W1Sysfs::nameFromRom(reinterpret_cast<const uint8_t *>(rom.constData()));
}

QByteArray romOf(const char *hex)
{
    QByteArray rom = QByteArray::fromHex(hex);
    rom += char(Crc::dallas8(rom));
    return rom;
}

// The session's record of the device with this ROM (family byte first), or null.
SensorDevice *deviceOf(MeasurementSession &session, const QByteArray &rom)
{
    uint64_t key = 0;
    for (char byte : rom)
        key = (key << 8) | uint8_t(byte);
    for (SensorDevice *device : session.allDevices()) {
        if (device->key == key)
            return device;
    }
    return nullptr;
}

// The failure texts of a device's channels without a value.
QStringList failuresOf(MeasurementSession &session, const QByteArray &rom)
{
    QStringList failures;
    if (const SensorDevice *device = deviceOf(session, rom)) {
        for (const SensorChannel &channel : device->channels) {
            if (std::isnan(channel.value))
                failures << channel.failure;
        }
    }
    return failures;
}

// Every channel value of the device with this ROM; empty when it is not
// listed or has no value.
QVector<double> valuesOf(MeasurementSession &session, const QByteArray &rom)
{
    QVector<double> values;
    const SensorDevice *device = deviceOf(session, rom);
    if (!device || !device->isPresent())
        return values;
    for (const SensorChannel &channel : device->channels) {
        if (!std::isnan(channel.value))
            values << channel.value;
    }
    return values;
}

QString withoutTimes(const QByteArray &contents)
{
    static const QRegularExpression time(QStringLiteral(";\\d\\d:\\d\\d:\\d\\d;"));
    return QString::fromUtf8(contents).replace(time, QStringLiteral(";;"));
}

int count(const QStringList &lines, const QString &start)
{
    int n = 0;
    for (const QString &line : lines)
        n += line.startsWith(start) ? 1 : 0;
    return n;
}

// The kernel's tree for a simulated bus below one master, and the kernel's
// connector over the same bus.
struct Kernel
{
    explicit Kernel(const QString &file)
        : sim(load(file))
        , peer(sim->bus())
    {
        Clock::setVirtual(kStart);
        bed.addMaster(kMaster);
        bed.addSimBus(kMaster, sim->bus());
        peer.install();
        Clock::setVirtual(kStart);
    }
    std::unique_ptr<SimBackend> sim;
    W1TestBed bed;
    W1KernelPeer peer;
};

} // namespace

class TstW1Netlink : public QObject
{
    Q_OBJECT
private slots:
    // Bridges with their hub and I2C sensors and a Pt100 emulator's
    // calibration, read through the connector, and the thermometers through
    // sysfs, record the same files as the simulated bus does for the same
    // devices.
    void matchesSimulatedBus()
    {
        QTemporaryDir dir;
        const QString w1Folder = dir.filePath("w1"), simFolder = dir.filePath("sim");
        QVERIFY(QDir().mkpath(w1Folder) && QDir().mkpath(simFolder));
        QMap<QString, QByteArray> w1Files;
        {
            Kernel kernel(QStringLiteral("w1netlink.json"));
            W1Backend backend;
            RecordingRig rig(&backend, w1Folder);
            rig.sensor.setPt100Mode(true);
            for (int cycle = 0; cycle < 3; ++cycle)
                rig.session.cycle();
            QVERIFY(kernel.peer.requests() > 0);
            QVERIFY(backend.master().netlinkProblem().isEmpty());
            // The Pt100 emulator's offset came through the connector.
            const QString emulator = QString::fromLatin1(kernel.sim->bus().device(2)->rom().toHex(' '));
            QVERIFY(kernel.peer.takeWire().join('\n').contains(emulator + " fc, read -> "));
            w1Files = TableSupport::folderContents(w1Folder);
        }
        std::unique_ptr<SimBackend> sim = load(QStringLiteral("w1netlink.json"));
        Clock::setVirtual(kStart);
        {
            RecordingRig rig(sim.get(), simFolder);
            rig.sensor.setPt100Mode(true);
            for (int cycle = 0; cycle < 3; ++cycle)
                rig.session.cycle();
        }
        const QMap<QString, QByteArray> simFiles = TableSupport::folderContents(simFolder);
        QVERIFY(!simFiles.isEmpty());
        // The same files with the same values; the times of day differ, since
        // the simulated wire charges the thermometers' conversions to the
        // clock and the kernel's tree, read in no time, does not.
        QCOMPARE(w1Files.keys(), simFiles.keys());
        for (const QString &name : simFiles.keys())
            QCOMPARE(withoutTimes(w1Files.value(name)), withoutTimes(simFiles.value(name)));
    }

    // The other families (families.json) through the connector record the
    // files of the simulated bus: the DS18B20's kin through sysfs, a DS1825
    // told from a MAX31850 by the scratchpad w1_slave gives, the DS2438,
    // DS2423, DS2413 and DS2408 raw, as the kernel's slave drivers would give
    // no checked bytes. The DS2450 without VCC needs the strong pull-up the
    // connector lacks: no value, and the reason.
    void otherFamiliesThroughTheConnector()
    {
        QTemporaryDir dir;
        const QString w1Folder = dir.filePath("w1"), simFolder = dir.filePath("sim");
        QVERIFY(QDir().mkpath(w1Folder) && QDir().mkpath(simFolder));
        QMap<QString, QByteArray> w1Files;
        const QByteArray converter = romOf("20112233445505");
        {
            Kernel kernel(QStringLiteral("families.json"));
            W1Backend backend;
            RecordingRig rig(&backend, w1Folder);
            rig.sensor.setHumidityDevices({QStringLiteral("*")});
            for (int cycle = 0; cycle < 2; ++cycle)
                rig.session.cycle();
            QVERIFY(backend.master().netlinkProblem().isEmpty());
            const QString noPullup = QStringLiteral("нет сильной подтяжки для преобразования (питание от линии данных)");
            QCOMPARE(failuresOf(rig.session, converter), QStringList({noPullup, noPullup, noPullup, noPullup}));
            w1Files = TableSupport::folderContents(w1Folder);
        }
        std::unique_ptr<SimBackend> sim = load(QStringLiteral("families.json"));
        Clock::setVirtual(kStart);
        {
            RecordingRig rig(sim.get(), simFolder);
            for (int cycle = 0; cycle < 2; ++cycle)
                rig.session.cycle();
        }
        QMap<QString, QByteArray> simFiles = TableSupport::folderContents(simFolder);
        QCOMPARE(w1Files.keys(), simFiles.keys());
        QCOMPARE(simFiles.size(), 1 + 1 + 1 + 2 + 5 + 4 + 2 + 4 + 16);
        int compared = 0;
        for (const QString &name : simFiles.keys()) {
            if (name.contains(QStringLiteral("2005554433221120")))
                continue; // the DS2450
            QCOMPARE(withoutTimes(w1Files.value(name)), withoutTimes(simFiles.value(name)));
            ++compared;
        }
        QCOMPARE(compared, simFiles.size() - 4);
    }

    // One bridge exchange as the kernel puts it on the wire: its reset, the
    // Match ROM, the packet with its CRC and the first busy poll in one
    // request; a write's statuses in the next; a read's further polls and
    // its data one request each. The program's log of requests counts the
    // round trips the kernel saw.
    void bridgeExchangeOnTheWire()
    {
        Kernel kernel(QStringLiteral("w1netlink.json"));
        const QByteArray bridge = kernel.sim->bus().device(0)->rom();
        W1Backend backend;
        MeasurementSession session(&backend);
        session.cycle();
        kernel.peer.takeWire();
        backend.master().takeOperations();
        session.cycle();
        const QStringList wire = kernel.peer.takeWire();
        QCOMPARE(count(backend.master().takeOperations(), "netlink "), wire.size());

        // The SHT3x's serial number: 0x37 0x80 written to 0x44, six bytes read.
        auto packet = [](const char *hex) {
            QByteArray bytes = QByteArray::fromHex(hex);
            const uint16_t crc = uint16_t(~Crc::maxim16(bytes));
            bytes += char(crc & 0xFF);
            bytes += char(crc >> 8);
            return QString::fromLatin1(bytes.mid(1).toHex(' '));
        };
        const QString select = QStringLiteral("reset, write 55 ") + QString::fromLatin1(bridge.toHex(' '));
        const QString write = packet("4b88023780");
        const int at = wire.indexOf(select + " 4b, touch " + write + " -> " + write + ", read -> 00");
        QVERIFY2(at >= 0, qPrintable(wire.mid(0, 12).join('\n')));
        // Its write status, after the status byte the poll found.
        QCOMPARE(wire.at(at + 1), QStringLiteral("read -> 00"));
        // The read: the packet, a busy poll (ones) and the done poll, and the
        // words with their CRCs.
        const QString read = packet("878906");
        QCOMPARE(wire.at(at + 2), select + " 87, touch " + read + " -> " + read);
        int polls = at + 3;
        while (polls < wire.size() && wire.at(polls) == QLatin1String("read -> ff"))
            ++polls;
        QVERIFY(polls > at + 3);
        QCOMPARE(wire.at(polls), QStringLiteral("read -> 00"));
        QCOMPARE(wire.at(polls + 1), QStringLiteral("read -> 12 34 37 56 78 7d"));
    }

    // Where the process may not use the connector, the devices that need it
    // are listed with the reason, in the log once each, and everything else
    // is read as before; nothing reaches the kernel.
    void refusedConnector_data()
    {
        QTest::addColumn<int>("error");
        QTest::addColumn<QString>("reason");
        QTest::newRow("EPERM") << EPERM << "нет доступа к netlink: socket: Operation not permitted (EPERM)";
        QTest::newRow("EPROTONOSUPPORT") << EPROTONOSUPPORT
                                         << "нет доступа к netlink: socket: Protocol not supported (EPROTONOSUPPORT)";
    }
    void refusedConnector()
    {
        QFETCH(int, error);
        QFETCH(QString, reason);
        Kernel kernel(QStringLiteral("w1netlink.json"));
        kernel.peer.refuseSockets(error);
        W1Backend backend;
        LogCapture log;
        {
            MeasurementSession session(&backend);
            session.cycle();
            session.cycle();
            QCOMPARE(valuesOf(session, romOf("28FF641E1D1603")), QVector<double>{21.5});
            QCOMPARE(valuesOf(session, romOf("28AA31075C1401")), QVector<double>{23.0625});
            for (int i = 0; i < 2; ++i)
                QVERIFY(valuesOf(session, kernel.sim->bus().device(i)->rom()).isEmpty());
        }
        QCOMPARE(kernel.peer.requests(), 0);
        for (int i = 0; i < 2; ++i) {
            const QByteArray rom = kernel.sim->bus().device(i)->rom();
            QCOMPARE(backend.deviceProblem(reinterpret_cast<const uint8_t *>(rom.constData())), reason);
            int said = 0;
            for (const QString &text : log.texts())
                said += text.contains(nameOf(rom)) && text.contains(reason) ? 1 : 0;
            QCOMPARE(said, 1);
        }
        // orvexctl ports tells the same.
        QString argument;
        const MasterEntry *entry = MasterRegistry::find(QStringLiteral("w1"), &argument);
        QVERIFY(entry && entry->survey);
        const QVector<MasterEntry::Found> found = entry->survey({});
        QCOMPARE(found.size(), 1);
        QVERIFY2(found.at(0).line.endsWith(QStringLiteral("  no netlink raw access (") + reason.mid(23) + ")"),
                 qPrintable(found.at(0).line));
        kernel.peer.refuseSockets(0);
        QVERIFY2(entry->survey({}).at(0).line.endsWith(QStringLiteral("  netlink raw access")),
                 qPrintable(entry->survey({}).at(0).line));
    }

    // A thermometer w1_therm does not drive is read through the connector
    // when it has its own power; one powered from the data line is never
    // converted there (no strong pull-up): it is listed with the reason
    // and gives no value.
    void parasitePower()
    {
        Clock::setVirtual(kStart);
        SimBus bus;
        const QByteArray powered = romOf("28010203040506"), parasite = romOf("28111213141516");
        bus.addDevice(std::make_unique<SimDs18b20>(powered, 18.25));
        auto *stolen = static_cast<SimDs18b20 *>(bus.addDevice(std::make_unique<SimDs18b20>(parasite, 30.0)));
        stolen->setParasite(true);
        W1TestBed bed;
        bed.addMaster(kMaster);
        bed.addDevice(kMaster, nameOf(powered));
        bed.addDevice(kMaster, nameOf(parasite));
        W1KernelPeer peer(bus);
        peer.install();

        W1Backend backend;
        LogCapture log;
        MeasurementSession session(&backend);
        session.cycle();
        session.cycle();
        QCOMPARE(valuesOf(session, powered), QVector<double>{18.25});
        QVERIFY(valuesOf(session, parasite).isEmpty());
        const QString problem = backend.deviceProblem(reinterpret_cast<const uint8_t *>(parasite.constData()));
        QVERIFY2(problem.startsWith(QStringLiteral("питание от линии данных: ")), qPrintable(problem));
        // The table's tooltip gives that reason, not a bare failure.
        QCOMPARE(failuresOf(session, parasite), QStringList{problem});
        QVERIFY(backend.deviceProblem(reinterpret_cast<const uint8_t *>(powered.constData())).isEmpty());
        QVERIFY(log.texts().join('\n').contains(nameOf(parasite) + QStringLiteral(": питание от линии данных")));
        // Its power was asked once, its scratchpad read alongside as proof
        // that it answered; it was never sent a Convert T, nor read again.
        const QString hexParasite = QString::fromLatin1(parasite.toHex(' '));
        const QStringList wire = peer.takeWire();
        QCOMPARE(wire.join('\n').count(hexParasite + " b4"), 1);
        QCOMPARE(wire.join('\n').count(hexParasite + " be"), 1);
        QVERIFY(!wire.join('\n').contains(hexParasite + " 44"));
        QVERIFY(wire.join('\n').contains(QString::fromLatin1(powered.toHex(' ')) + " 44"));
    }

    // A thermometer whose power source the connector has not learnt — the
    // request failed, nobody answered the reset, or another device did and
    // the read slot stayed high for a chip not there — is converted neither
    // alone nor in a broadcast, in any cycle; once it answers it is asked
    // again and found to take its power from the line.
    void powerNotKnown_data()
    {
        QTest::addColumn<bool>("failFirst");   // the first request fails
        QTest::addColumn<bool>("neighbour");   // a powered thermometer shares the bus
        QTest::addColumn<bool>("absentFirst"); // off the bus for the first two cycles
        QTest::newRow("request failed") << true << true << false;
        QTest::newRow("nobody answered") << false << false << true;
        QTest::newRow("another answered") << false << true << true;
    }
    void powerNotKnown()
    {
        QFETCH(bool, failFirst);
        QFETCH(bool, neighbour);
        QFETCH(bool, absentFirst);
        Clock::setVirtual(kStart);
        SimBus bus;
        const QByteArray powered = romOf("28313233343536"), parasite = romOf("28414243444546");
        auto addParasite = [&] {
            static_cast<SimDs18b20 *>(bus.addDevice(std::make_unique<SimDs18b20>(parasite, 30.0)))->setParasite(true);
        };
        W1TestBed bed;
        bed.addMaster(kMaster);
        if (neighbour) {
            bus.addDevice(std::make_unique<SimDs18b20>(powered, 18.25));
            bed.addDevice(kMaster, nameOf(powered));
        }
        if (!absentFirst)
            addParasite();
        bed.addDevice(kMaster, nameOf(parasite));
        W1KernelPeer peer(bus);
        peer.install();
        if (failFirst)
            peer.failNextCommand(EIO);

        W1Backend backend;
        MeasurementSession session(&backend);
        const QString converted = QString::fromLatin1(parasite.toHex(' ')) + " 44";
        for (int cycle = 0; cycle < 4; ++cycle) {
            if (cycle == 2 && absentFirst)
                addParasite();
            session.cycle();
            const QString wire = peer.takeWire().join('\n');
            QVERIFY2(!wire.contains(converted) && !wire.contains("write cc 44"), qPrintable(wire));
            QVERIFY(valuesOf(session, parasite).isEmpty());
        }
        if (neighbour)
            QCOMPARE(valuesOf(session, powered), QVector<double>{18.25});
        const QString problem = backend.deviceProblem(reinterpret_cast<const uint8_t *>(parasite.constData()));
        QVERIFY2(problem.startsWith(QStringLiteral("питание от линии данных: ")), qPrintable(problem));
    }

    // A bridge the kernel's w1_ds28e17 driver holds is said to be, and the
    // program sends it nothing; the other bridge is read.
    void bridgeHeldByTheKernel()
    {
        Kernel kernel(QStringLiteral("w1netlink.json"));
        const QByteArray held = kernel.sim->bus().device(1)->rom(), free = kernel.sim->bus().device(0)->rom();
        kernel.bed.setFile(kMaster + "/" + nameOf(held) + "/stretch", "1\n");
        QDir().mkpath(kernel.bed.hostPath(kMaster + "/" + nameOf(held) + "/i2c-4"));
        W1Backend backend;
        MeasurementSession session(&backend);
        session.cycle();
        QCOMPARE(backend.deviceProblem(reinterpret_cast<const uint8_t *>(held.constData())),
                 QStringLiteral("held by the kernel's w1_ds28e17 driver (i2c-4); its I2C sensors are the kernel's to read"));
        QVERIFY(valuesOf(session, held).isEmpty());
        QVERIFY(!valuesOf(session, free).isEmpty());
        QVERIFY(!kernel.peer.takeWire().join('\n').contains(QString::fromLatin1(held.toHex(' '))));
    }

    // Answers that are cut short, misnumbered, short of data or carry an
    // error status are not used: the request fails, and the next one works.
    void malformedAnswers()
    {
        Clock::setVirtual(kStart);
        SimBus bus;
        const QByteArray rom = romOf("28212223242526");
        bus.addDevice(std::make_unique<SimDs18b20>(rom, 10.0));
        W1KernelPeer peer(bus, 7);
        peer.install();
        W1Netlink netlink;
        QString why;
        QVERIFY2(netlink.open(&why), qPrintable(why));
        QCOMPARE(netlink.masters(), QVector<uint32_t>{7});
        const QVector<W1Netlink::Command> readRom{{W1Netlink::Reset, {}},
                                                  {W1Netlink::Write, QByteArray(1, char(0x33))},
                                                  {W1Netlink::Read, QByteArray(8, char(0xFF))}};
        QVector<W1Netlink::Reply> replies;
        QString error;
        QVERIFY2(netlink.masterCommand(7, readRom, &replies, &error), qPrintable(error));
        QCOMPARE(replies.size(), 3);
        QCOMPARE(replies.at(2).data, rom);

        const std::function<void()> faults[] = {
            [&] { peer.cutNextAnswer(30); },         // inside the w1 message
            [&] { peer.cutNextAnswer(10); },         // inside the netlink header
            [&] { peer.shortenNextData(); },         // seven ROM bytes
            [&] { peer.failNextCommand(EIO); },      // the write failed
            [&] { peer.misnumberNextAnswer(); },     // the data under another number
        };
        netlink.setReplyTimeoutMs(200);
        for (const auto &fault : faults) {
            fault();
            replies = {W1Netlink::Reply{0, QByteArray("stale")}};
            const bool ok = netlink.masterCommand(7, readRom, &replies, &error);
            const bool failed = !ok || replies.at(1).status != 0;
            QVERIFY2(failed, qPrintable(error));
            QVERIFY(netlink.masterCommand(7, readRom, &replies, &error));
            QCOMPARE(replies.at(2).data, rom);
        }
        // A reset with nobody there, and a master the kernel does not have.
        bus.removeDevice(0);
        QVERIFY(netlink.masterCommand(7, {{W1Netlink::Reset, {}}}, &replies, &error));
        QCOMPARE(replies.at(0).status, W1Netlink::kNoPresence);
        QVERIFY(!netlink.masterCommand(3, {{W1Netlink::Reset, {}}}, &replies, &error));
        QVERIFY2(error.contains("ENODEV"), qPrintable(error));
    }

    // A bridge read whose answer goes wrong mid-cycle gives no wrong value:
    // the driver's own retries read it right, or it has none that cycle.
    void faultsMidCycle()
    {
        Kernel kernel(QStringLiteral("w1netlink.json"));
        const QByteArray bridge = kernel.sim->bus().device(1)->rom();
        W1Backend backend;
        MeasurementSession session(&backend);
        session.cycle();
        const QVector<double> good = valuesOf(session, bridge);
        QCOMPARE(good.size(), 2);
        for (int fault = 0; fault < 3; ++fault) {
            if (fault == 0)
                kernel.peer.failNextCommand(EIO);
            else if (fault == 1)
                kernel.peer.shortenNextData();
            else
                kernel.peer.cutNextAnswer(20);
            session.cycle();
            const QVector<double> values = valuesOf(session, bridge);
            QVERIFY(values.isEmpty() || values == good);
            session.cycle();
            QCOMPARE(valuesOf(session, bridge), good);
        }
    }
};

int main(int argc, char *argv[])
{
    UsbTestBed::ensurePreload(argv);
    QCoreApplication app(argc, argv);
    TstW1Netlink test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_w1netlink.moc"
