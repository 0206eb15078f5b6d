#include "chart/trendarchive.h"
#include "chart/trendseries.h"
#include "platform/clock.h"
#include "support/tablesupport.h"

#include <QtTest>
#include <cmath>
#include <limits>
#include <memory>

namespace {

const double NaN = std::numeric_limits<double>::quiet_NaN();
const qint64 Start = QDateTime(QDate(2025, 1, 27), QTime(14, 3, 5)).toMSecsSinceEpoch();
const int WeekS = 7 * 24 * 3600;

// A slow wave with two spikes, one reading a second.
double wave(int i)
{
    if (i == 123457)
        return 99.0;
    if (i == 400001)
        return -50.0;
    return 20.0 + 5.0 * std::sin(i / 3000.0) + 0.01 * (i % 7);
}

qint64 floorTo(qint64 ms, qint64 step)
{
    return (ms / step) * step - ((ms % step) < 0 ? step : 0);
}

struct Week
{
    TrendSeries series;
    QVector<double> values; // one per second from Start

    explicit Week(const std::function<double(int)> &value)
    {
        values.reserve(WeekS);
        for (int i = 0; i < WeekS; ++i) {
            values << value(i);
            series.append(Start + qint64(i) * 1000, values.last());
        }
    }

    // Columns of whole history cells over the whole run, about `target` of them.
    QVector<TrendSeries::Column> columns(int target, qint64 *from, qint64 *width) const
    {
        const qint64 cell = series.cellMs();
        *from = floorTo(series.firstMs(), cell);
        const qint64 span = series.lastMs() + 1 - *from;
        *width = qMax<qint64>(1, span / target / cell) * cell;
        const int count = int((span + *width - 1) / *width);
        return series.columns(*from, *from + count * *width, count);
    }
};

} // namespace

// The trend store: what a chart shows of a long run in bounded memory.
class TstTrendSeries : public QObject
{
    Q_OBJECT
private slots:
    // A week at 1 s: every column made of whole cells shows exactly the
    // minimum and maximum of the readings in its interval, spikes included,
    // and the store stays within its bound.
    void everyIntervalKeepsItsExtremes()
    {
        Week week(wave);
        QCOMPARE(week.series.readingCount(), quint64(WeekS));
        QVERIFY(week.series.size() <= TrendSeries::DefaultHistoryCapacity + TrendSeries::DefaultRecentCapacity);
        QVERIFY2(week.series.memoryBytes() < 300 * 1024, qPrintable(QString::number(week.series.memoryBytes())));
        // The whole run is kept at a resolution finer than a wide screen's columns.
        QVERIFY(week.series.size() >= 2000);

        qint64 from = 0, width = 0;
        const QVector<TrendSeries::Column> cols = week.columns(1500, &from, &width);
        int checked = 0;
        for (int c = 0; c < cols.size(); ++c) {
            const qint64 begin = from + c * width;
            double low = qInf(), high = -qInf();
            for (int i = int(qMax<qint64>(0, (begin - Start + 999) / 1000)); i < WeekS; ++i) {
                if (Start + qint64(i) * 1000 >= begin + width)
                    break;
                low = qMin(low, week.values.at(i));
                high = qMax(high, week.values.at(i));
            }
            QCOMPARE(cols.at(c).hasData, low <= high);
            if (!cols.at(c).hasData)
                continue;
            QCOMPARE(cols.at(c).min, low);
            QCOMPARE(cols.at(c).max, high);
            QVERIFY(c == 0 || cols.at(c).joined);
            ++checked;
        }
        QVERIFY(checked > 1000);
        double top = -qInf(), bottom = qInf();
        for (const TrendSeries::Column &col : cols) {
            top = qMax(top, col.max);
            bottom = qMin(bottom, col.min);
        }
        QCOMPARE(top, 99.0);
        QCOMPARE(bottom, -50.0);

        // The newest readings are still there one by one.
        const TrendRecord newest = week.series.record(week.series.size() - 1);
        QCOMPARE(newest.firstMs, Start + qint64(WeekS - 1) * 1000);
        QCOMPARE(newest.count, quint32(1));
        QCOMPARE(newest.min, week.values.last());
    }

