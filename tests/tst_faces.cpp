// The outside faces with real clients: ow-shell's owdir/owread/owget and raw
// sockets against the owserver face, promtool, curl and a prometheus server
// against the metrics endpoint, each over loopback on a session in virtual
// time.
#include "base/clock.h"
#include "faces/connectionshare.h"
#include "faces/metricsface.h"
#include "faces/owserverface.h"
#include "faces/owserverprotocol.h"
#include "model/sensordevice.h"
#include "onewire/romid.h"
#include "sensors/sensor.h"
#include "session/measurementsession.h"
#include "sim/simbusloader.h"
#include "support/mqtttestbroker.h"
#include "support/simfixture.h"
#include "support/testprocess.h"
#include "support/windowrig.h"
#include "base/appsettings.h"
#include "table/tableman.h"

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
#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cmath>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

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
    static constexpr int kOwserverPlaces = 8;

    // `requestTimeoutMs`: the owserver face's, short so that tests of bad requests go quickly.
    explicit Rig(std::unique_ptr<SimBackend> backend, int requestTimeoutMs = 300)
    {
        Clock::setVirtual();
        fixture = std::make_unique<SimFixture>(std::move(backend));
        fixture->backend().setTrafficLogging(false);
        session = std::make_unique<MeasurementSession>(&fixture->backend());
        OwserverConfig owConfig;
        owConfig.enabled = true;
        owConfig.requestTimeoutMs = requestTimeoutMs;
        owConfig.maxConnections = kOwserverPlaces;
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

// Exactly `count` bytes, or what came before the server closed or went quiet for 2 s.
QByteArray readBytes(QTcpSocket &socket, int count)
{
    QByteArray got;
    while (got.size() < count && (socket.bytesAvailable() > 0 || socket.waitForReadyRead(2000)))
        got += socket.read(count - got.size());
    return got;
}

bool closedByServer(QTcpSocket &socket, int withinMs)
{
    return socket.state() == QAbstractSocket::UnconnectedState || socket.waitForDisconnected(withinMs);
}

// The descriptors this process has open.
int openFiles()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).count());
}

QByteArray scrape(quint16 port)
{
    QTcpSocket http;
    if (!connectTo(http, port))
        return QByteArray();
    const QByteArray page = exchange(http, "GET /metrics HTTP/1.0\r\n\r\n");
    return page.mid(page.indexOf("\r\n\r\n") + 4);
}

// The page's lines that start with `prefix` (and end with `suffix`).
QList<QByteArray> linesOf(const QByteArray &page, const QByteArray &prefix, const QByteArray &suffix = QByteArray())
{
    QList<QByteArray> found;
    for (const QByteArray &line : page.split('\n')) {
        if (line.startsWith(prefix) && line.endsWith(suffix))
            found.append(line);
    }
    return found;
}

const SensorDevice *deviceNamed(MeasurementSession &session, const QString &owserverName)
{
    for (const SensorDevice *device : session.allDevices()) {
        if (owName(*device) == owserverName)
            return device;
    }
    return nullptr;
}

// The value text the table shows for channel `index` of `device`.
QByteArray tableValue(MeasurementSession &session, const SensorDevice &device, int index)
{
    TableMan &table = session.table();
    return table.cellText(table.findRow(ChannelId::of(device, index)), TableMan::ColValue).toLatin1();
}

