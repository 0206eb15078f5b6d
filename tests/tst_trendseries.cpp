#include "chart/trendseries.h"

#include <QtTest>
#include <cmath>
#include <functional>
#include <limits>

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

// No reading at all in that second (the channel was not found).
const double Absent = qInf();

qint64 msOf(int second)
{
    return Start + qint64(second) * 1000;
}

// A week of readings from Start, one a second: `value(i)` is second i's
// reading, NaN when it failed, Absent when there was none. Beside the store
// it keeps what a correct one must show: the values, and where the line must
// break (a failed reading, or the reading before a pause).
struct Week
{
    explicit Week(const std::function<double(int)> &value)
    {
        values.reserve(WeekS);
        for (int i = 0; i < WeekS; ++i) {
            values << value(i);
            if (values.last() != Absent)
                series.append(msOf(i), values.last());
        }
        breaksBefore.fill(0, WeekS + 1);
        int next = WeekS; // the next second with a reading
        for (int i = WeekS - 1; i >= 0; --i) {
            const bool read = values.at(i) != Absent;
            const bool pause = read && next < WeekS && (next - i) * 1000LL > TrendSeries::MinPauseMs;
            breaksBefore[i + 1] = read && (std::isnan(values.at(i)) || pause) ? 1 : 0;
            next = read ? i : next;
        }
        for (int i = 0; i < WeekS; ++i)
            breaksBefore[i + 1] += breaksBefore[i];
    }

    // Breaks in the seconds [from, to).
    int breaks(int from, int to) const { return breaksBefore.at(to) - breaksBefore.at(from); }
    bool good(int i) const { return values.at(i) != Absent && !std::isnan(values.at(i)); }

    TrendSeries series;
    QVector<double> values;
    QVector<int> breaksBefore; // breaks in the seconds before each second
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

Q_DECLARE_METATYPE(std::function<double(int)>)

// The trend store: what a chart shows of a long run in bounded memory.
class TstTrendSeries : public QObject
{
    Q_OBJECT
private slots:
    void aWeekAtOneSecond_data()
    {
        QTest::addColumn<std::function<double(int)>>("value");
        QTest::addColumn<bool>("fewBreaks");
        QTest::newRow("a slow wave with two spikes") << std::function<double(int)>(wave) << true;
        QTest::newRow("failed now and then") << std::function<double(int)>([](int i) {
            return QVector<int>{50000, 50001, 300000, 500000, WeekS - 10}.contains(i) ? NaN : wave(i);
        }) << true;
        QTest::newRow("every other reading failed")
            << std::function<double(int)>([](int i) { return i % 2 ? NaN : wave(i); }) << false;
        // Missing for 10 minutes, 4 hours and 20 s: pauses; for 5 s or 1 s: no pause.
        QTest::newRow("missing now and then") << std::function<double(int)>([](int i) {
            for (const QPair<int, int> &absent : {qMakePair(100000, 600), qMakePair(300000, 4 * 3600),
                                                  qMakePair(450000, 20), qMakePair(500000, 5), qMakePair(520000, 1)}) {
                if (i >= absent.first && i < absent.first + absent.second)
                    return Absent;
            }
            return wave(i);
        }) << true;
    }