    // Failed readings spread over a week survive every reduction as gaps of
    // their own: no record holds values from both sides, and the drawn line
    // breaks at each of them, also where a gap is narrower than a column.
    void gapsAreNeverBridged()
    {
        const QVector<int> failed{50000, 50001, 300000, 500000, WeekS - 10};
        Week week([&](int i) { return failed.contains(i) ? NaN : wave(i); });
        for (int i : failed) {
            const qint64 t = Start + qint64(i) * 1000;
            const int at = week.series.lowerBound(t);
            const TrendRecord gap = week.series.record(at);
            QVERIFY2(gap.isGap() && gap.firstMs <= t && gap.lastMs >= t, qPrintable(QString::number(i)));
            QVERIFY(at > 0 && at + 1 < week.series.size());
            const TrendRecord before = week.series.record(at - 1), after = week.series.record(at + 1);
            QVERIFY(!before.isGap() && !after.isGap());
            QVERIFY(before.lastMs < gap.firstMs && after.firstMs > gap.lastMs);
        }
        for (int i = 0; i < week.series.size(); ++i)
            QVERIFY(!week.series.record(i).interrupted);

        qint64 from = 0, width = 0;
        const QVector<TrendSeries::Column> cols = week.columns(1500, &from, &width);
        for (int i : failed) {
            const int c = int((Start + qint64(i) * 1000 - from) / width);
            QVERIFY(cols.at(c).gap);
            int next = c + 1;
            while (next < cols.size() && !cols.at(next).hasData)
                ++next;
            if (next < cols.size())
                QVERIFY2(!cols.at(next).joined, qPrintable(QString::number(i)));
        }
        // Elsewhere the line is whole.
        int breaks = 0;
        for (int c = 1; c < cols.size(); ++c)
            breaks += cols.at(c).joined ? 0 : 1;
        QVERIFY(breaks <= failed.size());
    }

    // NaN is a gap at every stage: as a recent reading, in the columns,
    // under the cursor and after moving into the history; never a zero.
    void failedReadingsStayGaps()
    {
        TrendSeries recent;
        const double values[] = {5, NaN, NaN, 7, 6, NaN, 8, 9};
        for (int i = 0; i < 8; ++i)
            recent.append(Start + i * 60000, values[i]);
        QCOMPARE(recent.size(), 8);
        for (int i = 0; i < 8; ++i)
            QCOMPARE(recent.record(i).isGap(), std::isnan(values[i]));
        QCOMPARE(recent.recordAt(Start + 60000), -1);
        QCOMPARE(recent.recordAt(Start + 5 * 60000), -1);
        // Between two readings the cursor takes the nearer one, never across a gap.
        QCOMPARE(recent.record(recent.recordAt(Start + 3 * 60000 + 20000)).min, 7.0);
        QCOMPARE(recent.record(recent.recordAt(Start + 3 * 60000 + 40000)).min, 6.0);
        QCOMPARE(recent.recordAt(Start + 4 * 60000 + 40000), -1);
        QCOMPARE(recent.recordAt(Start + 9 * 60000), -1);

        const QVector<TrendSeries::Column> cols = recent.columns(Start, Start + 8 * 60000, 8);
        QVERIFY(cols.at(1).gap && !cols.at(1).hasData);
        QVERIFY(cols.at(3).hasData && !cols.at(3).joined);
        QVERIFY(cols.at(4).joined);
        QVERIFY(cols.at(6).hasData && !cols.at(6).joined);
        QVERIFY(cols.at(7).joined);

        // Squeezed into a tiny history: every failed reading's time still
        // lies in a gap or in a record marked as broken by one.
        TrendSeries small(4, 8);
        for (int i = 0; i < 200; ++i)
            small.append(Start + i * 1000, i % 10 == 3 ? NaN : 5 + (i % 5));
        QVERIFY(small.cellMs() > 1000);
        for (int i = 3; i < 200; i += 10) {
            const TrendRecord r = small.record(small.lowerBound(Start + i * 1000));
            QVERIFY(r.firstMs <= Start + i * 1000);
            QVERIFY2(r.isGap() || r.interrupted, qPrintable(QString::number(i)));
        }
        for (int i = 0; i < small.size(); ++i) {
            const TrendRecord r = small.record(i);
            QVERIFY(r.isGap() ? std::isnan(r.min) : (r.min >= 5 && r.max <= 9));
        }
    }

