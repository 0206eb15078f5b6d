// The live web page over loopback on a session in virtual time: its JSON
// against the table and the recorded files, the alarm limits behind a
// password, malformed, oversized, slow and idle clients from raw sockets,
// and the page itself in a real browser (Debian's chromium) in Russian and
// English.
#include "alarms/alarmoutput.h"
#include "alarms/alarmrules.h"
#include "base/appsettings.h"
#include "base/clock.h"
#include "model/alarmboard.h"
#include "model/sensordevice.h"
#include "onewire/romid.h"
#include "sensors/sensor.h"
#include "session/measurementsession.h"
#include "sim/simbackend.h"
#include "sim/simbusloader.h"
#include "sim/simds18x20.h"
#include "support/testprocess.h"
#include "support/windowrig.h"
#include "table/recorder.h"
#include "table/tableman.h"
#include "web/webhistory.h"
#include "web/webpage.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <cmath>
#include <crypt.h>
#include <memory>

namespace {

quint16 freePort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

struct Reply
{
    int status = 0; // 0: closed without an answer
    QByteArray head;
    QByteArray body;
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
};

// Sends `request` as it is and reads until the server closes.
Reply exchange(quint16 port, const QByteArray &request, int waitMs = 5000)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    Reply reply;
    if (!socket.waitForConnected(2000))
        return reply;
    socket.write(request);
    socket.waitForBytesWritten(2000);
    QByteArray got;
    while (socket.state() == QAbstractSocket::ConnectedState && socket.waitForReadyRead(waitMs))
        got += socket.readAll();
    got += socket.readAll();
    const int split = got.indexOf("\r\n\r\n");
    reply.head = got.left(split);
    reply.body = split < 0 ? QByteArray() : got.mid(split + 4);
    if (got.startsWith("HTTP/1."))
        reply.status = got.mid(9, 3).toInt();
    return reply;
}

Reply get(quint16 port, const QByteArray &path, const QByteArray &headers = QByteArray())
{
    return exchange(port, "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n" + headers + "\r\n");
}

Reply post(quint16 port, const QByteArray &body, const QByteArray &headers)
{
    return exchange(port, "POST /api/limits HTTP/1.0\r\nHost: 127.0.0.1\r\nContent-Length: "
                              + QByteArray::number(body.size()) + "\r\n" + headers + "\r\n" + body);
}

QByteArray basic(const QByteArray &user, const QByteArray &password)
{
    return "Authorization: Basic " + (user + ':' + password).toBase64() + "\r\n";
}

QByteArray cryptHash(const QByteArray &password)
{
    char salt[CRYPT_GENSALT_OUTPUT_SIZE];
    crypt_gensalt_rn("$6$", 0, nullptr, 0, salt, sizeof salt);
    crypt_data data{};
    return QByteArray(crypt_r(password.constData(), salt, &data));
}

// A measurement file's data lines as the history should give them.
QVector<HistoryPoint> fileReadings(const QString &path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    QVector<HistoryPoint> points;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (int i = Recorder::HeaderLines; i < lines.size(); ++i) {
        const QList<QByteArray> fields = lines.at(i).trimmed().split(';');
        if (fields.size() < 3 || fields.at(0).isEmpty())
            continue;
        const QDateTime time = QDateTime::fromString(QString::fromLatin1(fields.at(0) + ' ' + fields.at(1)),
                                                     QStringLiteral("yyyy.MM.dd hh:mm:ss"));
        bool ok = false;
        const double value = Recorder::parseNumber(QString::fromLatin1(fields.at(2)), &ok);
        points.append({time.toMSecsSinceEpoch(), ok ? value : std::nan("")});
    }
    return points;
}

