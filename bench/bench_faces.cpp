// The outside faces under load. The owserver face: a client on its own
// thread reads one cached value after another over loopback — on one kept
// connection, then with a new connection per read as owread does — while
// the main thread measures the demo bus back to back in virtual time;
// reports reads per second, the latency percentiles, and the cycles' CPU
// time with and without the client (measuring never waits on a client).
// The metrics face: one cycle of the 2,064-channel bus (bench/buses/wide.json),
// then the time to build the /metrics page (server time) and a whole scrape
// over loopback (the face builds the page once per cycle: a scrape after the
// first copies it).
//
// usage: bench_faces [seconds per phase]   (default 2)

#include "base/clock.h"
#include "faces/metricsface.h"
#include "faces/owserverface.h"
#include "faces/owserverprotocol.h"
#include "session/measurementsession.h"
#include "sim/simbackend.h"
#include "sim/simbusloader.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <netinet/tcp.h>
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
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    return fd;
}

bool readAll(int fd, char *buffer, int count)
{
    while (count > 0) {
        const ssize_t got = ::recv(fd, buffer, size_t(count), 0);
        if (got <= 0)
            return false;
        buffer += got;
        count -= int(got);
    }
    return true;
}

// One READ on `fd`; false when the reply did not come whole.
bool readOnce(int fd, const QByteArray &request)
{
    if (::send(fd, request.constData(), size_t(request.size()), MSG_NOSIGNAL) != request.size())
        return false;
    char header[OwProtocol::kHeaderBytes];
    if (!readAll(fd, header, sizeof header))
        return false;
    const OwProtocol::Header h = OwProtocol::decodeHeader(header);
    if (h.payload < 0 || h.payload > 65536)
        return false;
    std::vector<char> payload(size_t(h.payload) + 1);
    return readAll(fd, payload.data(), h.payload) && h.type > 0;
}

struct Load
{
    int reads = 0;
    int failures = 0;
    double seconds = 0;
    std::vector<double> latencyMs;
};

Load clientLoad(quint16 port, bool kept, double seconds)
{
    OwProtocol::Header h;
    const QByteArray path("/28.AA31075C1401/temperature");
    h.payload = path.size() + 1;
    h.type = OwProtocol::Read;
    h.flags = 0x100 | (kept ? OwProtocol::kPersistent : 0);
    h.size = 65536;
    const QByteArray request = OwProtocol::encodeHeader(h) + path + QByteArray(1, '\0');
    Load load;
    QElapsedTimer total;
    total.start();
    int fd = -1;
    while (total.nsecsElapsed() < qint64(seconds * 1e9)) {
        QElapsedTimer one;
        one.start();
        if (fd < 0)
            fd = connectTo(port);
        const bool ok = fd >= 0 && readOnce(fd, request);
        if (!ok || !kept) {
            if (fd >= 0)
                ::close(fd);
            fd = -1;
        }
        load.latencyMs.push_back(double(one.nsecsElapsed()) / 1e6);
        ++load.reads;
        load.failures += ok ? 0 : 1;
    }
    if (fd >= 0)
        ::close(fd);
    load.seconds = double(total.nsecsElapsed()) / 1e9;
    std::sort(load.latencyMs.begin(), load.latencyMs.end());
    return load;
}

double percentile(const std::vector<double> &sorted, double p)
{
    if (sorted.empty())
        return 0;
    return sorted[std::min(sorted.size() - 1, size_t(p * double(sorted.size())))];
}

