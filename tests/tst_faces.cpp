// The outside faces with real clients: ow-shell's owdir/owread/owget and raw
// sockets against the owserver face, promtool and a prometheus server
// against the metrics endpoint, each over loopback on a session in virtual
// time.
#include "base/clock.h"
#include "faces/metricsface.h"
#include "faces/owserverface.h"
#include "faces/owserverprotocol.h"
#include "model/sensordevice.h"
#include "onewire/romid.h"
#include "session/measurementsession.h"
#include "sim/simbusloader.h"
#include "support/mqtttestbroker.h"
#include "support/simfixture.h"
#include "support/testprocess.h"
#include "support/windowrig.h"
#include "base/appsettings.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QtTest>
#include <cmath>
#include <memory>

namespace {

// A bus with one failure of each kind a client must see as an error.
const char kFaultyBus[] = R"({ "devices": [
    { "type": "ds18b20", "rom": "28 10 20 30 40 50 60", "temperature": 21.25 },
    { "type": "ds18b20", "rom": "28 11 21 31 41 51 61", "temperature": 22.5, "crcErrors": 100000 },
    { "type": "max31850", "rom": "3B 01 02 03 04 00 00", "fault": "open" },
    { "type": "ds28e17", "rom": "19 0A 0B 0C 0D 0E 0F",
      "i2c": [ { "type": "sht3x", "serial": "4A21 9C07", "temperature": 19.5, "humidity": 44.0 } ] }
] })";

// A session measuring `backend` with both faces added, a few cycles run.
struct Rig
{
    explicit Rig(std::unique_ptr<SimBackend> backend)
    {
        Clock::setVirtual();
        fixture = std::make_unique<SimFixture>(std::move(backend));
        fixture->backend().setTrafficLogging(false);
        session = std::make_unique<MeasurementSession>(&fixture->backend());
        OwserverConfig owConfig;
        owConfig.enabled = true;
        owConfig.requestTimeoutMs = 300;
        owConfig.maxConnections = 8;
        owserver = std::make_unique<OwserverFace>(owConfig);
        MetricsConfig metricsConfig;
        metricsConfig.enabled = true;
        metrics = std::make_unique<MetricsFace>(metricsConfig);
        QString error;
        started = owserver->start(&error) && metrics->start(&error);
        session->addSink(owserver.get());
        session->addSink(metrics.get());
        for (int i = 0; i < 2; ++i) {
            session->refresh();
            session->measure();
        }
    }
    QString server() const { return QStringLiteral("127.0.0.1:%1").arg(owserver->port()); }

    std::unique_ptr<SimFixture> fixture;
    std::unique_ptr<MeasurementSession> session;
    std::unique_ptr<OwserverFace> owserver;
    std::unique_ptr<MetricsFace> metrics;
    bool started = false;
};

struct Run
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

// One ow-shell program against the face; the face answers on its own thread.
Run owshell(const QString &program, const QStringList &args)
{
    QProcess process;
    process.start(program, args);
    Run run;
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

QString owName(const SensorDevice &device)
{
    QString name;
    for (int i = 7; i >= 1; --i) {
        name += QStringLiteral("%1").arg(uint(device.rom.at(i)) & 0xFF, 2, 16, QLatin1Char('0')).toUpper();
        if (i == 7)
            name += QLatin1Char('.');
    }
    return name;
}

bool have(const QString &program)
{
    return !QStandardPaths::findExecutable(program).isEmpty()
        || !QStandardPaths::findExecutable(program, {QStringLiteral("/usr/sbin")}).isEmpty();
}

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

QByteArray request(qint32 type, const QByteArray &path, quint32 flags = 0x10a, qint32 size = 65536)
{
    OwProtocol::Header h;
    h.payload = path.size() + 1;
    h.type = type;
    h.flags = flags;
    h.size = size;
    return OwProtocol::encodeHeader(h) + path + QByteArray(1, '\0');
}

// Everything the server sends until it closes the connection or goes quiet.
QByteArray exchange(QTcpSocket &socket, const QByteArray &bytes, int quietMs = 1000)
{
    socket.write(bytes);
    socket.waitForBytesWritten(1000);
    QByteArray got;
    while (socket.waitForReadyRead(quietMs))
        got += socket.readAll();
    return got + socket.readAll();
}

bool connectTo(QTcpSocket &socket, quint16 port)
{
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(2000);
}

} // namespace