// Connections a local process holds open to lock the others out: as many
// idle as sending a request that never ends, as many again sending
// requests whose answers they never read. Closed when it goes.
class Hoarder
{
public:
    Hoarder() = default;
    Hoarder(quint16 port, int count, const QByteArray &unfinished, const QByteArray &unread)
    {
        for (int i = 0; i < count; ++i)
            hold(port, i % 3 == 1 ? unfinished : i % 3 == 2 ? unread : QByteArray(), i % 3 == 2);
    }
    ~Hoarder()
    {
        for (int fd : m_fds)
            ::close(fd);
    }
    // One more connection that sends `bytes` (the server may have closed it
    // already to make room: no matter); `neverRead`: with a receive buffer
    // so small that answers pile up at the server's end.
    void hold(quint16 port, const QByteArray &bytes, bool neverRead)
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0)
            return;
        m_fds.push_back(fd);
        if (neverRead) {
            const int small = 2048;
            ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
        }
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        QElapsedTimer took;
        took.start();
        if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0)
            return;
        m_slowestConnectMs = qMax(m_slowestConnectMs, took.elapsed());
        ++m_connected;
        if (!bytes.isEmpty())
            ::send(fd, bytes.constData(), size_t(bytes.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
    }
    int connected() const { return m_connected; }
    // The longest a connection took to be taken (a second or more: the
    // server's queue was full and the kernel dropped the request).
    qint64 slowestConnectMs() const { return m_slowestConnectMs; }
    // Whether the server closed connection `index` (one that expects no answer) within `ms`.
    bool closedByServer(int index, int ms) const
    {
        pollfd wait{m_fds.at(size_t(index)), POLLIN, 0};
        char byte;
        return ::poll(&wait, 1, ms) == 1 && ::recv(wait.fd, &byte, 1, MSG_DONTWAIT) <= 0;
    }

private:
    std::vector<int> m_fds;
    int m_connected = 0;
    qint64 m_slowestConnectMs = 0;
};

