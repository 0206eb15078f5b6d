#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QVector>
#include <limits>
#include <mutex>

// What the web page's server answers from: the run as of the last cycle's
// end, copied out of the records, the alarm board and the bus list on the
// GUI thread; never touched there again, so clients never touch the
// records and measuring never waits on a client. Its JSON is made on the
// server's thread, once per snapshot, by the first client that asks.
struct WebChannel
{
    QString key;        // ChannelId's text: "ROM/subchannel/hub channel/address"
    QString romText;    // as the table shows it, CRC first
    int bus = 0;
    int subchannel = 0;
    int hubChannel = -1;
    int i2cAddress = 0;
    QString i2cSerial;  // as the table shows it; "" for 1-Wire sensors
    QString type;
    // "temperature", "humidity", "pressure", "co2", "voltage", "counter",
    // "state" (0 or 1) or "other"
    QString quantity;
    int decimals = 2;   // the digits the table shows
    QString unit;       // as the files carry it ("C")
    QString unitShown;  // as people write it ("°C")
    double value = std::numeric_limits<double>::quiet_NaN(); // NaN: the latest reading failed
    QDateTime time;     // of the latest reading
    bool fresh = false; // read in the cycle the snapshot ends
    QString failure;    // a stable code (failureCode); "" when the value holds one
    QString alarm;      // "normal", "high", "low", "nodata"
    QString limits;     // as the alarm files write them; "" without limits
};

struct WebBus
{
    QString kind; // CycleSummary::busKinds
    QString description;
    bool up = false;
};

// An alarm as it stands: a channel not in "normal".
struct WebAlarm
{
    QString key;
    QString state;
    double value = std::numeric_limits<double>::quiet_NaN();
    double limit = std::numeric_limits<double>::quiet_NaN();
};

struct WebSnapshot
{
    quint64 cycle = 0; // 0: no cycle has ended yet
    QDateTime time;    // of the cycle's end
    qint64 cycleMs = -1;
    bool limitsEditable = false;
    QVector<WebBus> buses;
    QVector<WebChannel> channels;
    QVector<WebAlarm> active;
    // The last transitions, oldest first, as lines of alarms.csv; read from
    // the file when recording (alarmsFile), else those this run has seen.
    QString alarmsFile;
    QVector<QByteArray> transitions;

    // {"cycle", "time", "cycleMs", "limitsEditable", "buses", "channels",
    // "alarms": {"active", "transitions"}}: the document /api/channels
    // answers and every event carries. Made once. Any thread.
    const QByteArray &json() const;
    // Its "alarms" part alone (/api/alarms).
    QByteArray alarmsJson() const;

private:
    mutable std::once_flag m_made;
    mutable QByteArray m_json;
    mutable QByteArray m_alarmsJson;
};

// How many transitions the page lists.
constexpr int kWebTransitions = 20;

// The last `count` whole lines of alarms.csv at `path` (the header left
// out), oldest first; none when it cannot be read.
QVector<QByteArray> lastAlarmLines(const QString &path, int count);

// JSON text helpers: a string with every character that could end it or
// a surrounding HTML element escaped, and a number (null for NaN).
void appendJsonString(QByteArray &out, const QString &text);
void appendJsonNumber(QByteArray &out, double value);

// "ru" or "en" for a request: its `lang` argument when it names one, else
// the language range of the Accept-Language header with the highest
// weight (Russian when it is Russian, English otherwise).
QString webLanguage(const QString &langArgument, const QString &acceptLanguage);
