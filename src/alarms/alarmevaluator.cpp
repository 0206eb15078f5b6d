#include "alarms/alarmevaluator.h"

#include <cmath>

AlarmTransition AlarmEvaluator::change(const ChannelId &id, Track &track, AlarmState to, double value, double limit)
{
    AlarmTransition made;
    made.id = id;
    made.from = track.state;
    made.to = to;
    made.value = value;
    made.limit = limit;
    track.state = to;
    return made;
}

bool AlarmEvaluator::reading(const ChannelId &id, const AlarmLimits &limits, double value,
                             AlarmTransition *transition)
{
    if (!limits.isSet() && !m_channels.contains(id))
        return false;
    Track &track = m_channels[id];
    if (std::isnan(value))
        return false;
    track.readThisCycle = true;
    track.seen = true;
    track.quietCycles = 0;
    track.highRun = limits.hasHigh() && value > limits.high ? track.highRun + 1 : 0;
    track.lowRun = limits.hasLow() && value < limits.low ? track.lowRun + 1 : 0;
    const bool raiseHigh = track.highRun >= limits.delay;
    const bool raiseLow = track.lowRun >= limits.delay;

    AlarmState to = track.state;
    double limit = std::numeric_limits<double>::quiet_NaN();
    switch (track.state) {
    case AlarmState::High:
        // Back inside by the hysteresis, or the limit is gone.
        if (!limits.hasHigh() || value <= limits.high - limits.hysteresis) {
            to = raiseLow ? AlarmState::Low : AlarmState::Normal;
            limit = raiseLow ? limits.low : (limits.hasHigh() ? limits.high : limit);
        }
        break;
    case AlarmState::Low:
        if (!limits.hasLow() || value >= limits.low + limits.hysteresis) {
            to = raiseHigh ? AlarmState::High : AlarmState::Normal;
            limit = raiseHigh ? limits.high : (limits.hasLow() ? limits.low : limit);
        }
        break;
    case AlarmState::NoData:
    case AlarmState::Normal:
        if (raiseHigh) {
            to = AlarmState::High;
            limit = limits.high;
        } else if (raiseLow) {
            to = AlarmState::Low;
            limit = limits.low;
        } else {
            to = AlarmState::Normal;
            if (track.state == AlarmState::NoData && limits.noDataCycles > 0)
                limit = limits.noDataCycles;
        }
        break;
    }
    if (to == track.state)
        return false;
    *transition = change(id, track, to, value, limit);
    return true;
}

QVector<AlarmTransition> AlarmEvaluator::endCycle(const QHash<ChannelId, AlarmLimits> &limits,
                                                  const std::function<bool(const ChannelId &)> &present)
{
    for (auto it = limits.constBegin(); it != limits.constEnd(); ++it) {
        if (it.value().isSet() && !m_channels.contains(it.key()))
            m_channels.insert(it.key(), Track());
    }
    QVector<AlarmTransition> made;
    for (auto it = m_channels.begin(); it != m_channels.end(); ++it) {
        Track &track = it.value();
        if (track.readThisCycle) {
            track.readThisCycle = false;
            continue;
        }
        ++track.quietCycles;
        if (track.state == AlarmState::NoData)
            continue;
        const AlarmLimits channelLimits = limits.value(it.key());
        const bool quietTooLong = channelLimits.noDataCycles > 0 && track.quietCycles >= channelLimits.noDataCycles;
        // A channel in alarm whose device has gone does not keep showing
        // its last alarm as if it still held.
        const bool goneInAlarm = track.state != AlarmState::Normal && track.seen && !present(it.key());
        if (!quietTooLong && !goneInAlarm)
            continue;
        track.highRun = 0;
        track.lowRun = 0;
        const double limit = channelLimits.noDataCycles > 0 ? double(channelLimits.noDataCycles)
                                                            : std::numeric_limits<double>::quiet_NaN();
        made.append(change(it.key(), track, AlarmState::NoData, std::numeric_limits<double>::quiet_NaN(), limit));
    }
    return made;
}
