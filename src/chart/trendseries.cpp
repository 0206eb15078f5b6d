#include "chart/trendseries.h"

#include <QtMath>
#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// Grows `v` so that one more element fits, never reserving beyond `limit`
// elements (the default growth could double a full buffer's memory).
template <typename T>
void makeRoom(QVector<T> &v, int limit)
{
    if (v.size() < v.capacity())
        return;
    v.reserve(qMin(qMax(16, v.capacity() * 2), limit));
}

qint64 floorDiv(qint64 a, qint64 b)
{
    const qint64 q = a / b;
    return (a % b != 0 && a < 0) ? q - 1 : q;
}

void absorb(TrendRecord &into, const TrendRecord &next)
{
    into.lastMs = next.lastMs;
    if (next.isGap())
        return;
    if (into.isGap()) {
        into.min = next.min;
        into.max = next.max;
        into.first = next.first;
    } else {
        into.min = qMin(into.min, next.min);
        into.max = qMax(into.max, next.max);
    }
    into.last = next.last;
    into.count += next.count;
    into.interrupted = into.interrupted || next.interrupted;
}

} // namespace

TrendSeries::TrendSeries(int recentCapacity, int historyCapacity)
    : m_recentCapacity(qMax(2, recentCapacity))
    , m_historyCapacity(qMax(8, historyCapacity))
{
}

qint64 TrendSeries::cellOf(qint64 ms) const
{
    return floorDiv(ms, m_cellMs);
}

void TrendSeries::append(qint64 timeMs, double value)
{
    if (!isEmpty()) {
        timeMs = qMax(timeMs, lastMs());
        if (timeMs > lastMs())
            judgeSpacing(timeMs - lastMs());
    }
    push({timeMs, value});
    ++m_readingCount;
}

void TrendSeries::push(const Reading &reading)
{
    if (m_recent.size() >= m_recentCapacity)
        moveOldestToHistory(m_recentCapacity / 2);
    makeRoom(m_recent, m_recentCapacity);
    m_recent.append(reading);
}

qint64 TrendSeries::pauseLimitMs(qint64 usualSpacingMs)
{
    return qBound(MinPauseMs, PauseFactor * usualSpacingMs, MaxPauseMs);
}

qint64 TrendSeries::usualSpacingMs() const
{
    // The lower median: one late cycle does not lengthen it.
    qint64 spacings[SpacingsKept] = {};
    std::copy(m_spacingsMs, m_spacingsMs + m_spacingCount, spacings);
    qint64 *middle = spacings + (m_spacingCount - 1) / 2;
    std::nth_element(spacings, middle, spacings + m_spacingCount);
    return *middle;
}

void TrendSeries::noteSpacing(qint64 spacingMs)
{
    m_spacingsMs[m_nextSpacing] = spacingMs;
    m_nextSpacing = (m_nextSpacing + 1) % SpacingsKept;
    m_spacingCount = qMin(m_spacingCount + 1, SpacingsKept);
}

void TrendSeries::judgeSpacing(qint64 spacingMs)
{
    if (m_unconfirmedMs > 0) {
        // The channel runs at the spacing it had after the pause: no break there.
        if (m_unconfirmedMs <= pauseLimitMs(spacingMs)) {
            if (m_unconfirmedGap >= 0)
                m_recent.remove(m_unconfirmedGap);
            noteSpacing(m_unconfirmedMs);
        }
        m_unconfirmedMs = 0;
        m_unconfirmedGap = -1;
    }

    // No spacing up to MinPauseMs is a pause: the usual one is not needed.
    const bool judged = m_spacingCount > 0;
    if (spacingMs <= MinPauseMs || (judged && spacingMs <= pauseLimitMs(usualSpacingMs()))) {
        noteSpacing(spacingMs);
        return;
    }
    m_spacingCount = 0;
    m_nextSpacing = 0;
    if (!judged && spacingMs <= MaxPauseMs)
        m_unconfirmedMs = spacingMs;
    // After a failed reading the line is broken already. (The newest
    // reading is always a recent one.)
    if (std::isnan(m_recent.last().value))
        return;
    push({lastMs(), std::numeric_limits<double>::quiet_NaN()});
    if (m_unconfirmedMs > 0)
        m_unconfirmedGap = m_recent.size() - 1;
}

void TrendSeries::moveOldestToHistory(int n)
{
    m_unconfirmedGap = m_unconfirmedGap >= n ? m_unconfirmedGap - n : -1;
    for (int i = 0; i < n; ++i) {
        const Reading &r = m_recent.at(i);
        makeRoom(m_history, m_historyCapacity + 1);
        m_history.append(TrendRecord());
        const int end = place(m_history.data(), m_history.size() - 1, TrendRecord::reading(r.ms, r.value));
        m_history.resize(end);
        if (m_history.size() > m_historyCapacity)
            compact();
    }
    m_recent.remove(0, n);
}