// The demo bus measured by a session in virtual time near the real now (the
// browser's charts ask for the last hour of its clock), with the page
// planned as orvexctl plans it from `options` after the alarm output, and
// `cycles` measured.
struct Rig
{
    explicit Rig(bool recording, QStringList options = {}, int cycles = 3)
    {
        Clock::setVirtual(QDateTime::currentDateTime().addSecs(-600));
        QString error;
        backend = SimBusLoader::loadDemo(&error);
        backend->setTrafficLogging(false);
        port = freePort();
        SessionDescription description;
        description.bus = backend.get();
        description.scanAllChannel = description.scanAllType = true; // as orvexctl's defaults
        if (recording)
            description.recordingFolder = folder.path();
        description.host.report = [](const QString &) {};
        options << QStringLiteral("--web") << QString::number(port);
        for (const OutputEntry &entry : {AlarmOutput::outputEntry(), WebPage::outputEntry()}) {
            std::unique_ptr<OutputPlan> plan = entry.plan(appSettings(), &options, &error);
            if (plan)
                description.outputs.push_back({entry.name, std::move(plan)});
        }
        session = MeasurementSession::fromDescription(std::move(description), &error);
        page = dynamic_cast<WebPage *>(session->output(QStringLiteral("web")));
        for (int i = 0; i < cycles; ++i)
            cycle();
    }
    void cycle()
    {
        Clock::advanceMs(10000);
        session->cycle();
    }
    // The first simulated thermometer and its channel's key.
    SimDs18x20 *thermometer(QString *key)
    {
        for (int i = 0; i < backend->bus().deviceCount(); ++i) {
            if (auto *chip = dynamic_cast<SimDs18x20 *>(backend->bus().device(i))) {
                *key = WindowRig::romText(chip->rom()) + QStringLiteral("/0/-1/0");
                return chip;
            }
        }
        return nullptr;
    }

    QTemporaryDir folder;
    std::unique_ptr<SimBackend> backend;
    std::unique_ptr<MeasurementSession> session;
    WebPage *page = nullptr;
    quint16 port = 0;
};

QString script()
{
    return QStringLiteral(TEST_DATA_DIR "/../tools/webbrowser.py");
}

// The browser, one command a line; its answers are one line each.
class Browser
{
public:
    bool open(const QString &url, const QString &language, int width = 1100, int height = 1400)
    {
        m_process.start(QStringLiteral("/usr/bin/python3"),
                        {script(), url, language, QString::number(width), QString::number(height)});
        return answer(120000).startsWith("READY");
    }
    ~Browser()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.write("quit\n");
            if (!m_process.waitForFinished(20000))
                m_process.kill();
            m_process.waitForFinished();
        }
    }
    // Polls a JavaScript expression until it is truthy (real seconds: a real browser's pace).
    QJsonValue until(const QString &expression, int seconds = 30)
    {
        m_process.write("until " + QByteArray::number(seconds) + ' ' + expression.toUtf8() + '\n');
        const QByteArray line = answer((seconds + 30) * 1000);
        m_last = line;
        if (!line.startsWith("OK "))
            return QJsonValue();
        return QJsonDocument::fromJson("[" + line.mid(3) + "]").array().at(0);
    }
    QByteArray command(const QByteArray &line)
    {
        m_process.write(line + '\n');
        return answer(60000);
    }
    QByteArray last() { return m_last + m_process.readAllStandardError(); }

private:
    QByteArray answer(int timeoutMs)
    {
        QElapsedTimer timer;
        timer.start();
        while (!m_process.canReadLine() && timer.elapsed() < timeoutMs && m_process.state() != QProcess::NotRunning)
            m_process.waitForReadyRead(500);
        return m_process.readLine().trimmed();
    }
    QProcess m_process;
    QByteArray m_last;
};

} // namespace

