#pragma once

#include "model/channelid.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <cmath>
#include <limits>

// One channel's alarm limits. Either bound may be missing (NaN).
struct AlarmLimits
{
    double low = std::numeric_limits<double>::quiet_NaN();
    double high = std::numeric_limits<double>::quiet_NaN();
    // An alarm clears only once the value is back inside by this much.
    double hysteresis = 0;
    // Consecutive readings outside before an alarm is raised (1: the first).
    int delay = 1;
    // Cycles without a usable reading before "no data" is raised (0: never).
    int noDataCycles = 0;

    bool hasLow() const { return !std::isnan(low); }
    bool hasHigh() const { return !std::isnan(high); }
    bool isSet() const { return hasLow() || hasHigh() || noDataCycles > 0; }

    bool operator==(const AlarmLimits &o) const
    {
        auto same = [](double a, double b) { return (std::isnan(a) && std::isnan(b)) || a == b; };
        return same(low, o.low) && same(high, o.high) && hysteresis == o.hysteresis && delay == o.delay
            && noDataCycles == o.noDataCycles;
    }
    bool operator!=(const AlarmLimits &o) const { return !(*this == o); }
};

enum class AlarmState { Normal, High, Low, NoData };

// The state as a word for files and payloads, never translated.
inline QString alarmStateKey(AlarmState state)
{
    switch (state) {
    case AlarmState::High:
        return QStringLiteral("high");
    case AlarmState::Low:
        return QStringLiteral("low");
    case AlarmState::NoData:
        return QStringLiteral("nodata");
    case AlarmState::Normal:
        break;
    }
    return QStringLiteral("normal");
}

// What the run knows about alarms: every channel's limits and its current
// state. The alarm output writes the states; the window (limits set by the
// operator), the table, the publisher and the exporter read it. Nothing of
// it outlives the run: a state is raised only by an evaluation in this run.
// GUI thread only.
class AlarmBoard : public QObject
{
    Q_OBJECT
public:
    struct Entry
    {
        AlarmLimits limits;
        AlarmState state = AlarmState::Normal;
        double value = std::numeric_limits<double>::quiet_NaN(); // the value that made the state
        double limit = std::numeric_limits<double>::quiet_NaN(); // the limit crossed (cycles for no data)
    };

    explicit AlarmBoard(QObject *parent = nullptr)
        : QObject(parent)
    {
    }

    // Limits unset (AlarmLimits()) remove them; the state stays until the
    // next evaluation clears it.
    void setLimits(const ChannelId &id, const AlarmLimits &limits)
    {
        Entry &entry = m_entries[id];
        if (entry.limits == limits)
            return;
        entry.limits = limits;
        emit changed(id);
    }
    AlarmLimits limits(const ChannelId &id) const { return m_entries.value(id).limits; }
    bool hasLimits(const ChannelId &id) const { return m_entries.value(id).limits.isSet(); }

    void setState(const ChannelId &id, AlarmState state, double value, double limit)
    {
        Entry &entry = m_entries[id];
        entry.state = state;
        entry.value = value;
        entry.limit = limit;
        emit changed(id);
    }
    AlarmState state(const ChannelId &id) const { return m_entries.value(id).state; }
    Entry entry(const ChannelId &id) const { return m_entries.value(id); }

    // Every channel the board knows: with limits, or in a state.
    QList<ChannelId> channels() const { return m_entries.keys(); }

    int activeCount() const
    {
        int count = 0;
        for (const Entry &entry : m_entries)
            count += entry.state != AlarmState::Normal ? 1 : 0;
        return count;
    }

signals:
    // A channel's limits or state changed.
    void changed(const ChannelId &id);

private:
    QHash<ChannelId, Entry> m_entries;
};