// Cycles back to back for `seconds` of real time: their count and mean CPU-side duration.
double measureFor(MeasurementSession &session, double seconds, int *cycles)
{
    QElapsedTimer timer;
    timer.start();
    *cycles = 0;
    while (timer.nsecsElapsed() < qint64(seconds * 1e9)) {
        session.cycle();
        ++*cycles;
    }
    return double(timer.nsecsElapsed()) / 1e6 / qMax(1, *cycles);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    // The drivers' log lines would drown the tables.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {});
    const double seconds = argc > 1 ? qMax(0.5, QString::fromLocal8Bit(argv[1]).toDouble()) : 2.0;
    Clock::setVirtual();

    QString error;
    std::unique_ptr<SimBackend> demo = SimBusLoader::loadDemo(&error);
    if (!demo) {
        out() << "bench_faces: " << error << "\n";
        return 1;
    }
    demo->setTrafficLogging(false);
    MeasurementSession session(demo.get());
    OwserverConfig owConfig;
    owConfig.enabled = true;
    OwserverFace owserver(owConfig);
    if (!owserver.start(&error)) {
        out() << "bench_faces: " << error << "\n";
        return 1;
    }
    session.addSink(&owserver);
    session.cycle();

    int cycles = 0;
    const double quietMs = measureFor(session, seconds, &cycles);
    out() << "owserver face, demo bus measured back to back in virtual time\n\n";
    out() << "| client | reads/s | p50 ms | p99 ms | max ms | failed | cycle ms (no client " << QString::number(quietMs, 'f', 2)
          << ") |\n|---|--:|--:|--:|--:|--:|--:|\n";
    for (const bool kept : {true, false}) {
        Load load;
        std::thread client([&] { load = clientLoad(owserver.port(), kept, seconds); });
        const double busyMs = measureFor(session, seconds, &cycles);
        client.join();
        out() << "| " << (kept ? "kept connection" : "connection per read") << " | "
              << QString::number(load.reads / load.seconds, 'f', 0) << " | "
              << QString::number(percentile(load.latencyMs, 0.5), 'f', 3) << " | "
              << QString::number(percentile(load.latencyMs, 0.99), 'f', 3) << " | "
              << QString::number(load.latencyMs.empty() ? 0 : load.latencyMs.back(), 'f', 3) << " | " << load.failures
              << " | " << QString::number(busyMs, 'f', 2) << " |\n";
    }

    std::unique_ptr<SimBackend> wide = SimBusLoader::loadFile(QStringLiteral(ORVEX_BENCH_DIR "/buses/wide.json"), &error);
    if (!wide) {
        out() << "bench_faces: " << error << "\n";
        return 1;
    }
    wide->setTrafficLogging(false);
    MeasurementSession wideSession(wide.get());
    MetricsConfig metricsConfig;
    metricsConfig.enabled = true;
    MetricsFace metrics(metricsConfig);
    if (!metrics.start(&error)) {
        out() << "bench_faces: " << error << "\n";
        return 1;
    }
    wideSession.addSink(&metrics);
    wideSession.cycle();
    // The page a scrape gets, built from the published snapshot as the server thread does.
    FaceSnapshotBuilder builder;
    QElapsedTimer build;
    build.start();
    int channels = 0;
    for (SensorDevice *device : wideSession.allDevices()) {
        for (int i = 0; i < device->channels.size(); ++i, ++channels)
            builder.takeReading(*device, i);
    }
    CycleSummary summary;
    summary.busUp = {true};
    summary.devices = {{}};
    for (SensorDevice *device : wideSession.allDevices())
        summary.devices[0].append(device);
    const std::shared_ptr<const FaceSnapshot> snapshot = builder.endCycle(summary);
    const double snapshotMs = double(build.nsecsElapsed()) / 1e6;
    std::vector<double> pageMs, scrapeMs;
    QByteArray page;
    for (int i = 0; i < 50; ++i) {
        QElapsedTimer timer;
        timer.start();
        page = metricsText(*snapshot);
        pageMs.push_back(double(timer.nsecsElapsed()) / 1e6);
        timer.restart();
        const int fd = connectTo(metrics.port());
        const QByteArray get("GET /metrics HTTP/1.0\r\n\r\n");
        ::send(fd, get.constData(), size_t(get.size()), MSG_NOSIGNAL);
        char buffer[65536];
        while (::recv(fd, buffer, sizeof buffer, 0) > 0) {
        }
        ::close(fd);
        scrapeMs.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(pageMs.begin(), pageMs.end());
    std::sort(scrapeMs.begin(), scrapeMs.end());
    out() << "\nmetrics face, bench/buses/wide.json: " << channels << " channels, page " << page.size() / 1024
          << " KiB; the snapshot at the cycle's end " << QString::number(snapshotMs, 'f', 2) << " ms\n\n"
          << "| | median ms | max ms |\n|---|--:|--:|\n"
          << "| page built (server time) | " << QString::number(percentile(pageMs, 0.5), 'f', 2) << " | "
          << QString::number(pageMs.back(), 'f', 2) << " |\n"
          << "| whole scrape over loopback | " << QString::number(percentile(scrapeMs, 0.5), 'f', 2) << " | "
          << QString::number(scrapeMs.back(), 'f', 2) << " |\n";
    out().flush();
    return 0;
}