// A prometheus server scraping the endpoint at `port` every 200 ms, in a
// folder of its own, with its query API on a port of its own.
class PrometheusServer
{
public:
    explicit PrometheusServer(quint16 port)
        : m_webPort(freePort())
    {
        QFile config(m_dir.filePath(QStringLiteral("prometheus.yml")));
        if (!config.open(QIODevice::WriteOnly))
            return;
        config.write(QStringLiteral("global:\n  scrape_interval: 200ms\n  scrape_timeout: 150ms\n"
                                    "scrape_configs:\n  - job_name: orvex\n    static_configs:\n"
                                    "      - targets: ['127.0.0.1:%1']\n")
                         .arg(port)
                         .toUtf8());
        config.close();
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(QStandardPaths::findExecutable(QStringLiteral("prometheus")),
                        {QStringLiteral("--config.file=") + config.fileName(),
                         QStringLiteral("--storage.tsdb.path=") + m_dir.filePath(QStringLiteral("data")),
                         QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(m_webPort)});
    }
    ~PrometheusServer()
    {
        m_process.terminate();
        if (!m_process.waitForFinished(10000))
            m_process.kill();
    }
    bool started() { return m_process.waitForStarted(); }
    // The instant query's result: one element per series.
    QJsonArray query(const QString &expression)
    {
        QProcess curl;
        curl.start(QStringLiteral("curl"), {QStringLiteral("-s"), QStringLiteral("--get"), QStringLiteral("--data-urlencode"),
                                            QStringLiteral("query=") + expression,
                                            QStringLiteral("http://127.0.0.1:%1/api/v1/query").arg(m_webPort)});
        curl.waitForFinished(5000);
        return QJsonDocument::fromJson(curl.readAllStandardOutput())
            .object()[QStringLiteral("data")]
            .toObject()[QStringLiteral("result")]
            .toArray();
    }

private:
    QTemporaryDir m_dir;
    quint16 m_webPort;
    QProcess m_process;
};

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
            for (int index = 0; index < device->channels.size(); ++index) {
                const SensorChannel &channel = device->channels.at(index);
                // Every humidity in "%", every pressure in owserver's default
                // scale, mbar, whatever unit the sensor's record carries.
                const bool pressure = channel.unit.endsWith(QLatin1String("Pa"));
                const QString faceUnit = channel.unit.startsWith(QLatin1Char('%')) ? QStringLiteral("%")
                                         : pressure ? QStringLiteral("mbar") : channel.unit;
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
                // The digits the table shows, no more and no fewer; a
                // pressure is the table's value moved into mbar.
                const QByteArray shown = tableValue(*rig.session, *device, index);
                if (pressure) {
                    const double mbar = shown.toDouble() * (channel.unit == QLatin1String("Pa") ? 0.01 : 10);
                    QCOMPARE(read.out.trimmed(), QByteArray::number(mbar, 'g', 6));
                } else {
                    QCOMPARE(read.out.trimmed(), shown);
                }
                // In Fahrenheit only a temperature changes.
                const Run fahrenheit = owshell(QStringLiteral("owread"), {QStringLiteral("-F"), QStringLiteral("-s"), rig.server(), path});
                if (channel.unit == QLatin1String("C"))
                    QVERIFY(std::fabs(fahrenheit.out.toDouble() - (read.out.toDouble() * 1.8 + 32)) < 0.02);
                else
                    QCOMPARE(fahrenheit.out, read.out);
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
        QVERIFY(std::fabs(fahrenheit.out.trimmed().toDouble() - (celsius.out.trimmed().toDouble() * 1.8 + 32)) < 0.02);

        // Under each temperature scale, a bridge sensor's temperature is in
        // it and the unit file beside it names it; its humidity's stays "%".
        const QString sensor = QStringLiteral("/19.5C2E810B0000/i2c/hub0.44/");
        auto readAs = [&](const char *scale, const QString &property) {
            return owshell(QStringLiteral("owread"), {QLatin1String(scale), QStringLiteral("-s"), rig.server(), sensor + property}).out;
        };
        const double sensorCelsius = readAs("-C", QStringLiteral("temperature")).trimmed().toDouble();
        const struct
        {
            const char *option;
            const char *unit;
            double value;
        } scales[] = {
            {"-C", "C", sensorCelsius},
            {"-F", "F", sensorCelsius * 1.8 + 32},
            {"-K", "K", sensorCelsius + 273.15},
            {"-R", "R", (sensorCelsius + 273.15) * 1.8},
        };
        for (const auto &scale : scales) {
            QCOMPARE(readAs(scale.option, QStringLiteral("temperature_unit")), QByteArray(scale.unit));
            const double value = readAs(scale.option, QStringLiteral("temperature")).trimmed().toDouble();
            QVERIFY2(std::fabs(value - scale.value) < 0.02, scale.option);
            QCOMPARE(readAs(scale.option, QStringLiteral("humidity_unit")), QByteArray("%"));
        }
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

        // The metrics say the same: no number for a failed channel, its
        // failures counted, and every reason counted from 0 for every channel.
        const QByteArray text = metricsText(*std::make_shared<FaceSnapshot>()); // empty snapshot still well formed
        QVERIFY(text.contains("# TYPE orvex_bus_up gauge"));
        QTcpSocket http;
        QVERIFY(connectTo(http, rig.metrics->port()));
        QVERIFY(exchange(http, "GET /metrics HTTP/1.0\r\n\r\n").contains(" 200 OK\r\n"));
        const SensorDevice *good = deviceNamed(*rig.session, QStringLiteral("28.102030405060"));
        const SensorDevice *crc = deviceNamed(*rig.session, QStringLiteral("28.112131415161"));
        QVERIFY(good && crc);
        const QByteArray goodRom = "{rom=\"" + romToText(good->rom, false).toLatin1() + '"';
        const QByteArray crcRom = "{rom=\"" + romToText(crc->rom, false).toLatin1() + '"';
        QCOMPARE(goodRom.size(), 7 + 16);
        QByteArray page = scrape(rig.metrics->port());
        QCOMPARE(linesOf(page, "orvex_temperature_celsius" + goodRom).size(), 1);
        QVERIFY(linesOf(page, "orvex_temperature_celsius" + goodRom).first().endsWith("} 21.25"));
        QCOMPARE(linesOf(page, "orvex_temperature_celsius" + crcRom).size(), 0);
        QCOMPARE(linesOf(page, "orvex_reading_timestamp_seconds" + crcRom).size(), 1);
        const QList<QByteArray> counters = linesOf(page, "orvex_failed_readings_total{");
        int expected = 0;
        for (const SensorDevice *device : rig.session->allDevices())
            expected += device->channels.size() * failureCodes(device->family).size();
        QCOMPARE(counters.size(), expected);
        QCOMPARE(failureCodes(0x28), (QStringList{"no_answer", "crc", "power_on_value", "other"}));
        for (const QString &reason : failureCodes(0x28))
            QCOMPARE(linesOf(page, "orvex_failed_readings_total" + goodRom, ",reason=\"" + reason.toLatin1() + "\"} 0").size(), 1);
        QCOMPARE(linesOf(page, "orvex_failed_readings_total" + crcRom, "reason=\"crc\"} 2").size(), 1);
        QVERIFY(!linesOf(page, "orvex_failed_readings_total{", "reason=\"open_circuit\"} 2").isEmpty());

        // A device that stops answering: still listed, but from the next
        // cycle on no value, in neither face; its last reading's time stays.
        const QByteArray goodTime = linesOf(page, "orvex_reading_timestamp_seconds" + goodRom).value(0);
        QVERIFY(!goodTime.isEmpty());
        rig.fixture->bus().removeDevice(0); // the bus file's first device
        rig.session->refresh();
        rig.session->measure();
        QVERIFY(read(QStringLiteral("/28.102030405060/temperature")).exitCode != 0);
        QVERIFY(read(QStringLiteral("/28.102030405060/latesttemp")).exitCode != 0);
        QCOMPARE(read(QStringLiteral("/28.102030405060/type")).out, QByteArray("DS18B20"));
        page = scrape(rig.metrics->port());
        QCOMPARE(linesOf(page, "orvex_temperature_celsius" + goodRom).size(), 0);
        QCOMPARE(linesOf(page, "orvex_reading_timestamp_seconds" + goodRom).value(0), goodTime);
        QCOMPARE(linesOf(page, "orvex_failed_readings_total" + goodRom, "reason=\"no_answer\"} 1").size(), 1);

        // A device gone from the bus is gone from the root after the next searches.
        for (int i = 0; i < 2; ++i) {
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

    // A header announcing more than the limit closes its connection at once
    // (not when the request's time is up) and is counted, also after a
    // request on a kept connection; one at the limit is read and answered.
    void oversizedHeadersAreRefusedAtOnce()
    {
        OwserverConfig config;
        config.enabled = true;
        config.requestTimeoutMs = 60000;
        OwserverFace face(config);
        QString error;
        QVERIFY2(face.start(&error), qPrintable(error));
        const int limit = OwProtocol::kMaxPayload;
        for (const qint32 payload : {limit + 1, 1 << 20, 0x7fffffff}) {
            for (const bool afterRequest : {false, true}) {
                QTcpSocket socket;
                QVERIFY(connectTo(socket, face.port()));
                if (afterRequest) {
                    socket.write(request(OwProtocol::Nop, "", 0x10e));
                    QCOMPARE(readBytes(socket, 24).size(), 24);
                }
                const int before = face.rejectedConnections();
                socket.write(OwProtocol::encodeHeader({0, payload, OwProtocol::Read, 0x10e, 100, 0}));
                QVERIFY2(closedByServer(socket, 5000), qPrintable(QString::number(payload)));
                QCOMPARE(face.rejectedConnections(), before + 1);
            }
        }
        QTcpSocket socket;
        QVERIFY(connectTo(socket, face.port()));
        const int before = face.rejectedConnections();
        socket.write(OwProtocol::encodeHeader({0, limit, OwProtocol::Read, 0x10e, 100, 0}) + QByteArray(limit - 1, '/')
                     + QByteArray(1, '\0'));
        const QByteArray reply = readBytes(socket, 24);
        QCOMPARE(reply.size(), 24);
        QCOMPARE(OwProtocol::decodeHeader(reply.constData()).type, -EISDIR);
        QCOMPARE(face.rejectedConnections(), before);
    }

    // Who gives way at the limit: the connection longest without a request
    // under way, never the newcomer; only when all have one, the oldest request.
    void connectionShareChoosesWhoGivesWay()
    {
        using Id = ConnectionShare::Id;
        ConnectionShare share(3);
        QCOMPARE(share.admit(1), Id(0));
        QCOMPARE(share.admit(2), Id(0));
        QCOMPARE(share.admit(3), Id(0));
        share.setBusy(1, true);
        QCOMPARE(share.admit(4), Id(2));
        share.setBusy(3, true);
        share.setBusy(3, false); // answered: its wait starts anew
        QCOMPARE(share.admit(5), Id(4));
        share.setBusy(5, true);
        share.setBusy(3, true);
        QCOMPARE(share.admit(6), Id(1));
        share.setBusy(42, true); // closed meanwhile: nothing to do
        share.remove(42);
        QCOMPARE(share.size(), 3);
        share.remove(6);
        QCOMPARE(share.admit(7), Id(0));

        // One remote address beyond its share gives way among its own
        // connections, by the same rule; local ones (no group) only share the whole.
        ConnectionShare grouped(4, 2);
        QCOMPARE(grouped.admit(3), Id(0));
        QCOMPARE(grouped.admit(1, "10.0.0.2"), Id(0));
        QCOMPARE(grouped.admit(2, "10.0.0.2"), Id(0));
        grouped.setBusy(1, true);
        QCOMPARE(grouped.admit(4, "10.0.0.2"), Id(2)); // not 3, idle longer but not its own
        QCOMPARE(grouped.admit(5), Id(0));
        QCOMPARE(grouped.admit(6, "10.0.0.3"), Id(3)); // the whole is full: the longest idle of all
        QCOMPARE(grouped.admit(7), Id(4));
        QCOMPARE(grouped.size(), 4);
    }

    // A local process holding a thousand connections open to each face
    // (idle, with a request never finished, sending requests it never
    // reads the answers to) locks out neither a real owread nor a scrape.
    void heldConnectionsLockNobodyOut()
    {
        if (!have(QStringLiteral("curl")))
            QSKIP("curl is not installed (tools/install-deps installs it)");
        const int count = 1000;
        rlimit files{};
        getrlimit(RLIMIT_NOFILE, &files);
        if (files.rlim_cur < rlim_t(2 * count + 256)) {
            files.rlim_cur = qMin<rlim_t>(files.rlim_max, 2 * count + 256);
            setrlimit(RLIMIT_NOFILE, &files);
        }
        QString error;
        // Deadlines longer than the test: only giving way makes room.
        Rig rig(SimBusLoader::loadDemo(&error), 60000);
        QVERIFY2(rig.started, qPrintable(error));
        const int filesBefore = openFiles();
        QByteArray unreadRequests, unreadScrapes;
        for (int i = 0; i < 200; ++i) {
            unreadRequests += request(OwProtocol::DirAll, "/", 0x10e);
            unreadScrapes += "GET /metrics HTTP/1.1\r\nHost: orvex\r\n\r\n";
        }
        const Hoarder owserverHoard(rig.owserver->port(), count, request(OwProtocol::Read, "/28.AA31075C1401/type").left(30),
                                    unreadRequests);
        const Hoarder metricsHoard(rig.metrics->port(), count, "GET /metrics HTTP/1.1\r\nHost: orv", unreadScrapes);
        QCOMPARE(owserverHoard.connected(), count);
        QCOMPARE(metricsHoard.connected(), count);
        // Nobody's connection request dropped in the burst: the queues take it.
        QVERIFY2(owserverHoard.slowestConnectMs() < 1000, qPrintable(QString::number(owserverHoard.slowestConnectMs())));
        QVERIFY2(metricsHoard.slowestConnectMs() < 1000, qPrintable(QString::number(metricsHoard.slowestConnectMs())));
        // Held: once the servers have taken them from the queue, each newcomer beyond the places in place of another.
        QTRY_COMPARE_WITH_TIMEOUT(rig.owserver->evictedConnections(), count - Rig::kOwserverPlaces, 20000);
        QTRY_COMPARE_WITH_TIMEOUT(rig.metrics->evictedConnections(), count - MetricsConfig().maxConnections, 20000);
        // The servers' ends of those given way are closed: the process holds the hoard's descriptors and few more.
        QTRY_VERIFY_WITH_TIMEOUT(openFiles() < filesBefore + 2 * count + 64, 5000);

        QElapsedTimer took;
        took.start();
        const Run read = owshell(QStringLiteral("owread"), {QStringLiteral("-s"), rig.server(), QStringLiteral("/28.AA31075C1401/type")});
        const qint64 readMs = took.restart();
        QProcess curl;
        curl.start(QStringLiteral("curl"), {QStringLiteral("-sS"), QStringLiteral("--max-time"), QStringLiteral("10"),
                                            QStringLiteral("http://127.0.0.1:%1/metrics").arg(rig.metrics->port())});
        QVERIFY(curl.waitForFinished(15000));
        const qint64 scrapeMs = took.elapsed();
        QCOMPARE(read.out, QByteArray("DS18B20"));
        QVERIFY2(readMs < 1000, qPrintable(QString::number(readMs)));
        QVERIFY2(curl.readAllStandardOutput().contains("orvex_bus_up{bus=\"0\"} 1"), curl.readAllStandardError().constData());
        QVERIFY2(scrapeMs < 1000, qPrintable(QString::number(scrapeMs)));

        // And a real prometheus server's scrapes, each within its 150 ms timeout.
        if (!have(QStringLiteral("prometheus")))
            QSKIP("prometheus is not installed (tools/install-deps installs it)");
        PrometheusServer prometheus(rig.metrics->port());
        QVERIFY(prometheus.started());
        const int before = rig.metrics->scrapes();
        QTRY_VERIFY_WITH_TIMEOUT(rig.metrics->scrapes() >= before + 3, 30000);
        QTRY_VERIFY_WITH_TIMEOUT(prometheus.query(QStringLiteral("min_over_time(up{job=\"orvex\"}[1m]) == 1")).size() == 1,
                                 10000);
    }

    // With every place taken, a newcomer takes the place of a connection
    // that waits for nothing, not of one whose answers are still going out,
    // however long that one has been there. (A loopback socket's buffers
    // take megabytes: only a thousand unread pages keep an answer going.)
    void aScrapeTakesAnIdlePlace()
    {
        QString error;
        Rig rig(SimBusLoader::loadDemo(&error));
        MetricsConfig config;
        config.maxConnections = 2;
        MetricsFace metrics(config);
        QVERIFY2(metrics.start(&error), qPrintable(error));
        rig.session->addSink(&metrics);
        rig.session->refresh();
        rig.session->measure();
        QByteArray unread;
        for (int i = 0; i < 1000; ++i)
            unread += "GET /metrics HTTP/1.1\r\nHost: orvex\r\n\r\n";
        Hoarder hoard;
        hoard.hold(metrics.port(), unread, true);
        QTest::qWait(300); // answered until the answers pile up
        hoard.hold(metrics.port(), QByteArray(), false);
        QTest::qWait(100);
        QVERIFY(scrape(metrics.port()).contains("orvex_bus_up"));
        QVERIFY(hoard.closedByServer(1, 2000));
        QCOMPARE(metrics.evictedConnections(), 1);
        rig.session->removeSink(&metrics);
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

        PrometheusServer prometheus(rig.metrics->port());
        QVERIFY(prometheus.started());
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
                result = prometheus.query(query);
                return result.size() == expected;
            }(),
            30000);
        // Each series is a channel by its labels (the I2C address as the
        // owserver paths write it, the chip apart from the type text), with
        // the digits the table shows.
        bool sht3x = false;
        for (const QJsonValue &series : result) {
            const QJsonObject labels = series.toObject()[QStringLiteral("metric")].toObject();
            const QString value = series.toObject()[QStringLiteral("value")].toArray().at(1).toString();
            bool found = false;
            for (const SensorDevice *device : rig.session->allDevices()) {
                for (int index = 0; index < device->channels.size(); ++index) {
                    const SensorChannel &channel = device->channels.at(index);
                    const QString address = channel.i2cAddress == 0
                        ? QString()
                        : QStringLiteral("%1").arg(channel.i2cAddress >> 1, 2, 16, QLatin1Char('0')).toUpper();
                    if (romToText(device->rom, false) != labels[QStringLiteral("rom")].toString()
                        || QString::number(channel.subchannel) != labels[QStringLiteral("subchannel")].toString()
                        || QString::number(channel.hubChannel) != labels[QStringLiteral("hub_channel")].toString()
                        || address != labels[QStringLiteral("i2c_address")].toString())
                        continue;
                    // The chip its driver names (family 3B: a DS1825 or a MAX31850).
                    const SensorTraits *chip = channel.traits ? channel.traits : Sensor::traitsOf(device->family, channel.i2cAddress);
                    QCOMPARE(labels[QStringLiteral("chip")].toString(), QLatin1String(chip->name));
                    QCOMPARE(labels[QStringLiteral("sensor")].toString(), channel.type);
                    const double factor = channel.unit == QLatin1String("kPa") ? 1000 : 1;
                    const double shown = tableValue(*rig.session, *device, index).toDouble() * factor;
                    found = std::fabs(value.toDouble() - shown) <= 1e-9 * std::max(1.0, std::fabs(shown));
                    sht3x = sht3x
                        || (labels[QStringLiteral("chip")].toString() == QLatin1String("SHT3x")
                            && labels[QStringLiteral("i2c_address")].toString() == QLatin1String("44"));
                }
            }
            QVERIFY2(found, qPrintable(QJsonDocument(labels).toJson(QJsonDocument::Compact) + value));
        }
        QVERIFY(sht3x);
    }
};

QTEST_MAIN(TestFaces)
#include "tst_faces.moc"
