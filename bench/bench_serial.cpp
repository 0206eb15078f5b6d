// What a cycle costs over a DS2480B serial adapter. The emulated adapter sits
// on a real pseudo-terminal in this process and charges the serial line's
// time to the virtual clock: every byte the host sends at 9600 baud (the chip
// acts on each as it arrives, while the next one comes), and per turnaround (a write the chip answers,
// after which the host waits) the last answer byte and the USB-serial
// converter's latency (16 ms, an FTDI chip's default; 1 ms, tuned). For the demo bus and for 20 DS18B20s the table gives
// the cycle (adapter check, search, device-list upkeep, measurements), its
// turnarounds and bytes both ways, and the floor: the longer of the same
// cycle on the simulated bus (its 1-Wire time and waits) and every byte at
// the line rate (the two overlap), plus one latency and one answer byte per
// 1-Wire transaction (a reset, a selection, a search pass). The line is
// silent under a strong pull-up (the chip buffers one byte and carries each
// out on the bus, which the pull-up holds), so
// the pull-up's time overlaps no bytes: the floor is the longer of the bus's
// time outside the pull-ups and the line's, plus the pull-ups, plus the
// transactions. The earlier floor, which let the line run on under the
// pull-up, is printed beside it for comparison. Below: the floor's transaction counts, a digest
// of the host's bytes per row (the bytes the 1-Wire bus sees, whichever way
// they are grouped into writes), where the demo bus's turnarounds go, the
// turnarounds of one DS18B20 read, and what 115,200 baud would give by the
// datasheet's cost model.
// Figures are printed, never asserted.
//
// usage: bench_serial [thermometers]   (the argument: the 20 DS18B20 alone)

#include "base/clock.h"
#include "bus/serialbackend.h"
#include "onewire/adapter.h"
#include "onewire/romid.h"
#include "onewire/tmex.h"
#include "sensors/ds18b20.h"
#include "sensors/sensor.h"
#include "session/measurementsession.h"
#include "sim/simbackend.h"
#include "sim/simbusloader.h"
#include "sim/simds18b20.h"
#include "sim/simds2480b.h"
#include "sim/simpty.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QStringList>
#include <QVector>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>

namespace {

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

std::unique_ptr<SimBackend> thermometers()
{
    auto backend = std::make_unique<SimBackend>();
    for (int i = 0; i < 20; ++i) {
        const QByteArray rom = SimBusLoader::defaultRom(0x28, i + 1);
        backend->bus().addDevice(std::make_unique<SimDs18b20>(rom, 20.0 + i / 4.0));
    }
    return backend;
}

std::unique_ptr<SimBackend> load(const QString &bus)
{
    QString error;
    if (bus == QLatin1String("demo"))
        return SimBusLoader::loadDemo(&error);
    return thermometers();
}

// Opens the emulated adapter's pseudo-terminal as a link in `dir`: its path.
QString openPort(SimPty &port, const QTemporaryDir &dir)
{
    QString error;
    const QString link = dir.filePath(QStringLiteral("ttyDS2480"));
    if (!port.open(link, &error))
        qFatal("pseudo-terminal: %s", qPrintable(error));
    return link;
}

// The serial backend, counting what each TMEX call costs in turnarounds, by
// the device last selected (its family code) and the kind of exchange: where
// a transaction takes more than one.
class CountingBackend : public SerialBackend
{
public:
    CountingBackend(const QString &path, const SimPty *port)
        : SerialBackend(path)
        , m_port(port)
    {
    }

    struct Count
    {
        qint64 calls = 0;
        qint64 turnarounds = 0;
    };
    // "device\texchange" to its count, from startCounting() on.
    QMap<QString, Count> counts;
    void startCounting()
    {
        m_counting = true;
        m_seen = m_port->turnarounds();
    }