    // A week at 1 s stays within the memory bound, and a whole-run view of
    // about 1500 columns made of whole cells shows in every column exactly
    // the minimum and maximum of its readings (spikes included), marks
    // exactly the columns that hold a failed reading or the start of a
    // pause, and joins a column to the one before exactly when neither a
    // failure nor a pause lies between them (also one narrower than a
    // column). Where breaks are few, each is a gap record of its own between
    // the readings around it, and no record reaches across one.
    void aWeekAtOneSecond()
    {
        QFETCH(std::function<double(int)>, value);
        QFETCH(bool, fewBreaks);
        const Week week(value);
        const TrendSeries &series = week.series;
        QCOMPARE(series.readingCount(), quint64(WeekS - week.values.count(Absent)));
        QVERIFY(series.size() <= TrendSeries::DefaultHistoryCapacity + TrendSeries::DefaultRecentCapacity);
        QVERIFY2(series.memoryBytes() < 300 * 1024, qPrintable(QString::number(series.memoryBytes())));
        // The whole run is kept at a resolution finer than a wide screen's columns.
        QVERIFY(series.size() >= 2000);

        const qint64 from = series.firstMs() / series.cellMs() * series.cellMs(); // times are after 1970
        const qint64 width = qMax<qint64>(1, (series.lastMs() + 1 - from) / 1500 / series.cellMs()) * series.cellMs();
        const int count = int((series.lastMs() + 1 - from + width - 1) / width);
        const QVector<TrendSeries::Column> cols = series.columns(from, from + count * width, count);
        auto secondAt = [&](qint64 ms) { return int(qBound<qint64>(0, (ms - Start + 999) / 1000, WeekS)); };
        int withData = 0, previousBegin = -1;
        for (int c = 0; c < cols.size(); ++c) {
            const int begin = secondAt(from + c * width), end = secondAt(from + (c + 1) * width);
            double low = qInf(), high = -qInf();
            int firstGood = -1;
            for (int i = begin; i < end; ++i) {
                if (week.good(i)) {
                    low = qMin(low, week.values.at(i));
                    high = qMax(high, week.values.at(i));
                    firstGood = firstGood < 0 ? i : firstGood;
                }
            }
            const QString at = QStringLiteral("column %1").arg(c);
            QVERIFY2(cols.at(c).hasData == (firstGood >= 0), qPrintable(at));
            QVERIFY2(cols.at(c).gap == (week.breaks(begin, end) > 0), qPrintable(at));
            if (firstGood < 0)
                continue;
            QVERIFY2(cols.at(c).min == low && cols.at(c).max == high, qPrintable(at));
            QVERIFY2(cols.at(c).joined == (previousBegin >= 0 && week.breaks(previousBegin, firstGood) == 0), qPrintable(at));
            previousBegin = begin;
            ++withData;
        }
        QVERIFY(withData > 1000);

        // The newest reading is still there on its own.
        const TrendRecord newest = series.record(series.size() - 1);
        QCOMPARE(newest.firstMs, msOf(WeekS - 1));
        QVERIFY(newest.isGap() ? std::isnan(week.values.last()) : newest.count == 1 && newest.min == week.values.last());
        if (!fewBreaks)
            return;
        for (int i = 0; i < series.size(); ++i)
            QVERIFY(!series.record(i).interrupted);
        for (int a = -1, b = 0; b < WeekS; ++b) {
            if (!week.good(b))
                continue;
            if (a >= 0 && week.breaks(a, b) > 0) {
                const QString around = QStringLiteral("between seconds %1 and %2").arg(a).arg(b);
                const int k = series.lowerBound(msOf(b));
                QVERIFY2(series.record(k).firstMs == msOf(b) && series.record(k - 1).isGap()
                             && series.record(k - 2).lastMs == msOf(a),
                         qPrintable(around));
                QVERIFY2(series.recordAt((msOf(a) + msOf(b)) / 2) == -1, qPrintable(around));
            }
            a = b;
        }
    }

    // NaN is a gap as a recent reading, in the columns and under the cursor,
    // never a zero (in the history: the week with every other one failed).
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

        // Per column: gap, data, joined to the one before.
        QStringList cols;
        for (const TrendSeries::Column &c : recent.columns(Start, Start + 8 * 60000, 8))
            cols << QStringLiteral("%1%2%3").arg(int(c.gap)).arg(int(c.hasData)).arg(int(c.hasData && c.joined));
        QCOMPARE(cols.join(QLatin1Char(' ')), QString("010 100 100 010 011 100 010 011"));
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
};

QTEST_GUILESS_MAIN(TstTrendSeries)
#include "tst_trendseries.moc"
