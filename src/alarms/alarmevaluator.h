#pragma once

#include "model/alarmboard.h"
#include "model/channelid.h"

#include <QHash>
#include <QSet>
#include <QVector>
#include <functional>

// One change of a channel's alarm state.
struct AlarmTransition
{
    ChannelId id;
    AlarmState from = AlarmState::Normal;
    AlarmState to = AlarmState::Normal;
    double value = std::numeric_limits<double>::quiet_NaN(); // the reading that made it; NaN for no data
    // The limit crossed (on the way out or back); for no data the cycles
    // without a reading, NaN for a channel that disappeared without one set.
    double limit = std::numeric_limits<double>::quiet_NaN();
};

// The per-channel state machine, apart from where its transitions go. A
// channel leaves "normal" for "high" or "low" after `delay` consecutive
// usable readings beyond the limit, and returns once a reading is back
// inside by the hysteresis; it enters "no data" after `noDataCycles` cycles
// without a usable reading (failed or missing), or at once when its device
// has left the device list while the channel was in alarm. A usable reading
// ends "no data". Each change is one transition, given out once.
class AlarmEvaluator
{
public:
    // A reading of the channel under `limits` (NaN: the reading failed and
    // counts as none). True with *transition when the state changed.
    bool reading(const ChannelId &id, const AlarmLimits &limits, double value, AlarmTransition *transition);

    // The cycle has ended: every channel with limits (in `limits`) or with
    // a state of its own that had no usable reading counts one quiet
    // cycle. `present` says whether a channel's device is still listed.
    QVector<AlarmTransition> endCycle(const QHash<ChannelId, AlarmLimits> &limits,
                                      const std::function<bool(const ChannelId &)> &present);

    AlarmState state(const ChannelId &id) const { return m_channels.value(id).state; }

private:
    struct Track
    {
        AlarmState state = AlarmState::Normal;
        int highRun = 0;   // consecutive usable readings above the high limit
        int lowRun = 0;    // ... below the low limit
        int quietCycles = 0;
        bool readThisCycle = false;
        bool seen = false; // has had a usable reading: it can disappear
    };
    static AlarmTransition change(const ChannelId &id, Track &track, AlarmState to, double value, double limit);

    QHash<ChannelId, Track> m_channels;
};