    short setup(int32_t s) override { return count(QStringLiteral("adapter check"), false, SerialBackend::setup(s)); }
    short touchReset(int32_t s) override
    {
        m_device = QStringLiteral("all");
        return count(QStringLiteral("reset"), false, SerialBackend::touchReset(s));
    }
    short touchByte(int32_t s, short b) override
    {
        const QString what = (b & 0xFF) != 0xFF ? QStringLiteral("command ") + hex(b)
                             : m_afterPoll      ? QStringLiteral("status byte")
                                                : QStringLiteral("read byte");
        return count(what, false, SerialBackend::touchByte(s, b));
    }
    short touchBit(int32_t s, short b) override { return count(QStringLiteral("busy poll"), true, SerialBackend::touchBit(s, b)); }
    short blockIO(int32_t s, unsigned char *buffer, short length) override
    {
        const QString what = run(buffer, length);
        return count(what, false, SerialBackend::blockIO(s, buffer, length));
    }
    short blockThenReadBit(int32_t s, unsigned char *buffer, short length) override
    {
        const QString what = run(buffer, length) + QStringLiteral(" + busy poll");
        return count(what, true, SerialBackend::blockThenReadBit(s, buffer, length));
    }
    short first(int32_t s, void *state) override
    {
        m_device = QStringLiteral("all");
        return count(QStringLiteral("search pass"), false, SerialBackend::first(s, state));
    }
    short next(int32_t s, void *state) override
    {
        return count(QStringLiteral("search pass"), false, SerialBackend::next(s, state));
    }
    short strongAccess(int32_t s, void *state) override
    {
        selected(state);
        return count(QStringLiteral("selection (Search ROM)"), false, SerialBackend::strongAccess(s, state));
    }
    short strongAccessThenBlock(int32_t s, void *state, unsigned char *buffer, short length) override
    {
        selected(state);
        const QString what = QStringLiteral("selection (Search ROM) and ") + run(buffer, length);
        return count(what, false, SerialBackend::strongAccessThenBlock(s, state, buffer, length));
    }
    short access(int32_t s, void *state) override
    {
        selected(state);
        return count(QStringLiteral("selection (Match ROM)"), false, SerialBackend::access(s, state));
    }
    short oneWireLevel(int32_t s, short op, short level, short primed) override
    {
        return count(level ? QStringLiteral("pull-up armed") : QStringLiteral("pull-up ended"), false,
                     SerialBackend::oneWireLevel(s, op, level, primed));
    }

private:
    static QString hex(int byte) { return QStringLiteral("%1").arg(byte & 0xFF, 2, 16, QLatin1Char('0')).toUpper(); }
    // A run by what it carries: a bridge packet, read slots, or a command and its bytes.
    QString run(const unsigned char *buffer, short length) const
    {
        if (length > 0 && (buffer[0] == 0x4B || buffer[0] == 0x5A))
            return QStringLiteral("I2C write packet");
        if (length > 0 && buffer[0] == 0x87)
            return QStringLiteral("I2C read packet");
        if (std::all_of(buffer, buffer + length, [](unsigned char b) { return b == 0xFF; }))
            return m_afterPoll ? QStringLiteral("status bytes") : QStringLiteral("read bytes");
        return QStringLiteral("command ") + hex(buffer[0]) + QStringLiteral(" and its bytes");
    }
    void selected(void *state)
    {
        uint8_t rom[8];
        if (currentRom(state, rom))
            m_device = hex(rom[0]);
    }
    short count(const QString &what, bool poll, short result)
    {
        const qint64 turnarounds = m_port->turnarounds();
        if (m_counting) {
            Count &c = counts[m_device + QLatin1Char('\t') + what];
            ++c.calls;
            c.turnarounds += turnarounds - m_seen;
        }
        m_seen = turnarounds;
        m_afterPoll = poll;
        return result;
    }

