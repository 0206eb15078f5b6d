#pragma once

#include "model/channelid.h"
#include "model/readingsink.h"
#include "model/sensortraits.h"

#include <QDateTime>
#include <QMap>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QVector>
#include <cstdint>
#include <limits>
#include <memory>

struct sockaddr_storage;

// What the servers of the outside faces (owserver protocol, Prometheus)
// answer from: the session's latest readings as of the last cycle's end,
// copied out of the device records so that clients never touch them and
// measuring never waits on a client. Immutable once published.
struct FaceChannel
{
    int subchannel = 0;
    int hubChannel = -1;
    int i2cAddress = 0; // 8-bit address byte, as the records keep it
    QString unit;       // as the table shows it, e.g. "C", "kPa"
    QString type;
    // From its driver's traits: the chip (e.g. "SHT3x"; "" when no driver
    // names one), what kind of reading it is, the names owservers give its
    // property (blank-separated, the first listed; empty: named by its unit)
    // and the digits its chip resolves, as the table shows them.
    QString chip;
    ChannelKind kind = ChannelKind::Value;
    Quantity quantity = Quantity::Other;
    QString property;
    int decimals = 2;
    double value = std::numeric_limits<double>::quiet_NaN(); // NaN: the latest reading failed
    QString failure;    // why, as a stable code (failureCode); "" when value holds one
    QDateTime time;     // of the latest reading
    bool fresh = false; // read in the cycle the snapshot ends: not stale
    QMap<QString, quint64> failures; // failed readings so far, by failure code

    // A number a client may be given: read in the last cycle and not failed.
    bool usable() const { return fresh && failure.isEmpty() && value == value; }
};

struct FaceDevice
{
    uint8_t rom[8] = {}; // bus order: family code first, CRC last
    int bus = 0;
    QString romText;     // as the table shows it
    QVector<FaceChannel> channels;
    // Its driver's description (static data): the properties it has, by
    // subchannel; null for a device the program does not read.
    const SensorTraits *traits = nullptr;

    uint8_t family() const { return rom[0]; }
};

// A channel with alarm limits and its state as of the cycle's end.
struct FaceAlarm
{
    ChannelId id;
    QString state; // "normal", "high", "low", "nodata"
};

struct FaceSnapshot
{
    QVector<FaceDevice> devices; // every device of every bus's list, bus by bus
    QVector<FaceAlarm> alarms;   // the channels with limits, in the order of their identity text
    QVector<bool> busUp;
    qint64 cycleMs = -1;         // the last cycle's duration; -1 before the first
    quint64 cycles = 0;
    int channelCount = 0;
};

// The stable code for a driver's failure text ("" for none): the words are
// for the operator, the code is data that leaves the process.
QString failureCode(const QString &failureText);
// The codes a channel of a device of `family` may fail with, "other" last:
// "no_answer" for every one, the scratchpad's CRC and the power-on value for
// the thermometers, the CRC and the thermocouple's faults for the MAX31850
// (both for family 3B, which a DS1825 shares), the CRC for the chips whose
// pages are checked, besides a counter going back for the DS2423 and a
// conversion without strong pull-up for the DS2450.
QStringList failureCodes(uint8_t family);

// A value with the digits the table shows it with (`decimals`: two unless
// the channel's chip resolves otherwise), moved by `powerOfTen` places for
// a change of unit (101.33 kPa is 101330 Pa, not 101325.4 Pa): the faces
// never claim more precision than the table.
QString shownValue(double value, int powerOfTen = 0, int decimals = 2);

// An I2C address byte as the faces name it: the 7-bit address in
// hexadecimal, two upper-case digits ("44" for the byte 0x88); "" for 0,
// a channel of a 1-Wire chip.
QString i2cAddressText(int addressByte);

// Collects readings as the session hands them out and turns each cycle's
// end into a new snapshot. GUI thread only, like the device records.
class FaceSnapshotBuilder
{
public:
    void takeReading(const SensorDevice &device, int index);
    std::shared_ptr<const FaceSnapshot> endCycle(const CycleSummary &summary);

private:
    struct Latest
    {
        FaceChannel channel;
        quint64 cycle = 0; // the cycle that handed it out
    };
    QHash<ChannelId, Latest> m_latest;
    quint64 m_cycle = 1;
    qint64 m_lastMs = -1;
};

// The published snapshot, shared between the GUI thread (which replaces it
// once a cycle) and the server threads (which take a reference per request).
// The lock guards only the pointer swap.
class SnapshotHolder
{
public:
    SnapshotHolder() : m_snapshot(std::make_shared<FaceSnapshot>()) {}
    void publish(std::shared_ptr<const FaceSnapshot> snapshot)
    {
        QMutexLocker lock(&m_mutex);
        m_snapshot = std::move(snapshot);
    }
    std::shared_ptr<const FaceSnapshot> current() const
    {
        QMutexLocker lock(&m_mutex);
        return m_snapshot;
    }

private:
    mutable QMutex m_mutex;
    std::shared_ptr<const FaceSnapshot> m_snapshot;
};

// "[ADDRESS:]PORT" for a listening socket; the address defaults to the
// loopback one. False with *error for a bad value.
struct ListenAddress
{
    QString host = QStringLiteral("127.0.0.1");
    quint16 port = 0;

    static bool parse(const QString &text, ListenAddress *address, QString *error);
    // Takes every "OPTION [ADDRESS:]PORT" and "OPTION=[ADDRESS:]PORT" out of
    // `args` (the last one wins) and sets *given when there was one. False
    // with *error (naming the option) for a missing or bad value.
    static bool takeOption(QStringList &args, const QString &option, ListenAddress *address, bool *given,
                           QString *error);
    QString text() const;
    // The address as a socket address to bind (its host parsed as IPv4 or
    // IPv6, the port in network order); true when it is an IPv6 one.
    bool toSocketAddress(sockaddr_storage *address) const;
};