int TrendSeries::place(TrendRecord *records, int end, const TrendRecord &rec) const
{
    const qint64 cell = cellOf(rec.firstMs);
    if (end > 0) {
        TrendRecord &last = records[end - 1];
        if (cellOf(last.firstMs) == cell && last.isGap() == rec.isGap()) {
            absorb(last, rec);
            return end;
        }
    }
    records[end++] = rec;

    // A cell keeps data, gap, data apart; with more breaks than that it is
    // folded into one record that is drawn without joins.
    int begin = end - 1;
    while (begin > 0 && cellOf(records[begin - 1].firstMs) == cell)
        --begin;
    if (end - begin <= 3)
        return end;
    TrendRecord folded = records[begin];
    for (int i = begin + 1; i < end; ++i)
        absorb(folded, records[i]);
    folded.interrupted = true;
    records[begin] = folded;
    return begin + 1;
}

void TrendSeries::compact()
{
    // One doubling about halves the records; cells kept apart by gaps may
    // need more.
    while (m_history.size() > m_historyCapacity) {
        m_cellMs *= 2;
        // Cells nest, so every record lies inside one new cell; merging in
        // place never writes ahead of the record being read.
        int end = 0;
        for (int i = 0; i < m_history.size(); ++i) {
            const TrendRecord rec = m_history.at(i);
            end = place(m_history.data(), end, rec);
        }
        m_history.resize(end);
    }
}

qint64 TrendSeries::firstMs() const
{
    if (!m_history.isEmpty())
        return m_history.first().firstMs;
    return m_recent.isEmpty() ? 0 : m_recent.first().ms;
}

qint64 TrendSeries::lastMs() const
{
    if (!m_recent.isEmpty())
        return m_recent.last().ms;
    return m_history.isEmpty() ? 0 : m_history.last().lastMs;
}

TrendRecord TrendSeries::record(int index) const
{
    if (index < m_history.size())
        return m_history.at(index);
    const Reading &r = m_recent.at(index - m_history.size());
    return TrendRecord::reading(r.ms, r.value);
}

int TrendSeries::lowerBound(qint64 timeMs) const
{
    const auto h = std::lower_bound(m_history.cbegin(), m_history.cend(), timeMs,
                                    [](const TrendRecord &r, qint64 t) { return r.lastMs < t; });
    if (h != m_history.cend())
        return int(h - m_history.cbegin());
    const auto r = std::lower_bound(m_recent.cbegin(), m_recent.cend(), timeMs,
                                    [](const Reading &x, qint64 t) { return x.ms < t; });
    return m_history.size() + int(r - m_recent.cbegin());
}

qint64 TrendSeries::memoryBytes() const
{
    return qint64(sizeof(*this)) + qint64(m_history.capacity()) * qint64(sizeof(TrendRecord))
        + qint64(m_recent.capacity()) * qint64(sizeof(Reading));
}

QVector<TrendSeries::Column> TrendSeries::columns(qint64 fromMs, qint64 toMs, int count) const
{
    QVector<Column> cols(qMax(0, count));
    if (count <= 0 || toMs <= fromMs || isEmpty())
        return cols;
    const double msPerColumn = double(toMs - fromMs) / count;
    auto columnOf = [&](qint64 ms) {
        return int(qBound(0.0, std::floor(double(ms - fromMs) / msPerColumn), double(count - 1)));
    };

    bool gapPending = false;     // a gap since the last record with values
    bool previousBroken = true;  // that record may not be joined (none, or interrupted)
    int previousColumn = -1;     // the column that record ended in
    const int n = size();
    for (int i = lowerBound(fromMs); i < n; ++i) {
        const TrendRecord rec = record(i);
        if (rec.firstMs >= toMs)
            break;
        const int c0 = columnOf(rec.firstMs);
        const int c1 = columnOf(rec.lastMs);
        if (rec.isGap()) {
            for (int c = c0; c <= c1; ++c)
                cols[c].gap = true;
            gapPending = true;
            continue;
        }
        const double mid = (rec.min + rec.max) / 2;
        for (int c = c0; c <= c1; ++c) {
            Column &col = cols[c];
            const double first = c == c0 ? rec.first : mid;
            const double last = c == c1 ? rec.last : mid;
            if (!col.hasData) {
                col.hasData = true;
                // A column a gap touches joins neither side, so the break
                // shows even where the gap is narrower than a column.
                col.joined = c == c0 ? !(gapPending || previousBroken || rec.interrupted || cols[previousColumn].gap)
                                     : !rec.interrupted;
                col.min = rec.min;
                col.max = rec.max;
                col.first = first;
            } else {
                col.min = qMin(col.min, rec.min);
                col.max = qMax(col.max, rec.max);
            }
            col.last = last;
            if (rec.interrupted)
                col.gap = true;
        }
        gapPending = false;
        previousBroken = rec.interrupted;
        previousColumn = c1;
    }
    return cols;
}

int TrendSeries::recordAt(qint64 timeMs) const
{
    const int next = lowerBound(timeMs);
    if (next >= size())
        return -1;
    const TrendRecord after = record(next);
    if (after.firstMs <= timeMs)
        return after.isGap() ? -1 : next;
    if (next == 0)
        return -1;
    const TrendRecord before = record(next - 1);
    if (before.isGap() || after.isGap() || before.interrupted || after.interrupted)
        return -1;
    return (timeMs - before.lastMs) <= (after.firstMs - timeMs) ? next - 1 : next;
}
