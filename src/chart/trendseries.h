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
class TrendSeries
{
public:
    static constexpr int DefaultRecentCapacity = 2048;
    static constexpr int DefaultHistoryCapacity = 4096;
    static constexpr qint64 InitialCellMs = 1000;

    explicit TrendSeries(int recentCapacity = DefaultRecentCapacity,
                         int historyCapacity = DefaultHistoryCapacity);

    // Adds a reading. Times must not go back: an earlier time is taken as
    // the latest time so far (the order of the readings is kept).
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
};