    const SimPty *m_port;
    QString m_device = QStringLiteral("all");
    bool m_afterPoll = false;
    bool m_counting = false;
    qint64 m_seen = 0;
};

// One cycle as orvexctl runs it; the virtual time it took, µs.
qint64 cycle(MeasurementSession &session)
{
    const qint64 start = Clock::tickUs();
    session.refresh();
    session.measure();
    return Clock::tickUs() - start;
}

struct Figures
{
    qint64 cycleUs = 0;
    qint64 turnarounds = 0;
    qint64 bytesIn = 0; // host to adapter
    qint64 bytesOut = 0;
    // The host's bytes in order, hashed: what went onto the 1-Wire bus.
    QByteArray hostDigest;
    QMap<QString, CountingBackend::Count> breakdown;
};

// The time the strong pull-up was on in a traffic log: from the byte after
// it was primed (the pulse starts when that byte ends) to its end.
qint64 pullupUs(const QVector<TrafficEntry> &traffic)
{
    qint64 total = 0;
    qint64 since = -1;
    bool primed = false;
    for (const TrafficEntry &e : traffic) {
        const bool level = e.call == QLatin1String("TMOneWireLevel");
        if (level && e.args.value(1) == 1 && e.args.value(2) == 2) {
            primed = true;
        } else if (level && e.args.value(1) == 0) {
            if (since >= 0)
                total += e.timeUs - since;
            since = -1;
            primed = false;
        } else if (primed && since < 0) {
            since = e.timeUs;
        }
    }
    return total;
}

// The second cycle on the simulated bus: its time, its 1-Wire transactions
// and the time its strong pull-ups were on.
qint64 simulated(const QString &bus, int *transactions, qint64 *pulledUpUs, QByteArray *digest)
{
    Clock::setVirtual();
    std::unique_ptr<SimBackend> backend = load(bus);
    MeasurementSession session(backend.get());
    cycle(session);
    backend->setTrafficLogging(true);
    const qint64 us = cycle(session);
    *transactions = 0;
    for (const char *call : {"TMTouchReset", "TMStrongAccess", "TMAccess", "TMFirst", "TMNext", "TMFirstAlarm", "TMNextAlarm"})
        *transactions += backend->callCount(QLatin1String(call));
    *pulledUpUs = pullupUs(backend->traffic());
    QCryptographicHash hash(QCryptographicHash::Sha1);
    for (const TrafficEntry &e : backend->traffic())
        hash.addData((e.text() + QLatin1Char(' ') + QString::number(e.timeUs) + QLatin1Char('\n')).toUtf8());
    *digest = hash.result().toHex().left(12);
    return us;
}

// The second cycle over the emulated adapter.
Figures serial(const QString &bus, int latencyMs)
{
    Clock::setVirtual();
    std::unique_ptr<SimBackend> backend = load(bus);
    SimDs2480b chip(&backend->bus());
    SimPty port(&chip);
    QTemporaryDir dir;
    const QString link = openPort(port, dir);
    port.setLineTiming(true, latencyMs * 1000);
    CountingBackend serialBackend(link, &port);
    MeasurementSession session(&serialBackend);
    cycle(session);
    port.clearCounts();
    serialBackend.startCounting();
    chip.clearLog();
    Figures f;
    f.cycleUs = cycle(session);
    f.turnarounds = port.turnarounds();
    f.bytesIn = port.bytesIn();
    f.bytesOut = port.bytesOut();
    f.hostDigest = QCryptographicHash::hash(chip.hostBytes(), QCryptographicHash::Sha1).toHex().left(12);
    f.breakdown = serialBackend.counts;
    return f;
}

// Turnarounds of one DS18B20 read after a broadcast conversion.
qint64 oneRead()
{
    Clock::setVirtual();
    SimBackend backend;
    const QByteArray rom = SimBusLoader::defaultRom(0x28, 1);
    backend.bus().addDevice(std::make_unique<SimDs18b20>(rom, 21.0));
    SimDs2480b chip(&backend.bus());
    SimPty port(&chip);
    QTemporaryDir dir;
    const QString link = openPort(port, dir);
    SerialBackend serialBackend(link);
    Tmex tmex(&serialBackend);
    Adapter adapter(tmex);
    adapter.open();
    int32_t session = adapter.sessionHandle();
    tmex.TMTouchReset(session);
    tmex.TMTouchByte(session, 0xCC);
    tmex.TMTouchByte(session, 0x44);
    Clock::advanceMs(1000);
    RomId id;
    for (char b : rom)
        id.append(short(uchar(b)));
    Ds18b20 driver(tmex, &session, adapter.accessStateBuffer(), id.data());
    port.clearCounts();
    double value = 0;
    driver.convertAndRead(&value, Ds18x20::ReadOnly);
    const qint64 turnarounds = port.turnarounds();
    return turnarounds;
}

// One read of a device of each other family over the emulated adapter, at
// 16 ms: its turnarounds and the 1-Wire transactions (resets with their
// selection) it takes, which are its floor of turnarounds (each transaction
// ends in an answer the host waits for); a DS1825's is its Read Scratchpad
// after the cycle's broadcast, as a DS18B20's.
struct FamilyRead
{
    QString chip;
    qint64 turnarounds = 0;
    qint64 transactions = 0;
};

QVector<FamilyRead> familyReads()
{
    const struct
    {
        const char *chip;
        const char *entry;
    } chips[] = {
        {"DS1822", R"({"type": "ds1822", "rom": "22 11 22 33 44 55 01"})"},
        {"DS28EA00", R"({"type": "ds28ea00", "rom": "42 11 22 33 44 55 02"})"},
        {"DS1825", R"({"type": "ds1825", "rom": "3B 11 22 33 44 55 03"})"},
        {"DS2438 with HIH-4000", R"({"type": "ds2438", "rom": "26 11 22 33 44 55 04", "humidity": 45})"},
        {"DS2450", R"({"type": "ds2450", "rom": "20 11 22 33 44 55 05", "inputA": 1.25})"},
        {"DS2423", R"({"type": "ds2423", "rom": "1D 11 22 33 44 55 06", "counterA": 1000})"},
        {"DS2413", R"({"type": "ds2413", "rom": "3A 11 22 33 44 55 07"})"},
        {"DS2408", R"({"type": "ds2408", "rom": "29 11 22 33 44 55 08"})"},
    };
    QVector<FamilyRead> reads;
    const auto load = [](const char *entry) {
        QString error;
        std::unique_ptr<SimBackend> backend =
            SimBusLoader::load(QByteArray(R"({"devices": [)") + entry + "]}", QStringLiteral("bench"), &error);
        if (!backend)
            qFatal("%s", qPrintable(error));
        return backend;
    };
    for (const auto &c : chips) {
        FamilyRead read{QLatin1String(c.chip), 0, 0};
        {
            // The transactions, from the simulated bus's log of the same read.
            Clock::setVirtual();
            std::unique_ptr<SimBackend> backend = load(c.entry);
            MeasurementSession session(backend.get());
            session.refresh();
            session.measure(); // the device known (a 0x3B one told apart), the broadcast made
            backend->setTrafficLogging(true);
            session.sensor().readDevice(*session.allDevices().value(0));
            read.transactions = backend->callCount(QStringLiteral("TMTouchReset"))
                                + backend->callCount(QStringLiteral("TMStrongAccess"));
        }
        Clock::setVirtual();
        std::unique_ptr<SimBackend> backend = load(c.entry);
        SimDs2480b chip(&backend->bus());
        SimPty port(&chip);
        QTemporaryDir dir;
        const QString link = openPort(port, dir);
        port.setLineTiming(true, 16 * 1000);
        SerialBackend serialBackend(link);
        MeasurementSession session(&serialBackend);
        session.refresh();
        session.measure();
        SensorDevice *device = session.allDevices().value(0);
        if (!device)
            qFatal("%s not found", c.chip);
        port.clearCounts();
        session.sensor().readDevice(*device);
        read.turnarounds = port.turnarounds();
        reads << read;
    }
    return reads;
}

QString seconds(qint64 us)
{
    return QString::number(double(us) / 1e6, 'f', 2);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.info=false"));
    out() << "| bus | latency | cycle s | turnarounds | bytes out | bytes in | floor s | cycle / floor | earlier floor s | cycle / earlier floor |\n"
          << "|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n";
    struct Totals { qint64 simUs; qint64 bytesIn; int transactions; qint64 pulledUpUs; };
    QMap<QString, Totals> totals;
    QStringList digests;
    QMap<QString, CountingBackend::Count> demoBreakdown;
    QStringList buses{QStringLiteral("demo"), QStringLiteral("20 DS18B20")};
    if (app.arguments().value(1) == QLatin1String("thermometers"))
        buses.removeFirst();
    for (const QString &bus : buses) {
        int transactions = 0;
        qint64 pulledUpUs = 0;
        QByteArray simDigest;
        const qint64 simUs = simulated(bus, &transactions, &pulledUpUs, &simDigest);
        digests << QStringLiteral("%1, simulated bus (its traffic log, times included): %2").arg(bus).arg(QString::fromLatin1(simDigest));
        for (const int latencyMs : {16, 1}) {
            const Figures f = serial(bus, latencyMs);
            const qint64 lineUs = f.bytesIn * SimPty::kByteUs;
            const qint64 turnsUs = qint64(transactions) * (latencyMs * 1000 + SimPty::kByteUs);
            const qint64 floorUs = std::max(simUs - pulledUpUs, lineUs) + pulledUpUs + turnsUs;
            const qint64 earlierUs = std::max(simUs, lineUs) + turnsUs;
            out() << "| " << bus << " | " << latencyMs << " ms | " << seconds(f.cycleUs) << " | " << f.turnarounds
                  << " | " << f.bytesIn << " | " << f.bytesOut << " | " << seconds(floorUs) << " | "
                  << QString::number(double(f.cycleUs) / double(floorUs), 'f', 2) << " | " << seconds(earlierUs)
                  << " | " << QString::number(double(f.cycleUs) / double(earlierUs), 'f', 2) << " |\n";
            out().flush();
            totals[bus] = {simUs, f.bytesIn, transactions, pulledUpUs};
            digests << QStringLiteral("%1, %2 ms: %3").arg(bus).arg(latencyMs).arg(QString::fromLatin1(f.hostDigest));
            if (bus == QLatin1String("demo") && latencyMs == 16)
                demoBreakdown = f.breakdown;
        }
    }
    QStringList counts;
    for (auto it = totals.constBegin(); it != totals.constEnd(); ++it)
        counts << QStringLiteral("%1 %2 (the simulated cycle %3 s, %4 s of it under the strong pull-up)")
                      .arg(it.key())
                      .arg(it->transactions)
                      .arg(seconds(it->simUs), seconds(it->pulledUpUs));
    out() << "\nTransactions of the floor (resets, selections by Search ROM or Match ROM, search and alarm search passes): "
          << counts.join(QStringLiteral(", ")) << ".\nDigests, SHA-1: the simulated bus's traffic log; over the adapter, the host's bytes in order (the same digest: the same bytes on the 1-Wire bus):\n";
    for (const QString &line : digests)
        out() << "  " << line << "\n";

    // Where the demo bus's turnarounds go: by the device last selected
    // (family code; "all" for resets, broadcasts and the search) and the
    // kind of exchange, most first.
    QVector<QPair<QString, CountingBackend::Count>> rows;
    for (auto it = demoBreakdown.constBegin(); it != demoBreakdown.constEnd(); ++it)
        rows.append({it.key(), it.value()});
    std::stable_sort(rows.begin(), rows.end(),
                     [](const auto &a, const auto &b) { return a.second.turnarounds > b.second.turnarounds; });
    out() << "\nDemo bus, 16 ms, by device family and exchange:\n\n"
          << "| family | exchange | calls | turnarounds |\n|---|---|---:|---:|\n";
    for (const auto &row : rows) {
        const QStringList key = row.first.split(QLatin1Char('\t'));
        out() << "| " << key.value(0) << " | " << key.value(1) << " | " << row.second.calls << " | "
              << row.second.turnarounds << " |\n";
    }
    out() << "\nOne DS18B20 read (selection and Read Scratchpad): " << oneRead() << " turnarounds.\n";
    out() << "\nOne read of each other family, 16 ms (transactions: its resets with their selection):\n\n"
          << "| chip | turnarounds | transactions |\n|---|---:|---:|\n";
    for (const FamilyRead &read : familyReads())
        out() << "| " << read.chip << " | " << read.turnarounds << " | " << read.transactions << " |\n";

    // 115,200 baud: a byte takes 87 µs on the line instead of 1,042 µs, but
    // the chip turns a data byte into about 0.6 ms of time slots at standard
    // speed and buffers one byte only, so a transaction can no longer go out
    // in one write: the host must wait for an answer every second byte. Gain:
    // (1,042 − 600) µs per byte; cost: one more turnaround per two bytes.
    out() << "\n115,200 baud by the cost model (line time saved vs. turnarounds added):\n";
    for (auto it = totals.constBegin(); it != totals.constEnd(); ++it) {
        const qint64 savedUs = it->bytesIn * (SimPty::kByteUs - 600);
        for (const int latencyMs : {16, 1}) {
            const qint64 addedUs = it->bytesIn / 2 * latencyMs * 1000;
            out() << "  " << it.key() << ", " << latencyMs << " ms: saves " << seconds(savedUs) << " s, costs "
                  << seconds(addedUs) << " s\n";
        }
    }
    out().flush();
    return 0;
}