class TestWeb : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        WindowRig::prepareProcess();
    }

    // /api/channels holds every row of the table with its value as the table
    // shows it; the bus line says what the master is; the history of each
    // channel is its file's lines for the span asked, or at most the points asked.
    void jsonMatchesTheTableAndTheFiles()
    {
        Rig rig(true);
        QVERIFY(rig.page);
        const Reply channels = get(rig.port, "/api/channels");
        QCOMPARE(channels.status, 200);
        const QJsonObject state = channels.json();
        QCOMPARE(state[QStringLiteral("cycle")].toInt(), 3);
        const QJsonObject bus = state[QStringLiteral("buses")].toArray().at(0).toObject();
        QCOMPARE(bus[QStringLiteral("kind")].toString(), QStringLiteral("simulated"));
        QVERIFY(bus[QStringLiteral("up")].toBool());
        QCOMPARE(state[QStringLiteral("limitsEditable")].toBool(), false);
        TableMan &table = rig.session->table();
        const QJsonArray list = state[QStringLiteral("channels")].toArray();
        QCOMPARE(list.size(), table.rowTotal());
        int histories = 0;
        for (int row = 0; row < table.rowTotal(); ++row) {
            const QString key = table.channelAt(row).text();
            QJsonObject c;
            for (const QJsonValue &v : list)
                c = v.toObject()[QStringLiteral("key")].toString() == key ? v.toObject() : c;
            QVERIFY2(!c.isEmpty(), qPrintable(key));
            QCOMPARE(c[QStringLiteral("text")].toString(), table.cellText(row, TableMan::ColValue));
            QCOMPARE(c[QStringLiteral("rom")].toString(), table.cellText(row, TableMan::ColRom));
            QCOMPARE(c[QStringLiteral("type")].toString(), table.cellText(row, TableMan::ColType).trimmed());
            QCOMPARE(c[QStringLiteral("i2cSerial")].toString(), table.cellText(row, TableMan::ColI2cSerial));
            QCOMPARE(c[QStringLiteral("unit")].toString(), table.cellText(row, TableMan::ColUnit));
            QVERIFY(c[QStringLiteral("fresh")].toBool());
            // The same instant as timeMs, with the zone's offset (the test runs in one with an offset).
            const QDateTime time = QDateTime::fromString(c[QStringLiteral("time")].toString(), Qt::ISODate);
            QCOMPARE(time.toMSecsSinceEpoch() / 1000, qint64(c[QStringLiteral("timeMs")].toDouble()) / 1000);
            QVERIFY(time.offsetFromUtc() != 0);

            const QString path = rig.session->recorder().fileNameOf(table.channelAt(row));
            const QVector<HistoryPoint> lines = fileReadings(QDir(rig.folder.path()).filePath(QFileInfo(path).fileName()));
            QCOMPARE(lines.size(), 3);
            const QByteArray query = "/api/history?channel=" + QUrl::toPercentEncoding(key) + "&from="
                + QByteArray::number(lines.first().ms) + "&to=" + QByteArray::number(lines.last().ms);
            const QJsonObject history = get(rig.port, query).json();
            QCOMPARE(history[QStringLiteral("source")].toString(), QStringLiteral("files"));
            const QJsonArray readings = history[QStringLiteral("readings")].toArray();
            QCOMPARE(readings.size(), lines.size());
            for (int i = 0; i < lines.size(); ++i) {
                QCOMPARE(qint64(readings.at(i).toArray().at(0).toDouble()), lines.at(i).ms);
                QCOMPARE(readings.at(i).toArray().at(1).toDouble(), lines.at(i).value);
            }
            // Only the middle line falls in a span around it.
            const QJsonArray middle = get(rig.port, "/api/history?channel=" + QUrl::toPercentEncoding(key) + "&from="
                                                        + QByteArray::number(lines.at(1).ms - 1) + "&to="
                                                        + QByteArray::number(lines.at(1).ms + 1))
                                          .json()[QStringLiteral("readings")].toArray();
            QCOMPARE(middle.size(), 1);
            ++histories;
        }
        QVERIFY(histories >= 20);
        // A file that grew since it was read gives its new line too.
        const QByteArray first = QUrl::toPercentEncoding(table.channelAt(0).text());
        rig.cycle();
        QCOMPARE(get(rig.port, "/api/history?channel=" + first + "&from=" + QByteArray::number(Clock::now().addSecs(-3600).toMSecsSinceEpoch()))
                     .json()[QStringLiteral("readings")].toArray().size(),
                 4);

        // Reduced for drawing: a spike survives, a gap stays a gap.
        QVector<HistoryPoint> many;
        for (int i = 0; i < 1000; ++i)
            many.append({i * 1000, i == 500 ? 99.0 : (i == 700 ? std::nan("") : 1.0)});
        const QVector<HistoryPoint> drawn = reduceHistory(many, 0, 999000, 100);
        QVERIFY(drawn.size() <= 110);
        QVERIFY(std::any_of(drawn.begin(), drawn.end(), [](const HistoryPoint &p) { return p.value == 99.0; }));
        QVERIFY(std::any_of(drawn.begin(), drawn.end(), [](const HistoryPoint &p) { return std::isnan(p.value); }));

        // Questions it cannot answer, each with its status.
        const QByteArray key = QUrl::toPercentEncoding(list.at(0).toObject()[QStringLiteral("key")].toString());
        QCOMPARE(get(rig.port, "/api/history?channel=" + key + "&from=20&to=10").status, 400);
        QCOMPARE(get(rig.port, "/api/history?channel=" + key + "&from=0&to=" + QByteArray::number(40LL * 86400000)).status, 400);
        QCOMPARE(get(rig.port, "/api/history?channel=" + key + "&from=yesterday").status, 400);
        QCOMPARE(get(rig.port, "/api/history?channel=" + key + "&points=1").status, 400);
        QCOMPARE(get(rig.port, "/api/history?channel=FFFFFFFFFFFFFFFF/0/-1/0").status, 404);
        QCOMPARE(get(rig.port, "/api/history").status, 400);
        const QByteArray iso = "&from=" + QUrl::toPercentEncoding(Clock::now().addSecs(-3600).toString(Qt::ISODate));
        QCOMPARE(get(rig.port, "/api/history?channel=" + key + iso).json()[QStringLiteral("readings")].toArray().size(), 4);

        // A clock set back within the run, then a second run recording into
        // the same folder over the same minutes: one history in time order,
        // every line of both files.
        auto timeOrder = [&](int expected) {
            const qint64 nowMs = Clock::now().toMSecsSinceEpoch();
            const QJsonObject history = get(rig.port, "/api/history?channel=" + first + "&from="
                                                          + QByteArray::number(nowMs - 3600000) + "&to="
                                                          + QByteArray::number(nowMs + 3600000))
                                            .json();
            QVector<HistoryPoint> lines;
            for (const QJsonValue &file : history[QStringLiteral("files")].toArray())
                lines += fileReadings(QDir(rig.folder.path()).filePath(file.toString()));
            std::stable_sort(lines.begin(), lines.end(),
                             [](const HistoryPoint &a, const HistoryPoint &b) { return a.ms < b.ms; });
            const QJsonArray readings = history[QStringLiteral("readings")].toArray();
            QCOMPARE(readings.size(), expected);
            QCOMPARE(lines.size(), expected);
            for (int i = 0; i < expected; ++i)
                QCOMPARE(qint64(readings.at(i).toArray().at(0).toDouble()), lines.at(i).ms);
        };
        // (A cycle of the demo bus takes some 30 s of its clock.)
        Clock::setVirtual(Clock::now().addSecs(-120));
        rig.cycle();
        timeOrder(5);
        if (QTest::currentTestFailed())
            return;
        {
            SessionDescription second;
            second.bus = rig.backend.get();
            second.scanAllChannel = second.scanAllType = true;
            second.recordingFolder = rig.folder.path();
            second.host.report = [](const QString &) {};
            QString error;
            std::unique_ptr<MeasurementSession> run = MeasurementSession::fromDescription(std::move(second), &error);
            QVERIFY2(run, qPrintable(error));
            Clock::setVirtual(Clock::now().addSecs(-100));
            run->cycle();
            Clock::advanceMs(10000);
            run->cycle();
        }
        timeOrder(7);

        // Without recording, the run's own readings.
        Rig run(false);
        const QJsonObject fromRun =
            get(run.port, "/api/history?channel=" + key + "&to=" + QByteArray::number(Clock::now().toMSecsSinceEpoch())).json();
        QCOMPARE(fromRun[QStringLiteral("source")].toString(), QStringLiteral("run"));
        QCOMPARE(fromRun[QStringLiteral("readings")].toArray().size(), 3);
    }

    // Limits change only with a user and password of the password file,
    // from this site's page; the change reaches the board, the alarm goes
    // off at the next cycle, and the page lists it with its transition.
    void limitsNeedThePassword()
    {
        QTemporaryDir dir;
        const QString passwords = dir.filePath(QStringLiteral("passwords"));
        QFile file(passwords);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("# who may change limits\noperator:" + cryptHash("s3cret") + "\n");
        file.close();
        Rig rig(true, {QStringLiteral("--web-passwords"), passwords});
        QVERIFY(rig.page);
        QString key;
        SimDs18x20 *chip = rig.thermometer(&key);
        const QByteArray body = "{\"channel\":\"" + key.toLatin1() + "\",\"limits\":\"-10:25 hysteresis=0.5\"}";
        const QByteArray json = "Content-Type: application/json\r\n";
        const QByteArray good = basic("operator", "s3cret");

        Reply refused = post(rig.port, body, json);
        QCOMPARE(refused.status, 401);
        QVERIFY(refused.head.contains("WWW-Authenticate: Basic"));
        QCOMPARE(post(rig.port, body, json + basic("operator", "guess")).status, 401);
        QCOMPARE(post(rig.port, body, json + basic("intruder", "s3cret")).status, 401);
        QCOMPARE(post(rig.port, body, "Content-Type: text/plain\r\n" + good).status, 415);
        QCOMPARE(post(rig.port, body, json + good + "Origin: http://elsewhere.example\r\n").status, 403);
        QCOMPARE(post(rig.port, QByteArray(5000, ' '), json + good).status, 413);
        QCOMPARE(post(rig.port, "{\"channel\":\"nonsense\",\"limits\":\"1:2\"}", json + good).status, 400);
        QCOMPARE(post(rig.port, "{\"channel\":\"" + key.toLatin1() + "\",\"limits\":\"high\"}", json + good).status, 400);
        QCOMPARE(post(rig.port, "{\"channel\":\"FFFFFFFFFFFFFFFF\",\"limits\":\"1:2\"}", json + good).status, 404);
        QCOMPARE(get(rig.port, "/api/limits").status, 405);
        QCoreApplication::processEvents();
        ChannelId id;
        QString error;
        QVERIFY(AlarmRules::parseChannel(key, &id, &error));
        QVERIFY(!rig.session->alarms().hasLimits(id));

        const Reply taken = post(rig.port, body, json + good + "Origin: http://127.0.0.1\r\n");
        QCOMPARE(taken.status, 202);
        QCOMPARE(taken.json()[QStringLiteral("limits")].toString(), QStringLiteral("-10:25 hysteresis=0.5"));
        QTRY_VERIFY(rig.session->alarms().hasLimits(id));
        QCOMPARE(rig.session->alarms().limits(id).high, 25.0);

        chip->setTemperature(SimTemperature(30.5));
        rig.cycle();
        const QJsonObject state = get(rig.port, "/api/channels").json();
        QCOMPARE(state[QStringLiteral("limitsEditable")].toBool(), true);
        const QJsonObject alarms = get(rig.port, "/api/alarms").json();
        QCOMPARE(alarms, state[QStringLiteral("alarms")].toObject());
        const QJsonObject active = alarms[QStringLiteral("active")].toArray().at(0).toObject();
        QCOMPARE(active[QStringLiteral("key")].toString(), key);
        QCOMPARE(active[QStringLiteral("state")].toString(), QStringLiteral("high"));
        const QJsonObject last = alarms[QStringLiteral("transitions")].toArray().last().toObject();
        QCOMPARE(last[QStringLiteral("state")].toString(), QStringLiteral("high"));
        QCOMPARE(last[QStringLiteral("value")].toString(), QStringLiteral("30,50"));

        // Read-only without a password file, whoever asks.
        Rig readOnly(false);
        QCOMPARE(post(readOnly.port, body, json + good).status, 403);
        QVERIFY(!readOnly.session->alarms().hasLimits(id));
    }

    // Malformed, oversized and slow requests, and more idle connections and
    // event streams than it takes: each answered or refused with its
    // status, and the page still serves another client the cycle after.
    void badAndManyClientsLeaveItServing()
    {
        Rig rig(false);
        WebConfig config;
        config.enabled = true;
        config.listen.port = freePort();
        config.maxConnections = 8;
        config.headerTimeoutMs = 400;
        WebPage page(config);
        OutputHost host;
        host.alarms = &rig.session->alarms();
        page.setHost(host);
        QString error;
        QVERIFY2(page.start(&error), qPrintable(error));
        rig.session->addSink(&page);
        rig.cycle();
        const quint16 port = page.port();

        QCOMPARE(exchange(port, "NONSENSE\r\n\r\n").status, 0); // no HTTP: closed, as no answer could be read
        QCOMPARE(exchange(port, "GET / HTTP/1.0\r\nno header line\r\n\r\n").status, 400);
        QCOMPARE(exchange(port, "GET / HTTP/9.9\r\n\r\n").status, 505);
        const int huge = exchange(port, "GET / HTTP/1.0\r\nX-Big: " + QByteArray(64 * 1024, 'a') + "\r\n\r\n").status;
        QVERIFY2(huge == 431 || huge == 413, QByteArray::number(huge));
        const int longUrl = exchange(port, "GET /" + QByteArray(64 * 1024, 'a') + " HTTP/1.0\r\n\r\n").status;
        QVERIFY2(longUrl == 414 || longUrl == 431, QByteArray::number(longUrl));
        const Reply wrongMethod = exchange(port, "DELETE / HTTP/1.0\r\n\r\n");
        QCOMPARE(wrongMethod.status, 405);
        QVERIFY(wrongMethod.head.contains("Allow: GET, HEAD"));
        QCOMPARE(get(port, "/nowhere").status, 404);
        QCOMPARE(get(port, "/api/../etc/passwd").status, 404);
        const Reply head = exchange(port, "HEAD / HTTP/1.0\r\n\r\n");
        QCOMPARE(head.status, 200);
        QVERIFY(head.body.isEmpty());
        QCOMPARE(post(port, QByteArray(100000, 'x'), "Content-Type: application/json\r\n").status, 413);
        // The next cycle's document replaces this one's: asked by its tag, nothing again.
        const QByteArray tag = "If-None-Match: \"c" + QByteArray::number(page.snapshot()->cycle) + "\"\r\n";
        QCOMPARE(get(port, "/api/channels", tag).status, 304);

        // Idle, half-sent and unread streaming connections, three times the limit.
        std::vector<std::unique_ptr<QTcpSocket>> held;
        auto connectOne = [&](const QByteArray &bytes) {
            held.push_back(std::make_unique<QTcpSocket>());
            held.back()->connectToHost(QHostAddress::LocalHost, port);
            QVERIFY(held.back()->waitForConnected(2000));
            held.back()->write(bytes);
            held.back()->waitForBytesWritten(1000);
        };
        for (int i = 0; i < 8; ++i)
            connectOne(QByteArray());
        for (int i = 0; i < 8; ++i)
            connectOne("GET / HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ");
        for (int i = 0; i < 8; ++i)
            connectOne("GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        QTRY_VERIFY(page.streamCount() > 0);
        rig.cycle(); // publishing never waits on a stream nobody reads
        Reply served = get(port, "/api/channels");
        QCOMPARE(served.status, 200);
        QCOMPARE(quint64(served.json()[QStringLiteral("cycle")].toInt()), page.snapshot()->cycle);
        QVERIFY(page.evictedConnections() >= 16);
        QVERIFY(page.streamCount() <= config.maxConnections);

        // A stream that is read gets the next cycle without asking again,
        // and keeps getting them when a newcomer finds every place holding
        // a request: the oldest stream gives way, not the newest.
        QTcpSocket stream;
        stream.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(stream.waitForConnected(2000));
        stream.write("GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
        QByteArray events;
        QTRY_VERIFY((events += stream.readAll()).contains("\n\n"));
        const quint64 before = page.snapshot()->cycle;
        rig.cycle();
        QTRY_VERIFY((events += stream.readAll()).contains("\"cycle\":" + QByteArray::number(before + 1) + ","));
        QVERIFY(events.contains("event: channels\ndata: {"));
        const int evicted = page.evictedConnections();
        const int streams = page.streamCount();
        QCOMPARE(get(port, "/api/channels").status, 200);
        QCOMPARE(page.evictedConnections(), evicted + 1);
        QTRY_COMPARE(page.streamCount(), streams - 1); // parked till the next cycle, it ends now
        rig.cycle();
        QTRY_VERIFY((events += stream.readAll()).contains("\"cycle\":" + QByteArray::number(before + 2) + ","));

        // With room again, a header still not whole after its deadline is
        // cut off when someone else connects.
        held.clear();
        // A stream parked until the next cycle finds its client gone when it
        // writes: the first write after the client's end draws its reset.
        QTRY_VERIFY((rig.cycle(), page.streamCount() == 1));
        QTcpSocket slow;
        slow.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(slow.waitForConnected(2000));
        slow.write("GET / HTTP/1.1\r\n");
        slow.waitForBytesWritten(1000);
        QThread::msleep(600); // past the 400 ms deadline of real (network) time
        QCOMPARE(get(port, "/").status, 200);
        QVERIFY(slow.state() == QAbstractSocket::UnconnectedState || slow.waitForDisconnected(3000));
        QCOMPARE(stream.state(), QAbstractSocket::ConnectedState);
        rig.session->removeSink(&page);
    }

    // Texts from devices and settings cannot end their string or element,
    // and a page language follows the browser's.
    void escapingAndLanguages()
    {
        WebSnapshot snapshot;
        const QString hostile = QStringLiteral("</script><img src=x onerror=alert(1)>\"'\\\n\x01 °C");
        WebChannel channel;
        channel.key = channel.type = channel.unitShown = hostile;
        snapshot.channels.append(channel);
        snapshot.buses.append({QStringLiteral("simulated"), hostile, true});
        const QByteArray json = snapshot.json();
        QVERIFY(!json.contains('<') && !json.contains('>') && !json.contains('\n') && !json.contains('\''));
        const QJsonObject parsed = QJsonDocument::fromJson(json).object();
        QCOMPARE(parsed[QStringLiteral("channels")].toArray().at(0).toObject()[QStringLiteral("type")].toString(), hostile);
        QCOMPARE(parsed[QStringLiteral("buses")].toArray().at(0).toObject()[QStringLiteral("description")].toString(), hostile);
        QVERIFY(parsed[QStringLiteral("channels")].toArray().at(0).toObject()[QStringLiteral("value")].isNull());

        const struct
        {
            const char *lang;
            const char *accept;
            const char *chosen;
        } cases[] = {
            {"", "ru-RU,ru;q=0.9,en-US;q=0.8", "ru"}, {"", "en-US,en;q=0.9,ru;q=0.8", "en"},
            {"", "de-DE,ru;q=0.9", "en"},             {"", "en;q=0.5,ru;q=0.8", "ru"},
            {"", "", "en"},                           {"ru", "en", "ru"},
            {"xx", "ru", "ru"},                       {"", "ru;q=garbage,en;q=0.1", "en"},
        };
        for (const auto &c : cases)
            QCOMPARE(webLanguage(QLatin1String(c.lang), QLatin1String(c.accept)), QLatin1String(c.chosen));

        WebConfig config;
        QStringList args{QStringLiteral("read"), QStringLiteral("--web=0.0.0.0:8080"), QStringLiteral("--web-passwords"),
                         QStringLiteral("/etc/orvex/web")};
        QVERIFY(WebConfig::takeOptions(args, &config, &error()));
        QCOMPARE(args, QStringList{QStringLiteral("read")});
        QCOMPARE(config.listen.text(), QStringLiteral("0.0.0.0:8080"));
        QCOMPARE(config.passwordFile, QStringLiteral("/etc/orvex/web"));
        args = QStringList{QStringLiteral("--web-passwords")};
        QVERIFY(!WebConfig::takeOptions(args, &config, &error()));
        // The window's settings, as the faces' are read.
        QTemporaryDir dir;
        QSettings settings(dir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
        settings.setValue(QStringLiteral("Web/Listen"), QStringLiteral("[::1]:8081"));
        settings.setValue(QStringLiteral("Web/PasswordFile"), QStringLiteral("/etc/orvex/web"));
        const WebConfig stored = WebConfig::fromSettings(settings, &error());
        QVERIFY(stored.enabled);
        QCOMPARE(stored.listen.text(), QStringLiteral("[::1]:8081"));
        QCOMPARE(stored.passwordFile, QStringLiteral("/etc/orvex/web"));
        settings.setValue(QStringLiteral("Web/Listen"), QString());
        QVERIFY(!WebConfig::fromSettings(settings, &error()).enabled);
    }

    // orvexctl serves the page while it records; a password file that holds
    // a password instead of a hash stops it with the exit code of a bad option.
    void orvexctlServesThePage()
    {
        QTemporaryDir home, record;
        const quint16 port = freePort();
        const QStringList env{"XDG_CONFIG_HOME=" + home.path() + "/config", "XDG_DATA_HOME=" + home.path() + "/data"};
        QFile plain(home.filePath(QStringLiteral("plain")));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.write("operator:secret\n");
        plain.close();
        TestProcess refused(QStringLiteral(ORVEXCTL_BIN), env);
        QVERIFY(refused.run({QStringLiteral("read"), QStringLiteral("--bus=sim"), QStringLiteral("--web"),
                             QString::number(port), QStringLiteral("--web-passwords"), plain.fileName()}));
        QCOMPARE(refused.exitCode(), 2);

        TestProcess ctl(QStringLiteral(ORVEXCTL_BIN), env);
        ctl.start({QStringLiteral("read"), QStringLiteral("--bus=sim"), QStringLiteral("--fast"), QStringLiteral("--cycles"),
                   QStringLiteral("1000000"), QStringLiteral("--interval"), QStringLiteral("10"), QStringLiteral("--record"),
                   record.path(), QStringLiteral("--web"), QString::number(port)});
        QVERIFY(ctl.waitForLines(40));
        const Reply page = get(port, "/", "Accept-Language: ru\r\n");
        QCOMPARE(page.status, 200);
        QVERIFY(page.head.contains("Content-Security-Policy: default-src 'none'"));
        QVERIFY(page.body.contains("<html lang=\"ru\">"));
        const QJsonObject state = get(port, "/api/channels").json();
        QVERIFY(state[QStringLiteral("channels")].toArray().size() >= 20);
        // The smallest station serves the page and everything it loads in under 300 KiB.
        qint64 bytes = page.body.size();
        for (const QByteArray &asset : {QByteArray("/app.js"), QByteArray("/style.css"), QByteArray("/chart.js")}) {
            const Reply loaded = get(port, asset);
            QVERIFY2(loaded.status == 200, asset.constData()); // chart.js: libjs-chart.js, which install-deps installs
            bytes += loaded.body.size();
        }
        QVERIFY2(bytes < 300 * 1024, QByteArray::number(bytes).constData());
        ctl.kill();
    }

    // The page in a real browser: every row with the table's value, a new
    // value without a reload, a chart with points from the recorded file,
    // an alarm that goes off; its texts in the browser's language.
    void browserShowsTheStation_data()
    {
        QTest::addColumn<QString>("language");
        QTest::addColumn<QString>("valueHeader");
        QTest::addColumn<QString>("highText");
        QTest::newRow("ru") << "ru" << "Значение" << "выше верхнего порога";
        QTest::newRow("en") << "en" << "Value" << "above the high limit";
    }
    void browserShowsTheStation()
    {
        QFETCH(QString, language);
        QFETCH(QString, valueHeader);
        QFETCH(QString, highText);
        for (const char *needed : {"/usr/bin/chromium", "/usr/bin/chromedriver", "/usr/lib/python3/dist-packages/selenium"}) {
            if (!QFileInfo::exists(QLatin1String(needed)))
                QSKIP("chromium, chromium-driver or python3-selenium is not installed (tools/install-deps --test installs them)");
        }
        QString key;
        // Opened before the first cycle ends, as a browser left open while
        // the service starts: the charts start with the first cycle's state.
        Rig rig(true, {QStringLiteral("--alarm"), QStringLiteral("FFFFFFFFFFFFFFFF=:100")}, 0);
        SimDs18x20 *chip = rig.thermometer(&key);
        Browser browser;
        QVERIFY(browser.open(QStringLiteral("http://127.0.0.1:%1/").arg(rig.port), language));
        // The empty state shown (its alarm list says there are none), the stream waiting.
        QVERIFY(browser.until(QStringLiteral("document.getElementById('activeAlarms').textContent.length > 0")).toBool());
        QTRY_VERIFY(rig.page->streamCount() > 0);
        rig.cycle();
        QVERIFY2(browser.until(QStringLiteral("document.querySelectorAll('#charts canvas').length == 1")).toBool(),
                 browser.last().constData());
        rig.cycle();
        rig.cycle();

        TableMan &table = rig.session->table();
        const QString rows = QStringLiteral("Array.from(document.querySelectorAll('#channels tbody tr'))"
                                            ".map(r => [r.dataset.key, r.cells[5].textContent])");
        const QJsonArray shown = browser.until(QStringLiteral("(%1).length == %2 && %1").arg(rows).arg(table.rowTotal())).toArray();
        QVERIFY2(shown.size() == table.rowTotal(), browser.last().constData());
        for (int row = 0; row < table.rowTotal(); ++row) {
            const ChannelTraits *traits = Sensor::unitTraits(table.cellText(row, TableMan::ColUnit));
            // A state has no unit: its value alone.
            const QString shownUnit = QString::fromUtf8(traits->shown);
            const QString expected = table.cellText(row, TableMan::ColValue)
                                     + (shownUnit.isEmpty() ? QString() : QChar(0xA0) + shownUnit);
            const QJsonArray cells = shown.at(row).toArray();
            QCOMPARE(cells.at(0).toString(), table.channelAt(row).text());
            QCOMPARE(cells.at(1).toString(), expected);
        }
        QCOMPARE(browser.until(QStringLiteral("document.querySelectorAll('#channels th')[5].textContent")).toString(), valueHeader);

        chip->setTemperature(SimTemperature(30.5));
        rig.cycle();
        const QString cell = QStringLiteral("document.querySelector('#channels tr[data-key=\"%1\"]').cells[5].textContent").arg(key);
        QVERIFY2(browser.until(cell + QStringLiteral(".startsWith('30.50')")).toBool(), browser.last().constData());

        const QString points = QStringLiteral("Number(document.querySelector('#charts canvas').dataset.points)");
        QVERIFY2(browser.until(points + QStringLiteral(" >= 3")).toBool(), browser.last().constData());
        QVERIFY(browser.until(QStringLiteral("document.querySelector('#charts .caption').textContent.includes('.csv')")).toBool());

        ChannelId id;
        QString error;
        QVERIFY(AlarmRules::parseChannel(key, &id, &error));
        AlarmLimits limits;
        limits.high = 25;
        rig.session->alarms().setLimits(id, limits);
        rig.cycle();
        QVERIFY2(browser.until(QStringLiteral("document.getElementById('activeAlarms').textContent.includes('%1')").arg(highText)).toBool(),
                 browser.last().constData());
        QVERIFY(browser.until(QStringLiteral("document.querySelector('#transitions tbody').textContent.includes('30,50')")).toBool());
        // Nothing the page asked for was refused, nothing it ran was blocked.
        const QByteArray log = browser.command("log");
        QVERIFY2(log == "OK []", log.constData());
        if (qEnvironmentVariableIsSet("ORVEX_WEB_SCREENSHOT"))
            browser.command("shot " + qgetenv("ORVEX_WEB_SCREENSHOT") + '-' + language.toLatin1() + ".png");
    }

private:
    QString &error()
    {
        static QString text;
        return text;
    }
};

QTEST_MAIN(TestWeb)
#include "tst_web.moc"
