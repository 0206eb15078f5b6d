#pragma once

#include "chart/trendchannel.h"

#include <QString>
#include <memory>

// Reads a measurement file back for a chart: the ten header lines give the
// channel's identity, type and unit; each data line "date;time;value[;sample;
// deviation]" gives a reading (decimal comma, "---" for a failed reading; an
// empty date or time marks a failed reading without a time, shown as a gap
// after the reading before it). Header fields may be wrapped in the
// separators configured now, or in quotes and apostrophes as other settings
// may have left them. Text after the last line end is a line still being
// written and is left out.
class MeasurementFileReader
{
public:
    struct Result
    {
        // The file's channel with its readings; null when the file cannot be
        // read or is no measurement file.
        std::shared_ptr<TrendChannel> channel;
        // Empty when every line was taken; otherwise one sentence for the
        // operator naming the file and the line.
        QString problem;
        int readings = 0;     // data lines taken (failed readings included)
        int damagedLines = 0; // data lines left out as unreadable (each leaves a gap)
    };

    static Result read(const QString &path, const QString &firstSplit, const QString &lastSplit);
};
