// The measurement session's own behaviour: outputs registered with it get
// every reading the table shows, once, whatever the others do.

#include "base/clock.h"
#include "model/readingsink.h"
#include "model/sensordevice.h"
#include "session/measurementsession.h"
#include "sim/simbusloader.h"
#include "support/logcapture.h"
#include "support/simfixture.h"
#include "table/recorder.h"
#include "table/tableman.h"

#include <QDir>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>
#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <vector>

namespace {

// Counts readings by channel; optionally fails on each one, or runs
// `during` on its first reading (to change the sinks mid-delivery).
struct CountingSink : ReadingSink
{
    QHash<QString, int> byChannel;
    int total = 0;
    bool fails = false;
    std::function<void()> during;

    void takeReading(const SensorDevice &device, int index) override
    {
        if (during) {
            auto once = std::move(during);
            during = nullptr;
            once();
        }
        if (fails)
            throw std::runtime_error("output broken");
        ++byChannel[ChannelId::of(device, index).text()];
        ++total;
    }
};

} // namespace

class TstSession : public QObject
{
    Q_OBJECT

    std::unique_ptr<SimFixture> sim;

    void cycle(MeasurementSession &session)
    {
        Clock::advanceMs(10000);
        QCOMPARE(session.refresh().openResult, 1);
        session.measure();
    }

private slots:
    void init()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
        Clock::setVirtual();
        sim = std::make_unique<SimFixture>(
            SimBusLoader::loadFile(SimFixture::busFile(QStringLiteral("thermometers.json")), nullptr));
        sim->backend().setTrafficLogging(false);
    }
    void cleanup() { sim.reset(); }

    // A failing output does not stop the one after it; an output added
    // while readings are handed out, or between cycles, takes the next
    // reading; a removed one takes none; masked channels reach no output.
    void outputsArePeers()
    {
        MeasurementSession session(&sim->backend());
        CountingSink broken, counting, late;
        broken.fails = true;
        session.addSink(&broken);
        session.addSink(&counting);
        cycle(session);
        const int channels = session.table().rowCount();
        QVERIFY(channels > 0);
        QCOMPARE(counting.total, channels);
        for (int n : counting.byChannel)
            QCOMPARE(n, 1);

        counting.during = [&] { session.addSink(&late); };
        cycle(session);
        QCOMPARE(counting.total, 2 * channels);
        QVERIFY(late.total > 0 && late.total < channels); // from the reading after it joined

        session.removeSink(&counting);
        session.setChannelMask(0);
        cycle(session);
        QCOMPARE(counting.total, 2 * channels);
        const int lateBefore = late.total;
        session.setChannelMask(0xFF);
        cycle(session);
        QCOMPARE(late.total, lateBefore + channels);
    }

    // A sink removed by another while a reading is handed out (and perhaps
    // destroyed) gets nothing more, not even that reading; a sink added
    // twice takes each reading once; a failing sink is logged once, not
    // every cycle.
    void sinkChangesAndFailuresMidDelivery()
    {
        LogCapture log;
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=true"));
        MeasurementSession session(&sim->backend());
        CountingSink first, second, broken;
        broken.fails = true;
        session.addSink(&first);
        session.addSink(&second);
        session.addSink(&second);
        session.addSink(&broken);
        first.during = [&] { session.removeSink(&second); };
        cycle(session);
        cycle(session);
        const int channels = session.table().rowCount();
        QCOMPARE(first.total, 2 * channels);
        QCOMPARE(second.total, 0);
        QCOMPARE(log.count(QStringLiteral("An output failed")), 1);

        session.removeSink(&first);
        session.addSink(&second);
        session.addSink(&second);
        cycle(session);
        QCOMPARE(second.total, channels);
        for (int n : second.byChannel)
            QCOMPARE(n, 1);
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
    }

    // Two sessions on two buses in one process, each recording into its
    // own folder: neither sees the other's devices, and every reading of
    // each is written once, into its own bus's files.
    void twoSessionsOnTwoBuses()
    {
        SimFixture other(SimBusLoader::loadFile(SimFixture::busFile(QStringLiteral("bridges.json")), nullptr));
        other.backend().setTrafficLogging(false);
        QTemporaryDir folderA, folderB;
        MeasurementSession a(&sim->backend());
        MeasurementSession b(&other.backend());
        a.recorder().setFirstSplit(QStringLiteral("'"));
        b.recorder().setFirstSplit(QStringLiteral("'"));
        a.setRecordingFolder(folderA.path());
        b.setRecordingFolder(folderB.path());
        for (int round = 0; round < 3; ++round) {
            cycle(a);
            cycle(b);
        }
        auto romsIn = [](const QString &folder, int *lines) {
            QSet<QString> roms;
            for (const QFileInfo &info : QDir(folder).entryInfoList(QDir::Files)) {
                QFile file(info.filePath());
                file.open(QIODevice::ReadOnly);
                const QList<QByteArray> all = file.readAll().split('\n');
                roms.insert(QString::fromLatin1(all.first()).section(QLatin1Char('\''), 1).left(16));
                *lines = qMax(*lines, int(all.size()));
            }
            return roms;
        };
        auto romsOf = [](MeasurementSession &session) {
            QSet<QString> roms;
            for (const SensorDevice *device : session.allDevices())
                roms.insert(romToText(device->rom, false));
            return roms;
        };
        int linesA = 0, linesB = 0;
        const QSet<QString> filesA = romsIn(folderA.path(), &linesA);
        const QSet<QString> filesB = romsIn(folderB.path(), &linesB);
        QCOMPARE(filesA.size(), 6);
        QVERIFY(!filesB.isEmpty());
        QVERIFY(romsOf(a).contains(filesA));
        QVERIFY(romsOf(b).contains(filesB));
        QVERIFY(!romsOf(a).intersects(romsOf(b)));
        // Ten header lines, three readings, the last line's end.
        QCOMPARE(linesA, 14);
        QVERIFY(linesB <= 14);
    }

    // Without any output, window or recording the table does not run, and
    // the device records stay as the drivers filled them (orvexctl's plain
    // read); a sink alone makes it run.
    void tableRunsOnlyForSomeone()
    {
        MeasurementSession session(&sim->backend());
        cycle(session);
        QCOMPARE(session.table().rowCount(), 0);
        CountingSink sink;
        session.addSink(&sink);
        cycle(session);
        QVERIFY(session.table().rowCount() > 0);
        QCOMPARE(sink.total, session.table().rowCount());
    }

    // The run's start time, which names the files, is each session's own:
    // a session made later does not move an earlier one's, and measuring
    // does not move either.
    void eachSessionNamesFilesByItsOwnStart()
    {
        QTemporaryDir earlierDir, laterDir;
        MeasurementSession earlier(&sim->backend());
        Clock::advanceMs(61000);
        MeasurementSession later(&sim->backend());
        QStringList names;
        for (auto run : {std::make_pair(&earlier, &earlierDir), std::make_pair(&later, &laterDir)}) {
            run.first->recorder().setNameTemplate(QStringLiteral("%DATE%-%TIME%_%SN1W%"));
            run.first->setRecordingFolder(run.second->path());
        }
        for (auto run : {std::make_pair(&earlier, &earlierDir), std::make_pair(&later, &laterDir)}) {
            cycle(*run.first);
            const QStringList files = QDir(run.second->path()).entryList(QDir::Files);
            QVERIFY(!files.isEmpty());
            names << files.first().left(19);
        }
        QCOMPARE(names, QStringList({"2025.01.27-14.03.05", "2025.01.27-14.04.06"}));
    }

    // Buses read side by side number their readings from threads of their
    // own: no number is handed out twice, and each thread's keep rising.
    void readingNumbersFromSeveralThreads()
    {
        const int perThread = 1000000;
        std::vector<uint64_t> taken[2];
        std::unique_ptr<QThread> threads[2];
        std::atomic<int> ready{0};
        for (int t = 0; t < 2; ++t) {
            taken[t].reserve(perThread);
            threads[t].reset(QThread::create([&numbers = taken[t], &ready] {
                ++ready;
                while (ready < 2) { // both start together
                }
                for (int i = 0; i < perThread; ++i)
                    numbers.push_back(SensorChannel::nextReadingNumber());
            }));
            threads[t]->start();
        }
        std::vector<uint64_t> all;
        for (int t = 0; t < 2; ++t) {
            threads[t]->wait();
            QVERIFY(std::is_sorted(taken[t].begin(), taken[t].end()));
            all.insert(all.end(), taken[t].begin(), taken[t].end());
        }
        std::sort(all.begin(), all.end());
        QVERIFY(std::adjacent_find(all.begin(), all.end()) == all.end());
    }

    // Each session has an adapter session of its own: the next one starts
    // as a freshly started program does, and ending one does not end the
    // driver's session.
    void eachSessionOpensItsOwnAdapter()
    {
        SimBackend &bus = sim->backend();
        bus.setTrafficLogging(true);
        for (int run = 0; run < 2; ++run) {
            MeasurementSession session(&sim->backend());
            const int from = bus.traffic().size();
            cycle(session);
            QStringList calls;
            for (int i = from; i < from + 5; ++i)
                calls << bus.traffic().at(i).call;
            QCOMPARE(calls, QStringList({"TMValidSession", "TMReadDefaultPort", "TMExtendedStartSession", "TMSetup",
                                         "TMAutoOverDrive"}));
        }
        QCOMPARE(bus.callCount(QStringLiteral("TMEndSession")), 0);
    }
};

QTEST_GUILESS_MAIN(TstSession)
#include "tst_session.moc"