class TestFaces : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        WindowRig::prepareProcess();
        if (!have(QStringLiteral("owread")))
            QSKIP("ow-shell is not installed (tools/install-deps installs it)");
    }

    // The window serves the faces its settings name.
    void windowServesFromItsSettings()
    {
        QString error;
        const quint16 owPort = freePort();
        const quint16 metricsPort = freePort();
        appSettings().setValue(QStringLiteral("Owserver/Listen"), QStringLiteral("127.0.0.1:%1").arg(owPort));
        appSettings().setValue(QStringLiteral("Metrics/Listen"), QString::number(metricsPort));
        {
            WindowRig rig(SimBusLoader::load(kFaultyBus, QStringLiteral("faulty"), &error));
            rig.start(false, 0);
            rig.tickAfter(10000);
            rig.tickAfter(10000);
            const Run read = owshell(QStringLiteral("owread"), {QStringLiteral("-s"), QStringLiteral("127.0.0.1:%1").arg(owPort),
                                                                QStringLiteral("/28.102030405060/temperature")});
            QCOMPARE(read.out, QByteArray("       21.25"));
            QTcpSocket http;
            QVERIFY(connectTo(http, metricsPort));
            QVERIFY(exchange(http, "GET /metrics HTTP/1.0\r\n\r\n").contains("orvex_temperature_celsius{"));
        }
        appSettings().remove(QStringLiteral("Owserver"));
        appSettings().remove(QStringLiteral("Metrics"));
        // The window gone, so are its servers.
        QTcpSocket socket;
        QVERIFY(!connectTo(socket, owPort));
    }

    // Every device of the demo bus listed; every channel read back as the table has it.
    void owshellReadsTheDemoBus()
    {
        QString error;
        Rig rig(SimBusLoader::loadDemo(&error));
        QVERIFY2(rig.started, qPrintable(error));
        const Run dir = owshell(QStringLiteral("owdir"), {QStringLiteral("-s"), rig.server(), QStringLiteral("/")});
        QCOMPARE(dir.exitCode, 0);
        const QStringList listed = QString::fromUtf8(dir.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QVERIFY(listed.contains(QStringLiteral("/bus.0")));
        QVERIFY(listed.contains(QStringLiteral("/28.AA31075C1401")));
        int values = 0;
        int pressures = 0;
        for (const SensorDevice *device : rig.session->allDevices()) {
            const QString name = owName(*device);
            QVERIFY2(listed.contains(QLatin1Char('/') + name), qPrintable(name));
            const Run family = owshell(QStringLiteral("owread"),
                                       {QStringLiteral("-s"), rig.server(), QLatin1Char('/') + name + QStringLiteral("/family")});
            QCOMPARE(family.out, name.left(2).toLatin1());
            for (const SensorChannel &channel : device->channels) {
                // Every humidity in "%", every pressure in owserver's default
                // scale, mbar, whatever unit the sensor's record carries.
                const bool pressure = channel.unit.endsWith(QLatin1String("Pa"));
                const QString faceUnit = channel.unit.startsWith(QLatin1Char('%')) ? QStringLiteral("%")
                                         : pressure ? QStringLiteral("mbar") : channel.unit;
                const double expected = channel.unit == QLatin1String("Pa") ? channel.value / 100
                                        : channel.unit == QLatin1String("kPa") ? channel.value * 10 : channel.value;
                pressures += pressure;
                QString path = QLatin1Char('/') + name;
                if (device->family == 0x19) {
                    path += QStringLiteral("/i2c/hub%1.%2/")
                                .arg(channel.hubChannel)
                                .arg(QStringLiteral("%1").arg(channel.i2cAddress >> 1, 2, 16, QLatin1Char('0')).toUpper());
                    const Run type = owshell(QStringLiteral("owread"), {QStringLiteral("-s"), rig.server(), path + QStringLiteral("type")});
                    QCOMPARE(QString::fromUtf8(type.out).split(QLatin1Char(' ')).first(), channel.type.split(QLatin1Char(' ')).first());
                    const Run listing = owshell(QStringLiteral("owget"), {QStringLiteral("-s"), rig.server(), path});
                    QCOMPARE(listing.exitCode, 0);
                    const QStringList props = QString::fromUtf8(listing.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
                    // The property of this channel's subchannel: the one whose unit file names its unit.
                    QString property;
                    for (const QString &prop : props) {
                        if (!prop.endsWith(QLatin1String("_unit")))
                            continue;
                        const Run unit = owshell(QStringLiteral("owread"), {QStringLiteral("-s"), rig.server(), prop});
                        if (QString::fromUtf8(unit.out) == faceUnit && !property.isEmpty() == false)
                            property = prop.chopped(5);
                    }
                    QVERIFY2(!property.isEmpty(), qPrintable(path + channel.unit));
                    path = property;
                    if (std::count_if(device->channels.begin(), device->channels.end(), [&](const SensorChannel &c) {
                            return c.hubChannel == channel.hubChannel && c.i2cAddress == channel.i2cAddress && c.unit == channel.unit;
                        }) > 1)
                        continue; // two of one unit: the names tell them apart, checked below by value count
                } else if (channel.described() && channel.described()->property) {
                    // The name its driver's traits give it, as owservers do.
                    path += QLatin1Char('/') + QString::fromLatin1(channel.described()->property).section(QLatin1Char(' '), 0, 0);
                } else {
                    continue;
                }
                const Run read = owshell(QStringLiteral("owread"), {QStringLiteral("-s"), rig.server(), path});
                QCOMPARE(read.exitCode, 0);
                // owserver's float and unsigned fields; a yes-no file's one digit.
                QCOMPARE(read.out.size(), channel.kind() == ChannelKind::Binary ? 1 : 12);
                const double value = read.out.trimmed().toDouble();
                QVERIFY2(std::fabs(value - expected) <= 1e-5 * std::max(1.0, std::fabs(expected)),
                         qPrintable(path + QLatin1Char(' ') + QString::number(value) + QLatin1String(" != ") + QString::number(expected)));
                ++values;
            }
        }
        QVERIFY(values >= 10);
        QCOMPARE(pressures, 2); // the BMP280's kPa and the D6F's Pa
        // The identity files as the protocol's clients parse them.
        const QString rom = QStringLiteral("/28.AA31075C1401/");
        const Run address = owshell(QStringLiteral("owread"), {QStringLiteral("-s"), rig.server(), rom + QStringLiteral("address")});
        QCOMPARE(address.out.left(14), QByteArray("28AA31075C1401"));
        const Run crc = owshell(QStringLiteral("owread"), {QStringLiteral("-s"), rig.server(), rom + QStringLiteral("crc8")});
        QCOMPARE(address.out.mid(14), crc.out);
        const Run reversed = owshell(QStringLiteral("owread"), {QStringLiteral("-s"), rig.server(), rom + QStringLiteral("r_address")});
        QCOMPARE(reversed.out, crc.out + QByteArray("01145C0731AA28"));
        const Run type = owshell(QStringLiteral("owread"), {QStringLiteral("-s"), rig.server(), rom + QStringLiteral("type")});
        QCOMPARE(type.out, QByteArray("DS18B20"));
        // The other name formats, and the Fahrenheit scale, on request.
        const Run fic = owshell(QStringLiteral("owdir"), {QStringLiteral("-f"), QStringLiteral("fi.c"), QStringLiteral("-s"), rig.server(), QStringLiteral("/bus.0")});
        QVERIFY(fic.out.contains("/bus.0/28AA31075C1401." + crc.out + "\n"));
        const Run celsius = owshell(QStringLiteral("owread"), {QStringLiteral("-s"), rig.server(), QStringLiteral("/uncached") + rom + QStringLiteral("temperature")});
        const Run fahrenheit = owshell(QStringLiteral("owread"), {QStringLiteral("-F"), QStringLiteral("-s"), rig.server(), rom + QStringLiteral("temperature")});
        QVERIFY(std::fabs(fahrenheit.out.trimmed().toDouble() - (celsius.out.trimmed().toDouble() * 1.8 + 32)) < 1e-3);
    }

    // A failed or stale reading is an error, never a number; writing is refused.
    void failedReadingsAreErrors()
    {
        QString error;
        Rig rig(SimBusLoader::load(kFaultyBus, QStringLiteral("faulty"), &error));
        QVERIFY2(rig.started, qPrintable(error));
        auto read = [&](const QString &path) {
            return owshell(QStringLiteral("owread"), {QStringLiteral("-s"), rig.server(), path});
        };
        QCOMPARE(read(QStringLiteral("/28.102030405060/temperature")).out, QByteArray("       21.25"));
        QVERIFY(read(QStringLiteral("/28.112131415161/temperature")).exitCode != 0);
        QVERIFY(read(QStringLiteral("/uncached/28.112131415161/temperature")).exitCode != 0);
        QCOMPARE(read(QStringLiteral("/28.112131415161/type")).out, QByteArray("DS18B20"));
        QVERIFY(read(QStringLiteral("/3B.010203040000/thermocouple")).exitCode != 0);
        QCOMPARE(read(QStringLiteral("/3B.010203040000/open_circuit")).out, QByteArray("1"));
        QCOMPARE(read(QStringLiteral("/3B.010203040000/fault")).out, QByteArray("1"));
        QCOMPARE(read(QStringLiteral("/19.0A0B0C0D0E0F/i2c/hub0.44/humidity_unit")).out, QByteArray("%"));
        QVERIFY(read(QStringLiteral("/28.FFFFFFFFFFFF/temperature")).exitCode != 0);
        const Run write = owshell(QStringLiteral("owwrite"), {QStringLiteral("-s"), rig.server(), QStringLiteral("/28.102030405060/temperature"), QStringLiteral("5")});
        QVERIFY(write.exitCode != 0);
        QCOMPARE(read(QStringLiteral("/28.102030405060/temperature")).out, QByteArray("       21.25"));

        // The metrics say the same: no number for the failed channel, its failures counted.
        const QByteArray text = metricsText(*std::make_shared<FaceSnapshot>()); // empty snapshot still well formed
        QVERIFY(text.contains("# TYPE orvex_bus_up gauge"));
        QTcpSocket http;
        QVERIFY(connectTo(http, rig.metrics->port()));
        const QByteArray page = exchange(http, "GET /metrics HTTP/1.0\r\n\r\n");
        QVERIFY(page.startsWith("HTTP/1.0 200") || page.startsWith("HTTP/1.1 200"));
        QVERIFY(page.contains("rom=\"60504030201028\"") || page.contains("21.25"));
        QVERIFY(!page.contains("orvex_temperature_celsius{rom=\"" + QByteArray("61514131211128")));
        QVERIFY(page.contains("reason=\"crc\"} "));
        QVERIFY(page.contains("reason=\"open_circuit\"} "));

        // A device gone from the bus is gone from the root after the next searches.
        rig.fixture->bus().removeDevice(0); // the bus file's first device
        for (int i = 0; i < 3; ++i) {
            rig.session->refresh();
            rig.session->measure();
        }
        QVERIFY(read(QStringLiteral("/28.102030405060/temperature")).exitCode != 0);
    }

    // Headers out of range close the connection; the server serves on.
    void malformedRequestsLeaveItServing()
    {
        QString error;
        Rig rig(SimBusLoader::loadDemo(&error));
        QVERIFY2(rig.started, qPrintable(error));
        const quint16 port = rig.owserver->port();
        // Well formed, kept: two answers on one connection.
        {
            QTcpSocket socket;
            QVERIFY(connectTo(socket, port));
            const QByteArray first = exchange(socket, request(OwProtocol::Read, "/28.AA31075C1401/type", 0x10e), 300);
            QCOMPARE(first.mid(24), QByteArray("DS18B20"));
            QVERIFY(OwProtocol::decodeHeader(first.constData()).flags & OwProtocol::kPersistent);
            const QByteArray second = exchange(socket, request(OwProtocol::Present, "/28.AA31075C1401", 0x10e), 300);
            QCOMPARE(OwProtocol::decodeHeader(second.constData()).type, 0);
            const QByteArray nop = exchange(socket, request(OwProtocol::Nop, "", 0x10e), 300);
            QCOMPARE(nop.size(), 24);
        }
        const QList<QByteArray> bad{
            QByteArray(24, '\xff'),                                          // every field -1
            OwProtocol::encodeHeader({7, 5, 2, 0, 0, 0}) + "/abc",           // unknown version
            OwProtocol::encodeHeader({0, 1 << 20, 2, 0, 0, 0}) + "/",        // oversized payload
            OwProtocol::encodeHeader({0, 100, 2, 0, 0, 0}) + "/28.AA",       // payload never completed
            QByteArray("GET / HTTP/1.0\r\n\r\n"),                              // not this protocol
        };
        for (const QByteArray &bytes : bad) {
            QTcpSocket socket;
            QVERIFY(connectTo(socket, port));
            exchange(socket, bytes, 1000);
            QVERIFY(socket.state() == QAbstractSocket::UnconnectedState || socket.waitForDisconnected(1000));
        }
        // A path without its NUL, a path that is not one, a type nobody knows: errors, not crashes.
        for (const QByteArray &bytes :
             {OwProtocol::encodeHeader({0, 3, 2, 0, 100, 0}) + "/28", request(99, "/"), request(2, "relative"),
              request(2, "/bus.99/x"), request(2, "/28.AA31075C1401/../../etc"), request(2, QByteArray(3000, '/'))}) {
            QTcpSocket socket;
            QVERIFY(connectTo(socket, port));
            const QByteArray got = exchange(socket, bytes, 300);
            QVERIFY(got.size() >= 24);
            QVERIFY(OwProtocol::decodeHeader(got.constData()).type < 0);
        }
        // Headers and paths from a seeded generator.
        QRandomGenerator random(31);
        for (int i = 0; i < 200; ++i) {
            QByteArray bytes(24 + int(random.bounded(64)), '\0');
            for (char &c : bytes)
                c = char(random.bounded(256));
            if (i % 2) // plausible headers with random paths
                bytes = request(qint32(random.bounded(12)), bytes.mid(24), random.generate(), qint32(random.generate()));
            QTcpSocket socket;
            QVERIFY(connectTo(socket, port));
            socket.write(bytes);
            socket.waitForBytesWritten(200);
            socket.abort();
        }
        QVERIFY(rig.owserver->rejectedConnections() > 0);
        // More connections than allowed: the extra ones closed, the rest answered.
        std::vector<std::unique_ptr<QTcpSocket>> idle;
        for (int i = 0; i < 12; ++i) {
            idle.push_back(std::make_unique<QTcpSocket>());
            connectTo(*idle.back(), port);
        }
        idle.clear();
        rig.session->refresh();
        rig.session->measure();
        const Run read = owshell(QStringLiteral("owread"), {QStringLiteral("-s"), rig.server(), QStringLiteral("/28.AA31075C1401/type")});
        QCOMPARE(read.out, QByteArray("DS18B20"));
    }

    // The replies' framing, as ownet clients parse them.
    void repliesAreFramedAsClientsExpect()
    {
        QString error;
        Rig rig(SimBusLoader::loadDemo(&error));
        QTcpSocket socket;
        QVERIFY(connectTo(socket, rig.owserver->port()));
        // DIR: one message per entry, then an empty one.
        const QByteArray dir = exchange(socket, request(OwProtocol::Dir, "/28.AA31075C1401", 0x10e), 300);
        int at = 0, entries = 0;
        while (at + 24 <= dir.size()) {
            const OwProtocol::Header h = OwProtocol::decodeHeader(dir.constData() + at);
            QCOMPARE(h.type, 0);
            at += 24 + h.payload;
            if (h.payload == 0)
                break;
            QCOMPARE(dir.at(at - 1), '\0');
            ++entries;
        }
        QCOMPARE(at, dir.size());
        QVERIFY(entries >= 7);
        // READ with an offset and a size; SIZE; DIRALLSLASH marks directories.
        OwProtocol::Header h;
        h.payload = int(strlen("/28.AA31075C1401/type")) + 1;
        h.type = OwProtocol::Read;
        h.flags = 0x10e;
        h.size = 3;
        h.offset = 2;
        const QByteArray part = exchange(socket, OwProtocol::encodeHeader(h) + "/28.AA31075C1401/type" + QByteArray(1, '\0'), 300);
        QCOMPARE(part.mid(24), QByteArray("18B"));
        const QByteArray size = exchange(socket, request(OwProtocol::Size, "/28.AA31075C1401/type", 0x10e), 300);
        QCOMPARE(OwProtocol::decodeHeader(size.constData()).type, 7);
        const QByteArray slash = exchange(socket, request(OwProtocol::DirAllSlash, "/", 0x10e), 300);
        QVERIFY(slash.contains("/19.5C2E810B0000/,"));
        QVERIFY(slash.contains(",/bus.0/,"));
    }

    // "[ADDRESS:]PORT" as the options and settings take it.
    void listenAddresses()
    {
        const struct
        {
            const char *text;
            const char *parsed; // null: refused
        } cases[] = {
            {"4304", "127.0.0.1:4304"},          {"0.0.0.0:4304", "0.0.0.0:4304"}, {"localhost:9108", "127.0.0.1:9108"},
            {"[::1]:4304", "[::1]:4304"},         {"0", nullptr},                    {"65536", nullptr},
            {"host.example:4304", nullptr},       {"127.0.0.1:", nullptr},           {"", nullptr},
            {"127.0.0.1:43x", nullptr},
        };
        for (const auto &c : cases) {
            ListenAddress address;
            QString error;
            const bool ok = ListenAddress::parse(QLatin1String(c.text), &address, &error);
            QCOMPARE(ok, c.parsed != nullptr);
            if (ok)
                QCOMPARE(address.text(), QLatin1String(c.parsed));
            else
                QVERIFY(!error.isEmpty());
        }
        QStringList args{QStringLiteral("read"), QStringLiteral("--owserver"), QStringLiteral("4304"), QStringLiteral("--metrics=9108")};
        OwserverConfig owserver;
        MetricsConfig metrics;
        QString error;
        QVERIFY(OwserverConfig::takeOptions(args, &owserver, &error));
        QVERIFY(MetricsConfig::takeOptions(args, &metrics, &error));
        QCOMPARE(args, QStringList{QStringLiteral("read")});
        QVERIFY(owserver.enabled && metrics.enabled);
        QCOMPARE(metrics.listen.port, quint16(9108));
        args = QStringList{QStringLiteral("--owserver")};
        QVERIFY(!OwserverConfig::takeOptions(args, &owserver, &error));
    }

    // orvexctl serves both faces while it records and publishes, and
    // every cycle still reaches the files and the broker.
    void orvexctlServesBesideRecordingAndMqtt()
    {
        if (MqttTestBroker::executable().isEmpty())
            QSKIP("mosquitto is not installed (tools/install-deps installs it)");
        MqttTestBroker broker;
        QVERIFY2(broker.start(), qPrintable(broker.error()));
        QTemporaryDir home, record;
        const quint16 owPort = freePort();
        const quint16 metricsPort = freePort();
        TestProcess ctl(QStringLiteral(ORVEXCTL_BIN),
                        {"XDG_CONFIG_HOME=" + home.path() + "/config", "XDG_DATA_HOME=" + home.path() + "/data"});
        ctl.start({QStringLiteral("read"), QStringLiteral("--bus=sim"), QStringLiteral("--fast"), QStringLiteral("--cycles"),
                   QStringLiteral("1000000"), QStringLiteral("--interval"), QStringLiteral("10"), QStringLiteral("--record"),
                   record.path(), QStringLiteral("--mqtt"), broker.url(QStringLiteral("lab")), QStringLiteral("--owserver"),
                   QString::number(owPort), QStringLiteral("--metrics"), QStringLiteral("127.0.0.1:%1").arg(metricsPort)});
        QVERIFY(ctl.waitForLines(40));
        const QString server = QStringLiteral("127.0.0.1:%1").arg(owPort);
        const Run read = owshell(QStringLiteral("owread"), {QStringLiteral("-s"), server, QStringLiteral("/28.AA31075C1401/temperature")});
        QCOMPARE(read.exitCode, 0);
        QVERIFY(std::fabs(read.out.trimmed().toDouble() - 23) < 2);
        QTcpSocket http;
        QVERIFY(connectTo(http, metricsPort));
        const QByteArray page = exchange(http, "GET /metrics HTTP/1.0\r\n\r\n");
        QVERIFY(page.contains("orvex_pressure_pascals{"));
        QVERIFY(page.contains("orvex_bus_up{bus=\"0\"} 1"));
        QVERIFY(!QDir(record.path()).entryList(QDir::Files).isEmpty());
        ctl.kill();
    }

    // promtool accepts the endpoint's page; prometheus scrapes it and has every channel.
    void prometheusScrapesEveryChannel()
    {
        if (!have(QStringLiteral("prometheus")) || !have(QStringLiteral("promtool")))
            QSKIP("prometheus is not installed (tools/install-deps installs it)");
        QString error;
        Rig rig(SimBusLoader::loadDemo(&error));
        QVERIFY2(rig.started, qPrintable(error));
        QTcpSocket http;
        QVERIFY(connectTo(http, rig.metrics->port()));
        QByteArray page = exchange(http, "GET /metrics HTTP/1.0\r\n\r\n");
        page = page.mid(page.indexOf("\r\n\r\n") + 4);
        QProcess promtool;
        promtool.start(QStringLiteral("promtool"), {QStringLiteral("check"), QStringLiteral("metrics")});
        promtool.write(page);
        promtool.closeWriteChannel();
        QVERIFY(promtool.waitForFinished(20000));
        QVERIFY2(promtool.exitCode() == 0, promtool.readAllStandardError().constData());

        QTemporaryDir dir;
        const quint16 webPort = freePort();
        QFile config(dir.filePath(QStringLiteral("prometheus.yml")));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write(QStringLiteral("global:\n  scrape_interval: 200ms\n  scrape_timeout: 150ms\n"
                                    "scrape_configs:\n  - job_name: orvex\n    static_configs:\n"
                                    "      - targets: ['127.0.0.1:%1']\n")
                         .arg(rig.metrics->port())
                         .toUtf8());
        config.close();
        QProcess prometheus;
        prometheus.setProcessChannelMode(QProcess::MergedChannels);
        prometheus.start(QStandardPaths::findExecutable(QStringLiteral("prometheus")),
                         {QStringLiteral("--config.file=") + config.fileName(),
                          QStringLiteral("--storage.tsdb.path=") + dir.filePath(QStringLiteral("data")),
                          QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(webPort)});
        QVERIFY(prometheus.waitForStarted());
        const int before = rig.metrics->scrapes();
        QTRY_VERIFY_WITH_TIMEOUT(rig.metrics->scrapes() >= before + 2, 30000);

        // Every channel with a number, as the series prometheus has.
        int expected = 0;
        for (const SensorDevice *device : rig.session->allDevices()) {
            for (const SensorChannel &channel : device->channels)
                expected += channel.value == channel.value ? 1 : 0;
        }
        QJsonArray result;
        const QString query = QStringLiteral("{__name__=~\"orvex_(temperature_celsius|relative_humidity_percent|pressure_pascals|co2_ppm|voltage_volts|count_total|state|value)\"}");
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                QProcess curl;
                curl.start(QStringLiteral("curl"), {QStringLiteral("-s"), QStringLiteral("--get"), QStringLiteral("--data-urlencode"),
                                                    QStringLiteral("query=") + query,
                                                    QStringLiteral("http://127.0.0.1:%1/api/v1/query").arg(webPort)});
                curl.waitForFinished(5000);
                result = QJsonDocument::fromJson(curl.readAllStandardOutput()).object()[QStringLiteral("data")].toObject()[QStringLiteral("result")].toArray();
                return result.size() == expected;
            }(),
            30000);
        for (const QJsonValue &series : result) {
            const QJsonObject labels = series.toObject()[QStringLiteral("metric")].toObject();
            const double value = series.toObject()[QStringLiteral("value")].toArray().at(1).toString().toDouble();
            bool found = false;
            for (const SensorDevice *device : rig.session->allDevices()) {
                for (const SensorChannel &channel : device->channels) {
                    if (romToText(device->rom, false) != labels[QStringLiteral("rom")].toString()
                        || QString::number(channel.subchannel) != labels[QStringLiteral("subchannel")].toString()
                        || QString::number(channel.hubChannel) != labels[QStringLiteral("hub_channel")].toString()
                        || QString::number(channel.i2cAddress) != labels[QStringLiteral("i2c_address")].toString())
                        continue;
                    const double factor = channel.unit == QLatin1String("kPa") ? 1000 : 1;
                    found = std::fabs(value - channel.value * factor) <= 1e-6 * std::max(1.0, std::fabs(value));
                }
            }
            QVERIFY2(found, qPrintable(QJsonDocument(labels).toJson(QJsonDocument::Compact)));
        }
        prometheus.terminate();
        QVERIFY(prometheus.waitForFinished(10000));
    }
};

QTEST_MAIN(TestFaces)
#include "tst_faces.moc"
