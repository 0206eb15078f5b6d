#include "app/appstate.h"
#include "app/logmessagehandler.h"
#include "app/switches.h"
#include "platform/clock.h"
#include "sensors/sensor.h"
#include "sim/simbmp280.h"
#include "sim/simd6f.h"
#include "sim/simds18b20.h"
#include "sim/simds28e17.h"
#include "sim/simhdc1080.h"
#include "sim/simmultihub.h"
#include "sim/simscd30.h"
#include "sim/simsht3x.h"
#include "sim/simsts3x.h"
#include "support/eventgapprobe.h"
#include "support/windowrig.h"

#include <QtTest>

// The window never goes more than 50 ms of bus time without processing
// events — through the search, the device reads, the bridge walk and the
// broadcasts — with "-v1" (log calls do not pause) as without it. Measured
// over whole ticks of the window by a posted event that posts itself again on
// every delivery.
namespace {

const qint64 kBoundUs = 50000;

// The window recording every second with the program's own log handler.
void start(WindowRig &rig)
{
    rig.start(true, 1);
    Dialogs::setResponder(nullptr);
    rig.window->installLogHandler();
}

// One tick of the window, a second after the last, under the probe; returns
// how long it took, in µs.
qint64 measureTick(WindowRig &rig, EventGapProbe &probe)
{
    Clock::advanceMs(1000);
    QCoreApplication::processEvents();
    const qint64 startUs = Clock::tickUs();
    probe.start();
    rig.tick();
    probe.stop();
    return Clock::tickUs() - startUs;
}

// What the probe saw in the tick just measured.
QByteArray describe(const EventGapProbe &probe, qint64 tickUs)
{
    return QStringLiteral("longest stretch %1 ms from %2 ms into a tick of %3 ms, %4 event passes")
        .arg(probe.longestUs() / 1000.0)
        .arg((probe.longestFromUs() - Clock::tickUs() + tickUs) / 1000.0)
        .arg(tickUs / 1000.0)
        .arg(probe.deliveries())
        .toUtf8();
}

} // namespace

class TstResponsiveness : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { WindowRig::prepareProcess(); }

    void init()
    {
        Clock::setVirtual();
        AppState::instance().resetForTest();
        Switches::resetForTest();
    }

    void cleanup()
    {
        qInstallMessageHandler(nullptr);
        Switches::resetForTest();
    }

    // 500 DS18B20 at standard speed, "-v1": the search alone takes 7.5 s and
    // lets events through between the devices, as the reads do between theirs.
    void fiveHundredThermometersWithV1()
    {
        Switches::parse({QStringLiteral("-v1")});
        WindowRig rig(std::make_unique<SimBackend>());
        rig.f.backend().setTrafficLogging(false);
        for (int i = 0; i < 500; ++i)
            rig.f.add(std::make_unique<SimDs18b20>(SimFixture::rom(0x28, 0x1000 + quint64(i) * 7919), 20.0 + i % 10));
        start(rig);
        EventGapProbe probe;
        for (int tick = 0; tick < 2; ++tick) {
            const qint64 tickUs = measureTick(rig, probe);
            QCOMPARE(rig.window->sensorObject()->devices()->size(), 500);
            QVERIFY2(tickUs > 7500000 && probe.longestUs() <= kBoundUs && probe.deliveries() >= 500,
                     describe(probe, tickUs));
        }
    }

    // A bridge whose hub carries one sensor of each type, with both scan
    // options on (six probes on each of 48 channels), at standard speed (a
    // chip that does not follow overdrive keeps the bus there): the four
    // attempts of a probe and the sensors' waits let events through.
    void bridgeWalkAtStandardSpeed_data()
    {
        QTest::addColumn<bool>("v1");
        QTest::newRow("-v1") << true;
        QTest::newRow("without -v1") << false;
    }

    void bridgeWalkAtStandardSpeed()
    {
        QFETCH(bool, v1);
        if (v1)
            Switches::parse({QStringLiteral("-v1")});
        WindowRig rig;
        rig.f.backend().setTrafficLogging(false);
        auto *bridge = rig.f.add(std::make_unique<SimDs28e17>(SimFixture::rom(0x19, 0x0B812E5C)));
        SimMultiHub *hub = bridge->i2c().setHub(std::make_unique<SimMultiHub>());
        hub->add(std::make_unique<SimSht3x>(), 0);
        hub->add(std::make_unique<SimSts3x>(), 9);
        hub->add(std::make_unique<SimHdc1080>(), 18);
        hub->add(std::make_unique<SimBmp280>(), 27);
        hub->add(std::make_unique<SimD6f>(), 36);
        hub->add(std::make_unique<SimScd30>(), 47);
        start(rig);
        QVERIFY(rig.window->scanAllChannel() && rig.window->scanAllType());
        EventGapProbe probe;
        for (int tick = 0; tick < 2; ++tick) {
            const qint64 tickUs = measureTick(rig, probe);
            QVERIFY(!rig.f.bus().overdrive());
            int channels = 0;
            for (const SensorDevice *device : qAsConst(*rig.window->sensorObject()->devices()))
                channels += device->family == 0x19 ? device->channels.size() : 0;
            QCOMPARE(channels, 2 + 1 + 2 + 2 + 2 + 3);
            QVERIFY2(probe.longestUs() <= kBoundUs, describe(probe, tickUs));
        }
    }
};

QTEST_MAIN(TstResponsiveness)
#include "tst_responsiveness.moc"