    // A sensor that fails every other second for a week: memory stays
    // within the same bound, and every stretch still shows as broken.
    void everyOtherReadingFailedStaysBounded()
    {
        Week week([](int i) { return i % 2 ? NaN : wave(i); });
        QVERIFY2(week.series.memoryBytes() < 300 * 1024, qPrintable(QString::number(week.series.memoryBytes())));
        qint64 from = 0, width = 0;
        const QVector<TrendSeries::Column> cols = week.columns(1500, &from, &width);
        int data = 0;
        for (const TrendSeries::Column &col : cols) {
            if (!col.hasData)
                continue;
            ++data;
            QVERIFY(col.gap);
            QVERIFY(!col.joined);
            QVERIFY(col.min >= 14.9 && col.max <= 99.0);
        }
        QVERIFY(data > 1000);
    }

    // Times that go back (a clock set back) keep the readings in order.
    void timeNeverGoesBack()
    {
        TrendSeries series(4, 8);
        series.append(Start + 5000, 1);
        series.append(Start + 1000, 2);
        series.append(Start + 6000, 3);
        QCOMPARE(series.record(1).firstMs, Start + 5000);
        QCOMPARE(series.lastMs(), Start + 6000);
    }

    // The archive over a simulated week in virtual time, one reading a
    // second per channel: its memory stops growing after the first stretch
    // and stays far below what a hundred channels may take.
    void archiveMemoryBoundedOverAWeek()
    {
        Clock::setVirtual(QDateTime(QDate(2025, 1, 27), QTime(14, 3, 5)));
        TrendArchive &archive = TrendArchive::instance();
        archive.resetForTest();
        const int channels = 4;
        std::vector<std::unique_ptr<SensorDevice>> devices;
        for (int d = 0; d < channels; ++d) {
            devices.emplace_back(TableSupport::makeDevice(0x2800000000000000ULL + quint64(d + 1) * 0x100));
            devices.back()->channels.append(TableSupport::channel(20));
        }
        // Reading times in UTC: the same instants as the local clock, without
        // a time-zone lookup per reading.
        const qint64 startMs = Clock::now().toMSecsSinceEpoch() - Clock::tickMs();
        qint64 afterDay = 0;
        for (int s = 0; s < WeekS; ++s) {
            Clock::advanceMs(1000);
            const QDateTime now = QDateTime::fromMSecsSinceEpoch(startMs + Clock::tickMs(), Qt::UTC);
            for (auto &device : devices) {
                SensorChannel &channel = device->channels[0];
                channel.value = (s % 997 == 0) ? NaN : wave(s);
                channel.time = now;
                channel.markFilled();
                archive.record(*device, 0);
            }
            if (s == 24 * 3600)
                afterDay = archive.memoryBytes();
        }
        QCOMPARE(archive.channels().size(), channels);
        const qint64 perChannel = archive.memoryBytes() / channels;
        qInfo("trend memory after a week at 1 s: %lld bytes per channel (after one day: %lld)", perChannel,
              afterDay / channels);
        QVERIFY(archive.memoryBytes() <= afterDay * 5 / 4);
        QVERIFY(perChannel * 100 < 32LL * 1024 * 1024);
        const TrendSeries &series = *archive.channels().first()->series;
        QCOMPARE(series.readingCount(), quint64(WeekS));
        QCOMPARE(series.lastMs(), Clock::now().toMSecsSinceEpoch());
        archive.resetForTest();
    }
};

QTEST_GUILESS_MAIN(TstTrendSeries)
#include "tst_trendseries.moc"
