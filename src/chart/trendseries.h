#pragma once

#include "chart/trendrecord.h"

#include <QVector>

// One channel's readings over a whole run in bounded memory.
//
// The newest readings are kept as they came (up to `recentCapacity`). Older
// ones move into the history, where readings of one time cell are summed up
// in one record (first, last, minimum, maximum). Cells are aligned to the
// epoch and their width doubles whenever the history outgrows
// `historyCapacity`, so it always keeps between half and all of that many
// records over the whole run: every screen column of a whole-run view up to
// historyCapacity / 2 columns wide gets the true minimum and maximum of its
// interval, and a spike never disappears.
//
// A failed reading (NaN) is a gap. Records never reach across a gap: a cell
// keeps data, gap, data apart. Only a cell with two gaps or more at the
// current width is folded into one record marked interrupted (drawn without
// joins), which keeps memory bounded for a sensor that fails every other
// reading while still showing the breaks.
//
// A pause in the readings is a gap as well: a channel whose device was not
// found, that the operator hid, or that was not measured between two runs
// has no readings there, and the line must not invent a trend across it.
// A pause is a spacing between two readings longer than `PauseFactor` times
// the channel's usual spacing (the lower median of its last few spacings
// since its last pause), and longer than `MinPauseMs`; any spacing longer
// than `MaxPauseMs` is one. After a pause the channel may run at another
// interval, so its usual spacing is learnt afresh: a spacing with nothing to
// judge it by (the first after a pause, or a channel's very first) that is
// longer than MinPauseMs is shown as a break until the next spacing shows it
// was the channel's normal one. A pause is kept as a gap record at the time
// of the reading before it (none is needed after a failed reading).
class TrendSeries
{
public:
    static constexpr int DefaultRecentCapacity = 2048;
    static constexpr int DefaultHistoryCapacity = 4096;
    static constexpr qint64 InitialCellMs = 1000;
    static constexpr int PauseFactor = 3;
    // Below this, a late cycle (a slow bus, a repeated search) is no pause.
    static constexpr qint64 MinPauseMs = 10 * 1000;
    // Longer is a pause whatever the channel's spacing: three times the
    // longest measurement interval (300 s).
    static constexpr qint64 MaxPauseMs = 15 * 60 * 1000;
    static constexpr int SpacingsKept = 5;

    explicit TrendSeries(int recentCapacity = DefaultRecentCapacity,
                         int historyCapacity = DefaultHistoryCapacity);

    // Adds a reading. Times must not go back: an earlier time is taken as
    // the latest time so far (the order of the readings is kept). A pause
    // since the reading before puts a gap between the two.
    void append(qint64 timeMs, double value);

    bool isEmpty() const { return size() == 0; }
    // Time of the first and of the last reading (0 when empty).
    qint64 firstMs() const;
    qint64 lastMs() const;
    // Readings appended so far, failed ones included.
    quint64 readingCount() const { return m_readingCount; }

    // The records in time order: the history, then each recent reading.
    int size() const { return m_history.size() + m_recent.size(); }
    TrendRecord record(int index) const;
    // Index of the first record that ends at or after `timeMs` (size() if none).
    int lowerBound(qint64 timeMs) const;
    // Width of the history's cells (the resolution of its older part).
    qint64 cellMs() const { return m_cellMs; }
    // Bytes held for the readings, reserved space included.
    qint64 memoryBytes() const;

    // What one screen column of a view shows.
    struct Column
    {
        bool hasData = false;
        bool joined = false; // draw a line from the previous column with data
        bool gap = false;    // a gap (or an interrupted record) touches the column
        double min = 0, max = 0, first = 0, last = 0;
    };
    // The view [fromMs, toMs) cut into `count` equal columns. A record wider
    // than a column gives each column it covers its minimum and maximum.
    QVector<Column> columns(qint64 fromMs, qint64 toMs, int count) const;

    // The record under `timeMs`: the one containing it, else the nearer of
    // the two around it when the line joins them; -1 elsewhere (before the
    // first or after the last reading, or inside a gap).
    int recordAt(qint64 timeMs) const;

private:
    struct Reading
    {
        qint64 ms;
        double value;
    };

    void push(const Reading &reading);
    // Decides whether `spacingMs` (> 0) since the last reading is a pause,
    // before the reading after it is pushed.
    void judgeSpacing(qint64 spacingMs);
    void noteSpacing(qint64 spacingMs);
    qint64 usualSpacingMs() const;
    static qint64 pauseLimitMs(qint64 usualSpacingMs);
    void moveOldestToHistory(int n);
    void compact();
    qint64 cellOf(qint64 ms) const;
    // Puts `rec` after records[0, end), merged into the last record where
    // the rules allow; returns the new end (never more than end + 1).
    int place(TrendRecord *records, int end, const TrendRecord &rec) const;

    int m_recentCapacity;
    int m_historyCapacity;
    qint64 m_cellMs = InitialCellMs;
    quint64 m_readingCount = 0;
    QVector<TrendRecord> m_history;
    QVector<Reading> m_recent;

    // The channel's last spacings since its last pause (a ring).
    qint64 m_spacingsMs[SpacingsKept] = {};
    int m_spacingCount = 0;
    int m_nextSpacing = 0;
    // A spacing right after a pause waiting for the next one to judge it
    // (0: none), and the index in m_recent of the gap put in for it (-1:
    // none, or already in the history).
    qint64 m_unconfirmedMs = 0;
    int m_unconfirmedGap = -1;
};
