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
    QVector<double> values; // one per second from Start; NaN: failed or none

    // A reading of `value` every second the channel is `present`.
    explicit Week(const std::function<double(int)> &value, const std::function<bool(int)> &present = {})
    {
        values.reserve(WeekS);
        for (int i = 0; i < WeekS; ++i) {
            const bool read = !present || present(i);
            values << (read ? value(i) : NaN);
            if (read)
                series.append(Start + qint64(i) * 1000, values.last());
        }
    }

    // The extremes of the values read in [beginMs, endMs); low > high when none.
    void extremes(qint64 beginMs, qint64 endMs, double *low, double *high) const
    {
        *low = qInf();
        *high = -qInf();
        for (int i = int(qMax<qint64>(0, (beginMs - Start + 999) / 1000)); i < WeekS; ++i) {
            if (Start + qint64(i) * 1000 >= endMs)
                break;
            if (!std::isnan(values.at(i))) {
                *low = qMin(*low, values.at(i));
                *high = qMax(*high, values.at(i));
            }
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

// The readings (not failed) after which the line breaks: reading k is in
// the list when a gap record lies between it and reading k - 1. For series
// small enough to hold every reading as a record of its own.
QVector<int> breaksOf(const TrendSeries &series)
{
    QVector<int> breaks;
    int reading = -1;
    bool gap = false;
    for (int i = 0; i < series.size(); ++i) {
        const TrendRecord r = series.record(i);
        if (!r.isGap() && ++reading > 0 && gap)
            breaks << reading;
        gap = r.isGap();
    }
    return breaks;
}

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
            double low, high;
            week.extremes(from + c * width, from + (c + 1) * width, &low, &high);
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

    void pausesBreakTheLine_data()
    {
        const int hours = 3600;
        QTest::addColumn<QVector<int>>("spacingsS");
        QTest::addColumn<QVector<int>>("breaks");
        QTest::newRow("continuous, a few late cycles") << QVector<int>{3, 3, 3, 7, 3, 9, 3, 3} << QVector<int>{};
        QTest::newRow("device missing for several cycles") << QVector<int>{3, 3, 3, 3, 15, 3, 3} << QVector<int>{5};
        QTest::newRow("missing twice, found once between")
            << QVector<int>{3, 3, 3, 15, 15, 3, 3} << QVector<int>{4, 5};
        QTest::newRow("300 s: one missed reading bridged, three not")
            << QVector<int>{302, 302, 302, 604, 302, 302, 1208, 302, 302} << QVector<int>{7};
        QTest::newRow("after a pause, a spacing over 10 s waits for the next")
            << QVector<int>{302, 302, 302, 1208, 302} << QVector<int>{4, 5};
        QTest::newRow("runs hours apart, 3 s then 300 s")
            << QVector<int>{3, 3, 3, 3, 3 * hours, 300, 300, 300} << QVector<int>{5};
        QTest::newRow("runs hours apart, 300 s then 3 s")
            << QVector<int>{302, 302, 302, 2 * hours, 3, 3, 3} << QVector<int>{4};
        QTest::newRow("a channel's first spacing is learnt") << QVector<int>{60, 60, 60} << QVector<int>{};
        QTest::newRow("a channel's first spacing was a pause") << QVector<int>{600, 3, 3} << QVector<int>{1};
        QTest::newRow("interval lengthened while measuring")
            << QVector<int>{3, 3, 3, 60, 60, 60, 60} << QVector<int>{4};
        QTest::newRow("interval shortened while measuring") << QVector<int>{60, 60, 60, 3, 3, 3} << QVector<int>{};
        QTest::newRow("single readings hours apart")
            << QVector<int>{3, 3, 3 * hours, 3 * hours, 3 * hours, 3, 3} << QVector<int>{3, 4, 5};
        QTest::newRow("never bridged beyond 15 min") << QVector<int>{1000, 1000, 1000} << QVector<int>{1, 2, 3};
    }

    // A pause clearly longer than the channel's usual spacing breaks the
    // line like a failed reading; late cycles and a changed interval do not,
    // beyond the one spacing where the interval changed while measuring.
    void pausesBreakTheLine()
    {
        QFETCH(QVector<int>, spacingsS);
        QFETCH(QVector<int>, breaks);
        TrendSeries series;
        qint64 t = Start;
        series.append(t, 20);
        for (int i = 0; i < spacingsS.size(); ++i) {
            t += qint64(spacingsS.at(i)) * 1000;
            series.append(t, 20 + i + 1);
        }
        QCOMPARE(breaksOf(series), breaks);
        QCOMPARE(series.readingCount(), quint64(spacingsS.size() + 1));
    }

    // A week at 1 s in which the channel is missing now and then: every
    // column still shows the true extremes of the readings in it, memory
    // stays within the same bound, the line breaks at each pause (also one
    // narrower than a column) and nowhere else; a missing reading or five
    // are no pause.
    void pausesSurviveTheReduction()
    {
        struct Absence
        {
            int from, seconds;
        };
        const QVector<Absence> absences{{100000, 600}, {300000, 4 * 3600}, {450000, 20}, {500000, 5}, {520000, 1}};
        Week week(wave, [&](int i) {
            for (const Absence &a : absences) {
                if (i >= a.from && i < a.from + a.seconds)
                    return false;
            }
            return true;
        });
        const TrendSeries &series = week.series;
        QVERIFY2(series.memoryBytes() < 300 * 1024, qPrintable(QString::number(series.memoryBytes())));
        for (int i = 0; i < series.size(); ++i)
            QVERIFY(!series.record(i).interrupted);

        qint64 from = 0, width = 0;
        const QVector<TrendSeries::Column> cols = week.columns(1500, &from, &width);
        for (int c = 0; c < cols.size(); ++c) {
            double low, high;
            week.extremes(from + c * width, from + (c + 1) * width, &low, &high);
            QCOMPARE(cols.at(c).hasData, low <= high);
            if (cols.at(c).hasData) {
                QCOMPARE(cols.at(c).min, low);
                QCOMPARE(cols.at(c).max, high);
            }
        }
        int breaks = 0;
        for (int c = 1; c < cols.size(); ++c)
            breaks += cols.at(c).hasData && !cols.at(c).joined ? 1 : 0;
        QCOMPARE(breaks, 3);
        for (int a = 0; a < 3; ++a) {
            const qint64 before = Start + qint64(absences.at(a).from - 1) * 1000;
            const qint64 after = before + qint64(absences.at(a).seconds + 1) * 1000;
            QCOMPARE(series.recordAt((before + after) / 2), -1);
            const int at = series.lowerBound(after);
            QCOMPARE(series.record(at).firstMs, after);
            QVERIFY(series.record(at - 1).isGap());
            QCOMPARE(series.record(at - 2).lastMs, before);
            int next = int((before - from) / width) + 1;
            while (!cols.at(next).hasData)
                ++next;
            QVERIFY(!cols.at(next).joined);
        }
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
