#include "onewire/adapter.h"
#include "onewire/tmex.h"
#include "sim/simromdevice.h"
#include "support/simfixture.h"

#include <QtTest>

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

} // namespace

class TstAdapter : public QObject
{
    Q_OBJECT
private slots:
    // A chip that cannot follow overdrive keeps the bus at standard speed:
    // overdrive tried, then switched off again.
    void firstOpenReportsOverdrive()
    {
        for (bool overdrive : {false, true}) {
            SimFixture f;
            f.add(std::make_unique<SimRomDevice>(SimFixture::rom(0x01, 0x1234), overdrive));
            QCOMPARE(f.open(), 1);
            QCOMPARE(Adapter::instance().statusText(),
                     QStringLiteral("Adapter found, No error; Info: OverDrive ") + (overdrive ? "ON" : "OFF"));
            QCOMPARE(f.bus().overdrive(), overdrive);
            QStringList calls{"TMValidSession", "TMReadDefaultPort", "TMExtendedStartSession", "TMSetup", "TMAutoOverDrive"};
            QCOMPARE(callsFrom(f.backend(), 0), overdrive ? calls : calls << "TMAutoOverDrive");
            QCOMPARE(f.backend().traffic().at(4).args, QVector<int>({1}));
            QCOMPARE(f.backend().traffic().value(5).args, overdrive ? QVector<int>() : QVector<int>({0}));
            QVERIFY(f.session > 0);
        }
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
        QCOMPARE(Adapter::instance().statusText(), QStringLiteral("Error TMReadDefaultPort port=3  portType=2"));
    }

    void setupResultTwo()
    {
        {
            // Right after a new session, 2 counts as set up.
            SimFixture f;
            f.backend().setSetupResultAfterStart(2);
            QCOMPARE(f.open(), 1);
            QCOMPARE(f.backend().traffic().at(3).call, QStringLiteral("TMSetup"));
            QCOMPARE(f.backend().traffic().at(3).result, 2);
            QVERIFY(Adapter::instance().statusText().startsWith("Adapter found, No error"));
            // The next check of the same session gets 1 and takes the fast path.
            QCOMPARE(f.open(), 1);
            QCOMPARE(f.backend().callCount("TMExtendedStartSession"), 1);
        }
        {
            // On the fast path 2 is not enough: a new session is started.
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
            QCOMPARE(Adapter::instance().sessionHandle(), c.handle);
            const QString session = QString::number(f.backend().traffic().value(2).result);
            QCOMPARE(Adapter::instance().statusText(), QString::fromUtf8(c.status).replace("%1", session));
        }
    }

    void unplugAndReplug()
    {
        SimFixture f;
        f.add(std::make_unique<SimRomDevice>(SimFixture::rom(0x01, 0x42)));
        QCOMPARE(Adapter::instance().resetBus(), -1); // no session yet
        QCOMPARE(f.open(), 1);
        const int32_t first = f.session;

        // Unplugged and plugged back between two checks: the same session
        // goes on. A check while the port is gone too keeps it.
        f.bus().setConnected(false);
        QCOMPARE(TMValidSession(first), short(0));
        f.bus().setDefaultPort(false);
        QCOMPARE(f.open(), -1);
        QCOMPARE(Adapter::instance().sessionHandle(), first);
        f.bus().setDefaultPort(true);
        f.bus().setConnected(true);
        QCOMPARE(TMValidSession(first), short(1));
        QCOMPARE(f.open(), 1);
        QCOMPARE(f.session, first);

        // Checked while unplugged: the port still opens but the set-up fails,
        // so the new session is ended and each later check starts over.
        f.bus().setConnected(false);
        QCOMPARE(f.open(), -2);
        QCOMPARE(f.session, 0);
        QCOMPARE(f.open(), -2);
        QCOMPARE(f.backend().callCount("TMEndSession"), 2);
        QCOMPARE(Adapter::instance().resetBus(), -1);
        QCOMPARE(f.backend().callCount("TMTouchReset"), 0);

        f.bus().setConnected(true);
        QCOMPARE(f.open(), 1);
        QVERIFY(f.session > 0);
        QCOMPARE(Adapter::instance().statusText(), QStringLiteral("Adapter found, No error; Info: OverDrive OFF"));
        QCOMPARE(Adapter::instance().resetBus(), 1);
    }
};

QTEST_APPLESS_MAIN(TstAdapter)
#include "tst_adapter.moc"
