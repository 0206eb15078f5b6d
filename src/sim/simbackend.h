#pragma once

#include "bus/wirebackend.h"
#include "sim/simbus.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QVector>

// One TMEX call as the simulated driver saw it.
struct TrafficEntry
{
    QString call;           // "TMTouchByte", "TMRom", ...
    QVector<int> args;      // the scalar arguments after the session handle
    int result = 0;
    QVector<short> rom;     // TMRom: the ROM buffer after the call
    qint64 timeUs = 0;      // clock tick when the call was made

    QString text() const;   // e.g. "TMTouchByte(0x44) -> 0x44"
};

// The simulated TMEX driver: the driver calls over a simulated bus, with the
// faults a real driver shows and a log of every call.
class SimBackend : public WireBackend
{
public:
    SimBackend();
    ~SimBackend() override;

    SimBus &bus() { return m_bus; }

    // Faults of the driver layer, each kept per device (a later call for the
    // same device replaces its count).
    // The next `passes` searches report `device` twice in a row.
    void reportTwice(SimDevice *device, int passes = 1);
    // The next `count` reads of `device`'s ROM with TMRom fail.
    void failRomReads(SimDevice *device, int count);
    // What TMSetup returns for the first set-up of a new session (1 or 2).
    void setSetupResultAfterStart(short result) { m_setupAfterStart = result; }

    // Traffic log (off until switched on).
    void setTrafficLogging(bool on) { m_logging = on; }
    const QVector<TrafficEntry> &traffic() const { return m_traffic; }
    void clearTraffic() { m_traffic.clear(); }
    // The bytes passed to TMTouchByte from log entry `from` on.
    QByteArray touchedBytes(int from = 0) const;
    // How many logged calls have this name.
    int callCount(const QString &call) const;
    // The whole log, one call per line.
    QString trafficText(int from = 0) const;

    // Plain memory, owned by this object alone.
    bool runsInAnyThread() const override { return true; }
    short readDefaultPort(short *portNum, short *portType) override;
    int32_t extendedStartSession(short portNum, short portType, void *options) override;
    short validSession(int32_t session) override;
    short setup(int32_t session) override;
    short autoOverDrive(int32_t session, void *state, short mode) override;
    short endSession(int32_t session) override;
    short touchReset(int32_t session) override;
    short touchByte(int32_t session, short outByte) override;
    short touchBit(int32_t session, short outBit) override;
    // One touchByte per byte (and a touchBit after the run), so the traffic
    // log lists every byte of a run as its own call, whichever way the
    // driver handed it over.
    short blockIO(int32_t session, unsigned char *buffer, short length) override;
    short blockThenReadBit(int32_t session, unsigned char *buffer, short length) override;
    short first(int32_t session, void *state) override;
    short next(int32_t session, void *state) override;
    short firstAlarm(int32_t session, void *state) override;
    short nextAlarm(int32_t session, void *state) override;
    short rom(int32_t session, void *state, short *romBuffer) override;
    short strongAccess(int32_t session, void *state) override;
    // The two calls, each logged as itself.
    short strongAccessThenBlock(int32_t session, void *state, unsigned char *buffer, short length) override;
    short access(int32_t session, void *state) override;
    short oneWireLevel(int32_t session, short operation, short levelType, short primed) override;
    short crc(short length, unsigned char *buffer, unsigned short seed, short crcType) override;
    QString description() const override;
    QStringList deviceOptions(const uint8_t rom[8]) const override;
    Kind kind() const override { return Kind::Simulated; }

private:
    int log(const char *call, QVector<int> args, int result);
    void notePassResult(void *state, short result);

    SimBus m_bus;
    bool m_logging = false;
    QVector<TrafficEntry> m_traffic;
    QHash<QByteArray, int> m_twicePasses;   // by ROM: searches still to report it twice
    bool m_duplicatePending = false;
    QHash<QByteArray, int> m_failRomCounts; // by ROM: TMRom reads still to fail
    short m_setupAfterStart = 1;
    bool m_freshSession = false;
};
