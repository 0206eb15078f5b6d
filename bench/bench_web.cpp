// The web page under load. The 2,064-channel bus (bench/buses/wide.json):
// the snapshot the cycle's end makes, the page's JSON made from it (server
// time) and a whole GET /api/channels over loopback. A week of one channel
// at one reading a second in a recorded file: /api/history over it, every
// reading and reduced for a chart. The demo bus and the wide bus measured
// back to back in virtual time with 0 and 20 event streams read by clients:
// the measuring thread's CPU per cycle, the server's, and what 20 browsers
// cost a cycle every 10 s.
//
// usage: bench_web [cycles per phase]   (default 40)

#include "base/clock.h"
#include "chart/measurementfilereader.h"
#include "session/measurementsession.h"
#include "sim/simbackend.h"
#include "sim/simbusloader.h"
#include "table/recorder.h"
#include "web/webhistory.h"
#include "web/webpage.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <ctime>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

int connectTo(quint16 port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// A whole request over loopback: the bytes of the answer.
qint64 fetch(quint16 port, const QByteArray &path)
{
    const int fd = connectTo(port);
    const QByteArray get = "GET " + path + " HTTP/1.0\r\n\r\n";
    ::send(fd, get.constData(), size_t(get.size()), MSG_NOSIGNAL);
    char buffer[65536];
    qint64 total = 0;
    ssize_t got;
    while ((got = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
        total += got;
    ::close(fd);
    return total;
}

double threadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double processCpuMs()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

QString ms(double value)
{
    return QString::number(value, 'f', 2);
}

// A copy of the snapshot's data without its JSON, so each run makes it anew.
std::shared_ptr<WebSnapshot> fresh(const WebSnapshot &from)
{
    auto made = std::make_shared<WebSnapshot>();
    made->cycle = from.cycle;
    made->time = from.time;
    made->cycleMs = from.cycleMs;
    made->buses = from.buses;
    made->channels = from.channels;
    made->active = from.active;
    made->transitions = from.transitions;
    return made;
}

struct Streams
{
    // `count` clients each reading an event stream on a thread of its own.
    Streams(quint16 port, int count)
    {
        for (int i = 0; i < count; ++i) {
            threads.emplace_back([this, port] {
                const int fd = connectTo(port);
                const QByteArray get("GET /api/events HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
                ::send(fd, get.constData(), size_t(get.size()), MSG_NOSIGNAL);
                timeval wait{0, 200000};
                ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
                std::vector<char> buffer(1 << 16);
                while (!stop) {
                    const ssize_t got = ::recv(fd, buffer.data(), buffer.size(), 0);
                    if (got == 0)
                        break;
                    if (got > 0)
                        bytes += got;
                }
                clientUs += qint64(threadCpuMs() * 1000);
                ::close(fd);
            });
        }
    }
    ~Streams()
    {
        stop = true;
        for (std::thread &thread : threads)
            thread.join();
    }
    std::vector<std::thread> threads;
    std::atomic<bool> stop{false};
    std::atomic<qint64> bytes{0};
    std::atomic<qint64> clientUs{0};
};

struct CycleCost
{
    double cycleCpuMs = 0;  // the measuring thread, per cycle
    double serverCpuMs = 0; // the server's thread, per cycle
    double eventKiB = 0;    // sent to each stream per cycle
};

CycleCost measureCycles(MeasurementSession &session, WebPage &page, int streams, int cycles)
{
    CycleCost cost;
    auto clients = std::make_unique<Streams>(page.port(), streams);
    QElapsedTimer wait;
    wait.start();
    while (page.streamCount() < streams && wait.elapsed() < 5000)
        QThread::msleep(10);
    session.cycle();
    QThread::msleep(300);
    const double process0 = processCpuMs();
    const double thread0 = threadCpuMs();
    const qint64 bytes0 = clients->bytes;
    for (int i = 0; i < cycles; ++i) {
        Clock::advanceMs(10000);
        session.cycle();
        QThread::msleep(20); // real time for the streams to go out, as between cycles
    }
    QThread::msleep(300);
    const double thread1 = threadCpuMs();
    const qint64 bytes1 = clients->bytes;
    clients->stop = true;
    for (std::thread &thread : clients->threads)
        thread.join();
    const double process1 = processCpuMs();
    cost.cycleCpuMs = (thread1 - thread0) / cycles;
    // The clients' own reading is theirs, not the server's; they start before the count.
    cost.serverCpuMs = qMax(0.0, (process1 - process0) - (thread1 - thread0) - clients->clientUs / 1000.0) / cycles;
    cost.eventKiB = streams ? double(bytes1 - bytes0) / streams / cycles / 1024 : 0;
    clients->threads.clear();
    return cost;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    const int cycles = argc > 1 ? qMax(5, QString::fromLocal8Bit(argv[1]).toInt()) : 40;
    Clock::setVirtual();
    QString error;

    // The wide bus: the snapshot, its JSON, a whole request.
    std::unique_ptr<SimBackend> wide = SimBusLoader::loadFile(QStringLiteral(ORVEX_BENCH_DIR "/buses/wide.json"), &error);
    if (!wide) {
        out() << "bench_web: " << error << "\n";
        return 1;
    }
    wide->setTrafficLogging(false);
    MeasurementSession wideSession(wide.get());
    WebConfig config;
    config.enabled = true;
    WebPage widePage(config);
    widePage.setHost(OutputHost());
    if (!widePage.start(&error)) {
        out() << "bench_web: " << error << "\n";
        return 1;
    }
    wideSession.addSink(&widePage);
    wideSession.cycle();
    std::vector<double> takeMs, snapshotMs, jsonMs, requestMs;
    CycleSummary summary;
    summary.busUp = {true};
    summary.busKinds = QStringList{QStringLiteral("simulated")};
    summary.busDescriptions = QStringList{wide->description()};
    summary.devices = {{}};
    for (SensorDevice *device : wideSession.allDevices())
        summary.devices[0].append(device);
    qint64 jsonBytes = 0;
    for (int i = 0; i < 30; ++i) {
        // In-process steps in the thread's CPU time: the machine may be shared.
        double cpu = threadCpuMs();
        for (SensorDevice *device : wideSession.allDevices()) {
            for (int c = 0; c < device->channels.size(); ++c)
                widePage.takeReading(*device, c);
        }
        takeMs.push_back(threadCpuMs() - cpu);
        cpu = threadCpuMs();
        widePage.cycleEnded(summary);
        snapshotMs.push_back(threadCpuMs() - cpu);
        const std::shared_ptr<WebSnapshot> copy = fresh(*widePage.snapshot());
        cpu = threadCpuMs();
        jsonBytes = copy->json().size();
        jsonMs.push_back(threadCpuMs() - cpu);
        QElapsedTimer timer;
        timer.start();
        fetch(widePage.port(), "/api/channels");
        requestMs.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    out() << "web page, bench/buses/wide.json: " << widePage.snapshot()->channels.size() << " channels, /api/channels "
          << jsonBytes / 1024 << " KiB\n\n"
          << "| | median ms | max ms |\n|---|--:|--:|\n"
          << "| (CPU time of the thread for the first three) | | |\n"
          << "| every reading taken (the cycle's share) | " << ms(median(takeMs)) << " | "
          << ms(*std::max_element(takeMs.begin(), takeMs.end())) << " |\n"
          << "| snapshot made at the cycle's end (the cycle's share) | " << ms(median(snapshotMs)) << " | "
          << ms(*std::max_element(snapshotMs.begin(), snapshotMs.end())) << " |\n"
          << "| /api/channels made (server time) | " << ms(median(jsonMs)) << " | "
          << ms(*std::max_element(jsonMs.begin(), jsonMs.end())) << " |\n"
          << "| whole GET /api/channels over loopback | " << ms(median(requestMs)) << " | "
          << ms(*std::max_element(requestMs.begin(), requestMs.end())) << " |\n";

    // A week of one channel, one reading a second.
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("week.csv"));
    {
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        file.write("\"Sensor 1WireAddr\";'0B01145C0731AA28\r\n\"I2C address\";'0\r\nI2C Serial;'\r\n"
                   "MultiHub Channel;'-1\r\nSubchannel sensor;'0\r\nSensor type;DS18B20\r\nSensor mark;\r\n"
                   "Sensor Unit;C\r\n ; ;\r\nDATA;TIME;Value;Sample;Deviation\r\n");
        QByteArray lines;
        const QDateTime start = Clock::now().addDays(-7);
        for (int s = 0; s < 7 * 86400; ++s) {
            const QDateTime at = start.addSecs(s);
            lines += at.toString(QStringLiteral("yyyy.MM.dd;hh:mm:ss;")).toLatin1()
                + Recorder::formatNumber(20 + (s % 600) / 100.0).toLatin1() + "\r\n";
            if (lines.size() > (1 << 20)) {
                file.write(lines);
                lines.clear();
            }
        }
        file.write(lines);
    }
    OutputHost recording;
    recording.recordingFolder = folder.path();
    recording.firstSplit = QStringLiteral("'");
    WebPage weekPage(config);
    weekPage.setHost(recording);
    weekPage.start(&error);
    const QByteArray week = "/api/history?channel=0B01145C0731AA28/0/-1/0&from="
        + QByteArray::number(Clock::now().addDays(-7).toMSecsSinceEpoch() - 1000) + "&to="
        + QByteArray::number(Clock::now().toMSecsSinceEpoch());
    std::vector<double> allMs, drawnMs, hourMs, readMs, firstMs;
    qint64 allBytes = 0, drawnBytes = 0;
    {
        // The first request reads the whole file; the later ones only what it gained.
        QElapsedTimer timer;
        timer.start();
        fetch(weekPage.port(), week + "&points=800");
        firstMs.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    for (int i = 0; i < 7; ++i) {
        QElapsedTimer timer;
        timer.start();
        allBytes = fetch(weekPage.port(), week);
        allMs.push_back(double(timer.nsecsElapsed()) / 1e6);
        timer.restart();
        drawnBytes = fetch(weekPage.port(), week + "&points=800");
        drawnMs.push_back(double(timer.nsecsElapsed()) / 1e6);
        timer.restart();
        fetch(weekPage.port(), "/api/history?channel=0B01145C0731AA28/0/-1/0&points=800");
        hourMs.push_back(double(timer.nsecsElapsed()) / 1e6);
        const double cpu = threadCpuMs();
        qint64 count = 0;
        MeasurementFileReader::readEach(path, QStringLiteral("'"), QString(), [&](qint64, double) { ++count; });
        readMs.push_back(threadCpuMs() - cpu);
    }
    out() << "\na week of one channel at 1 s (" << 7 * 86400 << " readings, "
          << QFileInfo(path).size() / (1024 * 1024) << " MiB file), whole requests over loopback\n\n"
          << "| /api/history | answer KiB | median ms | max ms |\n|---|--:|--:|--:|\n"
          << "| the week, points=800, the file's first reading | 16 | " << ms(firstMs.front()) << " | |\n"
          << "| the week, every reading | " << allBytes / 1024 << " | " << ms(median(allMs)) << " | "
          << ms(*std::max_element(allMs.begin(), allMs.end())) << " |\n"
          << "| the week, points=800 (a chart) | " << drawnBytes / 1024 << " | " << ms(median(drawnMs)) << " | "
          << ms(*std::max_element(drawnMs.begin(), drawnMs.end())) << " |\n"
          << "| the last hour, points=800 | | " << ms(median(hourMs)) << " | "
          << ms(*std::max_element(hourMs.begin(), hourMs.end())) << " |\n"
          << "| (the whole file read, in the process: CPU ms) | | " << ms(median(readMs)) << " | "
          << ms(*std::max_element(readMs.begin(), readMs.end())) << " |\n";

    // Event streams while measuring.
    std::unique_ptr<SimBackend> demo = SimBusLoader::loadDemo(&error);
    demo->setTrafficLogging(false);
    MeasurementSession demoSession(demo.get());
    WebPage demoPage(config);
    demoPage.setHost(OutputHost());
    demoPage.start(&error);
    demoSession.addSink(&demoPage);
    out() << "\nevent streams, " << cycles << " cycles back to back in virtual time; CPU per cycle\n\n"
          << "| bus | streams | measuring thread ms | server ms | KiB per stream | cost at a 10 s interval |\n"
          << "|---|--:|--:|--:|--:|--:|\n";
    for (auto bus : {std::make_pair(QStringLiteral("demo"), &demoSession), std::make_pair(QStringLiteral("wide"), &wideSession)}) {
        WebPage &page = bus.second == &demoSession ? demoPage : widePage;
        const CycleCost quiet = measureCycles(*bus.second, page, 0, cycles);
        const CycleCost busy = measureCycles(*bus.second, page, 20, cycles);
        const double extra = qMax(0.0, busy.cycleCpuMs - quiet.cycleCpuMs) + busy.serverCpuMs;
        for (const auto &row : {std::make_pair(0, quiet), std::make_pair(20, busy)})
            out() << "| " << bus.first << " | " << row.first << " | " << ms(row.second.cycleCpuMs) << " | "
                  << ms(row.second.serverCpuMs) << " | " << QString::number(row.second.eventKiB, 'f', 0) << " | "
                  << (row.first ? QString::number(extra / 10000 * 100, 'f', 3) + QStringLiteral(" %") : QString()) << " |\n";
    }
    out().flush();
    return 0;
}
