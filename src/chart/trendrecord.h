#pragma once

#include <QtGlobal>
#include <limits>

// A stretch of one channel's readings as the trend store keeps it: a single
// reading, or the summary of consecutive readings of one time cell. A record
// either holds values (count > 0) or stands for failed readings only (a gap,
// count 0, values NaN); one never holds both sides of a gap unless it is
// marked `interrupted`, and such a record is never joined to its neighbours
// when drawn, so a gap stays visible.
struct TrendRecord
{
    qint64 firstMs = 0; // time of the first reading in it, ms since the epoch
    qint64 lastMs = 0;  // time of the last reading in it
    double min = std::numeric_limits<double>::quiet_NaN();
    double max = std::numeric_limits<double>::quiet_NaN();
    double first = std::numeric_limits<double>::quiet_NaN(); // value of its first reading
    double last = std::numeric_limits<double>::quiet_NaN();  // value of its last reading
    quint32 count = 0;        // readings with a value
    bool interrupted = false; // holds values from both sides of at least one gap

    bool isGap() const { return count == 0; }

    // One reading; NaN gives a gap.
    static TrendRecord reading(qint64 timeMs, double value)
    {
        TrendRecord r;
        r.firstMs = r.lastMs = timeMs;
        if (value == value) {
            r.min = r.max = r.first = r.last = value;
            r.count = 1;
        }
        return r;
    }
};
