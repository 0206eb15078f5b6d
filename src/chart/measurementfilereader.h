#pragma once

#include "chart/trendchannel.h"

#include <QString>
#include <atomic>
#include <functional>
#include <memory>

// Reads a measurement file back for a chart: the ten header lines give the
// channel's identity, type and unit; each data line "date;time;value[;sample;
// deviation]" gives a reading (decimal comma, "---" for a failed reading; an
// empty date or time marks a failed reading without a time, shown as a gap
// after the reading before it). Header fields may be wrapped in the
// separators configured now, or in quotes and apostrophes as other settings
// may have left them. Text after the last line end is a line still being
// written and is left out.
//
// Touches no widgets and nothing shared: a chart reads its files on a thread
// of its own, watching Progress and able to stop the read through it.
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
        bool cancelled = false; // stopped through Progress::cancel (no channel then)
    };

    // Shared between the reading thread and whoever watches it.
    struct Progress
    {
        std::atomic<qint64> totalBytes{0}; // the file's size, once it is open
        std::atomic<qint64> doneBytes{0};  // read so far
        std::atomic<bool> cancel{false};   // set by the watcher: the read stops soon
    };

    static Result read(const QString &path, const QString &firstSplit, const QString &lastSplit,
                       Progress *progress = nullptr);

    // The file's channel (identity, type and unit) from its header alone,
    // with no readings: for finding the files of a channel among many.
    static Result readHeader(const QString &path, const QString &firstSplit, const QString &lastSplit);

    // Every reading with a time, in the file's line order, handed to
    // `take(ms since the epoch, value)` (NaN: a failed reading) as it is
    // read, with nothing kept; lines without a time and damaged lines are
    // counted in the result as read() counts them. The result's channel has
    // no readings. From `fromByte` > 0 on (where an earlier call's *endByte
    // said its last whole line ended) only the lines added since are read,
    // and the header is not (no channel then). *endByte: where the first
    // line not yet whole begins.
    using Take = std::function<void(qint64 ms, double value)>;
    static Result readEach(const QString &path, const QString &firstSplit, const QString &lastSplit,
                           const Take &take, qint64 fromByte = 0, qint64 *endByte = nullptr);
};
