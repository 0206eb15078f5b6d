#include "gui/trendplot.h"

#include "base/clock.h"
#include "table/nosample.h"
#include "table/recorder.h"

#include <QCoreApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QRubberBand>
#include <QWheelEvent>
#include <QtMath>
#include <cmath>
#include <limits>

namespace {

const int AxisWidth = 64;
const int SideGap = 10;
const int TopMargin = 26;
const int BottomMargin = 44;
const int LegendRowHeight = 18;
const qint64 SecondMs = 1000;
const qint64 DayMs = 24 * 3600 * SecondMs;
const qint64 MinSpanMs = 2 * SecondMs;
const qint64 MaxSpanMs = 100LL * 366 * DayMs;

const QColor Sample0Color(170, 0, 0);
const QColor Sample1Color(0, 60, 170);
const QColor BandColor(255, 215, 0, 50);
const QColor GridColor(228, 228, 228);

// 1, 2 or 5 times a power of ten, at least `raw`.
double niceStep(double raw)
{
    if (!(raw > 0))
        return 1;
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    const double f = raw / power;
    return (f <= 1 ? 1 : f <= 2 ? 2 : f <= 5 ? 5 : 10) * power;
}

// Decimals needed to tell ticks `step` apart.
int decimalsFor(double step)
{
    return step >= 1 ? 0 : qBound(0, int(std::ceil(-std::log10(step) - 1e-9)), 6);
}

qint64 localMidnightMs(const QDate &date)
{
    return QDateTime(date, QTime(0, 0)).toMSecsSinceEpoch();
}

QString number(double x)
{
    return QString::number(x, 'f', 2);
}

} // namespace

TrendPlot::TrendPlot(QWidget *parent)
    : QWidget(parent)
{
    setMouseTracking(true);
    setMinimumSize(320, 200);
    setAutoFillBackground(false);
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_band = new QRubberBand(QRubberBand::Rectangle, this);
}

void TrendPlot::addLine(const std::shared_ptr<TrendChannel> &channel, const QColor &color)
{
    m_lines.append({channel, color, true});
    update();
}

void TrendPlot::removeLine(int index)
{
    if (index < 0 || index >= m_lines.size())
        return;
    m_lines.remove(index);
    update();
}

void TrendPlot::replaceChannel(int index, const std::shared_ptr<TrendChannel> &channel)
{
    if (index < 0 || index >= m_lines.size() || !channel)
        return;
    m_lines[index].channel = channel;
    update();
}

void TrendPlot::setLineVisible(int index, bool visible)
{
    if (index < 0 || index >= m_lines.size() || m_lines[index].visible == visible)
        return;
    m_lines[index].visible = visible;
    update();
}

void TrendPlot::setSampleSource(std::function<double(int)> source)
{
    m_sampleSource = std::move(source);
    update();
}

double TrendPlot::sample(int which) const
{
    return m_sampleSource ? m_sampleSource(which) : NO_SAMPLE;
}

void TrendPlot::wholeRunRange(qint64 *fromMs, qint64 *toMs) const
{
    bool anyVisible = false;
    for (const Line &line : m_lines)
        anyVisible = anyVisible || (line.visible && !line.channel->series->isEmpty());
    bool found = false;
    qint64 first = 0, last = 0;
    for (const Line &line : m_lines) {
        const TrendSeries &series = *line.channel->series;
        if (series.isEmpty() || (anyVisible && !line.visible))
            continue;
        first = found ? qMin(first, series.firstMs()) : series.firstMs();
        last = found ? qMax(last, series.lastMs()) : series.lastMs();
        found = true;
    }
    if (!found) {
        last = Clock::now().toMSecsSinceEpoch();
        first = last - 3600 * SecondMs;
    }
    const qint64 pad = qMax<qint64>((last - first) / 50, SecondMs);
    *fromMs = first - pad;
    *toMs = last + pad;
    if (*toMs - *fromMs < MinSpanMs) {
        const qint64 middle = (first + last) / 2;
        *fromMs = middle - MinSpanMs / 2;
        *toMs = middle + MinSpanMs / 2;
    }
}

qint64 TrendPlot::viewFromMs() const
{
    if (!m_wholeRun)
        return m_fromMs;
    qint64 from, to;
    wholeRunRange(&from, &to);
    return from;
}

qint64 TrendPlot::viewToMs() const
{
    if (!m_wholeRun)
        return m_toMs;
    qint64 from, to;
    wholeRunRange(&from, &to);
    return to;
}

void TrendPlot::setView(qint64 fromMs, qint64 toMs)
{
    if (toMs < fromMs)
        std::swap(fromMs, toMs);
    const qint64 span = qBound(MinSpanMs, toMs - fromMs, MaxSpanMs);
    const qint64 middle = fromMs + (toMs - fromMs) / 2;
    m_fromMs = middle - span / 2;
    m_toMs = m_fromMs + span;
    m_wholeRun = false;
    m_newestMs = newestMs();
    update();
}

void TrendPlot::showWholeRun()
{
    m_wholeRun = true;
    update();
}

qint64 TrendPlot::newestMs() const
{
    qint64 newest = 0;
    for (const Line &line : m_lines) {
        if (!line.channel->series->isEmpty())
            newest = qMax(newest, line.channel->series->lastMs());
    }
    return newest;
}

void TrendPlot::dataChanged()
{
    const qint64 newest = newestMs();
    if (!m_wholeRun && m_toMs >= m_newestMs && newest > m_newestMs) {
        m_fromMs += newest - m_newestMs;
        m_toMs += newest - m_newestMs;
    }
    m_newestMs = newest;
    if (m_cursorX >= 0)
        setCursorX(m_cursorX);
    update();
}

QStringList TrendPlot::axisUnits() const
{
    QStringList units;
    for (const Line &line : m_lines) {
        if (line.visible && !units.contains(line.channel->unitText()))
            units << line.channel->unitText();
    }
    return units;
}

TrendPlot::Layout TrendPlot::layoutFor(const QRect &bounds) const
{
    Layout layout;
    layout.axisOfLine.fill(-1, m_lines.size());
    const QStringList units = axisUnits();
    for (const QString &unit : units)
        layout.axes.append({unit, 0, 1});
    for (int i = 0; i < m_lines.size(); ++i) {
        if (m_lines.at(i).visible)
            layout.axisOfLine[i] = units.indexOf(m_lines.at(i).channel->unitText());
    }
    const int left = qMax(1, (layout.axes.size() + 1) / 2);
    const int right = layout.axes.size() / 2;
    layout.plot = bounds.adjusted(left * AxisWidth + SideGap, TopMargin, -(right * AxisWidth + 2 * SideGap),
                                  -BottomMargin);
    if (layout.plot.width() < 10)
        layout.plot.setWidth(10);
    if (layout.plot.height() < 10)
        layout.plot.setHeight(10);
    return layout;
}

QRect TrendPlot::plotArea() const
{
    return layoutFor(rect()).plot;
}

qint64 TrendPlot::timeAt(int x) const
{
    const QRect plot = plotArea();
    const qint64 from = viewFromMs();
    const qint64 span = viewToMs() - from;
    return from + qint64(std::llround((x - plot.left() + 0.5) * double(span) / plot.width()));
}

// A reference sample belongs to the channels of its number (0 or 1), which
// may measure different quantities (a thermocouple's cold junction and a
// humidity are both channel 1): it goes on the axis of the unit whose
// latest reading lies nearest to it, never on an axis of another channel
// number, and not at all without a visible line of its number.
int TrendPlot::sampleAxis(const Layout &layout, int which) const
{
    const double value = sample(which);
    int best = -1;
    double bestDistance = std::numeric_limits<double>::infinity();
    for (int i = 0; i < m_lines.size(); ++i) {
        const int axis = layout.axisOfLine.at(i);
        const TrendChannel &channel = *m_lines.at(i).channel;
        if (axis < 0 || channel.subchannel != which)
            continue;
        double distance = std::numeric_limits<double>::max();
        const TrendSeries &series = *channel.series;
        for (int r = series.size() - 1; r >= 0 && r >= series.size() - 64; --r) {
            const TrendRecord rec = series.record(r);
            if (!rec.isGap()) {
                distance = value < rec.min ? rec.min - value : value > rec.max ? value - rec.max : 0.0;
                break;
            }
        }
        if (best < 0 || distance < bestDistance) {
            best = axis;
            bestDistance = distance;
        }
    }
    return best;
}

QString TrendPlot::sampleUnit(int which) const
{
    if (!isSampleSet(sample(which)))
        return QString();
    const Layout layout = layoutFor(rect());
    const int axis = sampleAxis(layout, which);
    return axis < 0 ? QString() : layout.axes.at(axis).unit;
}

void TrendPlot::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    paintChart(painter, rect());
    paintCursor(painter, plotArea());
}

void TrendPlot::paintChart(QPainter &painter, const QRect &bounds) const
{
    painter.fillRect(bounds, Qt::white);
    painter.setFont(font());
    Layout layout = layoutFor(bounds);
    const QRect plot = layout.plot;
    const QVector<QVector<TrendSeries::Column>> columns = fitAxes(layout, viewFromMs(), viewToMs());

    paintTimeAxis(painter, plot);
    paintValueAxes(painter, layout);
    painter.save();
    painter.setClipRect(plot);
    paintSamples(painter, layout);
    painter.setRenderHint(QPainter::Antialiasing, true);
    for (int i = 0; i < m_lines.size(); ++i) {
        if (layout.axisOfLine.at(i) >= 0)
            paintColumns(painter, plot, layout.axes.at(layout.axisOfLine.at(i)), columns.at(i), m_lines.at(i).color);
    }
    painter.restore();
    painter.setPen(Qt::darkGray);
    painter.drawRect(plot.adjusted(0, 0, -1, -1));
    bool anyData = false;
    for (const QVector<TrendSeries::Column> &line : columns) {
        for (int c = 0; c < line.size() && !anyData; ++c)
            anyData = line.at(c).hasData;
    }
    if (m_lines.isEmpty()) {
        painter.setPen(Qt::gray);
        painter.drawText(plot, Qt::AlignCenter,
                         tr("Нет каналов: добавьте канал или откройте файлы измерений"));
    } else if (!anyData) {
        // Every reading failed, or none falls in the view: no empty scale.
        painter.setPen(Qt::gray);
        painter.drawText(plot, Qt::AlignCenter, tr("нет данных"));
    }
}

QVector<QVector<TrendSeries::Column>> TrendPlot::fitAxes(Layout &layout, qint64 fromMs, qint64 toMs) const
{
    QVector<QVector<TrendSeries::Column>> columns(m_lines.size());
    const double inf = std::numeric_limits<double>::infinity();
    QVector<double> lows(layout.axes.size(), inf), highs(layout.axes.size(), -inf);
    for (int i = 0; i < m_lines.size(); ++i) {
        const int axis = layout.axisOfLine.at(i);
        if (axis < 0)
            continue;
        columns[i] = m_lines.at(i).channel->series->columns(fromMs, toMs, layout.plot.width());
        for (const TrendSeries::Column &col : qAsConst(columns[i])) {
            if (!col.hasData)
                continue;
            lows[axis] = qMin(lows[axis], col.min);
            highs[axis] = qMax(highs[axis], col.max);
        }
    }
    for (int which = 0; which < 2; ++which) {
        const int axis = sampleAxis(layout, which);
        if (axis >= 0 && isSampleSet(sample(which))) {
            lows[axis] = qMin(lows[axis], sample(which));
            highs[axis] = qMax(highs[axis], sample(which));
        }
    }
    for (int a = 0; a < layout.axes.size(); ++a) {
        double low = lows.at(a), high = highs.at(a);
        if (low > high) {
            low = 0;
            high = 1;
        } else if (high - low < 1e-9) {
            low -= 0.5;
            high += 0.5;
        } else {
            const double pad = (high - low) * 0.05;
            low -= pad;
            high += pad;
        }
        layout.axes[a].min = low;
        layout.axes[a].max = high;
    }
    return columns;
}

void TrendPlot::paintColumns(QPainter &painter, const QRect &plot, const Axis &axis,
                             const QVector<TrendSeries::Column> &cols, const QColor &color)
{
    const double scale = plot.height() / (axis.max - axis.min);
    const double bottom = plot.top() + plot.height();
    auto y = [&](double v) { return bottom - (v - axis.min) * scale; };
    QVector<QLineF> segments;
    QVector<QPointF> dots;
    int previous = -1;
    bool previousJoined = false;
    for (int c = 0; c < cols.size(); ++c) {
        const TrendSeries::Column &col = cols.at(c);
        if (!col.hasData)
            continue;
        const double x = plot.left() + c + 0.5;
        const bool joined = col.joined && previous >= 0;
        if (joined)
            segments << QLineF(plot.left() + previous + 0.5, y(cols.at(previous).last), x, y(col.first));
        else if (previous >= 0 && !previousJoined && cols.at(previous).min == cols.at(previous).max)
            dots << QPointF(plot.left() + previous + 0.5, y(cols.at(previous).min));
        if (col.max > col.min)
            segments << QLineF(x, y(col.min), x, y(col.max));
        previous = c;
        previousJoined = joined;
    }
    if (previous >= 0 && !previousJoined && cols.at(previous).min == cols.at(previous).max)
        dots << QPointF(plot.left() + previous + 0.5, y(cols.at(previous).min));

    // One-pixel pens take the raster engine's fast path; wider ones go
    // through the stroker and cost about ten times as much.
    painter.setPen(QPen(color, 1.0));
    painter.drawLines(segments);
    painter.setBrush(color);
    painter.setPen(Qt::NoPen);
    for (const QPointF &dot : qAsConst(dots))
        painter.drawEllipse(dot, 2.0, 2.0);
    painter.setBrush(Qt::NoBrush);
}

void TrendPlot::paintTimeAxis(QPainter &painter, const QRect &plot) const
{
    static const qint64 steps[] = {
        SecondMs, 2 * SecondMs, 5 * SecondMs, 10 * SecondMs, 15 * SecondMs, 30 * SecondMs,
        60 * SecondMs, 120 * SecondMs, 300 * SecondMs, 600 * SecondMs, 900 * SecondMs, 1800 * SecondMs,
        3600 * SecondMs, 7200 * SecondMs, 10800 * SecondMs, 21600 * SecondMs, 43200 * SecondMs,
        DayMs, 2 * DayMs, 7 * DayMs, 14 * DayMs, 28 * DayMs, 91 * DayMs, 364 * DayMs, 3640 * DayMs,
    };
    const qint64 from = viewFromMs();
    const qint64 to = viewToMs();
    const double msPerPx = double(to - from) / plot.width();
    qint64 step = steps[sizeof(steps) / sizeof(steps[0]) - 1];
    for (qint64 s : steps) {
        if (s >= msPerPx * 90) {
            step = s;
            break;
        }
    }

    // Ticks on local time: multiples of the step from each local midnight,
    // or every n-th day for steps of a day and more.
    QVector<qint64> ticks;
    const QDate firstDay = QDateTime::fromMSecsSinceEpoch(from).date();
    const QDate lastDay = QDateTime::fromMSecsSinceEpoch(to).date();
    for (QDate day = firstDay; day <= lastDay; day = day.addDays(1)) {
        const qint64 dayStart = localMidnightMs(day);
        if (step >= DayMs) {
            if (day.toJulianDay() % (step / DayMs) == 0 && dayStart >= from && dayStart <= to)
                ticks << dayStart;
            continue;
        }
        const qint64 dayEnd = localMidnightMs(day.addDays(1));
        qint64 t = dayStart + qMax<qint64>(0, (from - dayStart + step - 1) / step) * step;
        for (; t < dayEnd && t <= to; t += step)
            ticks << t;
    }

    const QString format = step < 60 * SecondMs ? QStringLiteral("hh:mm:ss")
        : step < DayMs                          ? QStringLiteral("hh:mm")
                                                : QStringLiteral("dd.MM.yy");
    const QFontMetrics metrics(painter.font());
    const int labelTop = plot.top() + plot.height() + 4;
    QDate shownDay;
    for (qint64 t : qAsConst(ticks)) {
        const int x = plot.left() + int(double(t - from) / msPerPx);
        painter.setPen(GridColor);
        painter.drawLine(x, plot.top(), x, plot.top() + plot.height() - 1);
        painter.setPen(Qt::black);
        painter.drawLine(x, plot.top() + plot.height(), x, plot.top() + plot.height() + 3);
        const QDateTime local = QDateTime::fromMSecsSinceEpoch(t);
        const QString label = local.toString(format);
        painter.drawText(QRect(x - 60, labelTop, 120, metrics.height()), Qt::AlignHCenter | Qt::AlignTop, label);
        if (step < DayMs && local.date() != shownDay) {
            shownDay = local.date();
            painter.drawText(QRect(x - 60, labelTop + metrics.height(), 120, metrics.height()),
                             Qt::AlignHCenter | Qt::AlignTop, shownDay.toString(QStringLiteral("dd.MM.yyyy")));
        }
    }
}

void TrendPlot::paintValueAxes(QPainter &painter, const Layout &layout) const
{
    const QRect plot = layout.plot;
    const QFontMetrics metrics(painter.font());
    const double bottom = plot.top() + plot.height();
    for (int a = 0; a < layout.axes.size(); ++a) {
        const Axis &axis = layout.axes.at(a);
        const bool left = a % 2 == 0;
        const int x = left ? plot.left() - (a / 2) * AxisWidth - 1 : plot.left() + plot.width() + (a / 2) * AxisWidth;
        painter.setPen(Qt::black);
        painter.drawLine(x, plot.top(), x, plot.top() + plot.height() - 1);
        const QRect unitRect = left ? QRect(x - AxisWidth + 4, plot.top() - TopMargin + 4, AxisWidth - 6, metrics.height())
                                    : QRect(x + 2, plot.top() - TopMargin + 4, AxisWidth - 6, metrics.height());
        painter.drawText(unitRect, (left ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter, axis.unit);

        const double scale = plot.height() / (axis.max - axis.min);
        const double step = niceStep((axis.max - axis.min) / qMax(2, plot.height() / 40));
        const int decimals = decimalsFor(step);
        for (double v = std::ceil(axis.min / step) * step; v <= axis.max + step * 1e-9; v += step) {
            const int y = int(std::lround(bottom - (v - axis.min) * scale));
            if (a == 0) {
                painter.setPen(GridColor);
                painter.drawLine(plot.left() + 1, y, plot.left() + plot.width() - 2, y);
                painter.setPen(Qt::black);
            }
            const QString label = QString::number(std::abs(v) < step * 1e-6 ? 0.0 : v, 'f', decimals);
            if (left) {
                painter.drawLine(x - 3, y, x, y);
                painter.drawText(QRect(x - AxisWidth + 2, y - metrics.height() / 2, AxisWidth - 8, metrics.height()),
                                 Qt::AlignRight | Qt::AlignVCenter, label);
            } else {
                painter.drawLine(x, y, x + 3, y);
                painter.drawText(QRect(x + 6, y - metrics.height() / 2, AxisWidth - 8, metrics.height()),
                                 Qt::AlignLeft | Qt::AlignVCenter, label);
            }
        }
    }
}

void TrendPlot::paintSamples(QPainter &painter, const Layout &layout) const
{
    const QRect plot = layout.plot;
    const double bottom = plot.top() + plot.height();
    double y[2] = {0, 0};
    int axes[2] = {-1, -1};
    for (int which = 0; which < 2; ++which) {
        const double value = sample(which);
        axes[which] = sampleAxis(layout, which);
        if (axes[which] < 0 || !isSampleSet(value)) {
            axes[which] = -1;
            continue;
        }
        const Axis &axis = layout.axes.at(axes[which]);
        y[which] = bottom - (value - axis.min) * plot.height() / (axis.max - axis.min);
    }
    if (axes[0] >= 0 && axes[0] == axes[1]) {
        const double top = qMin(y[0], y[1]);
        painter.fillRect(QRectF(plot.left(), top, plot.width(), qAbs(y[1] - y[0])), BandColor);
    }
    for (int which = 0; which < 2; ++which) {
        if (axes[which] < 0)
            continue;
        const QColor color = which == 0 ? Sample0Color : Sample1Color;
        painter.setPen(QPen(color, 1, Qt::DashLine));
        painter.drawLine(QPointF(plot.left(), y[which]), QPointF(plot.left() + plot.width(), y[which]));
        const QString label = tr("Образец канал %1: %2").arg(which).arg(number(sample(which)));
        const QFontMetrics metrics(painter.font());
        // Sample 0's label above its line, sample 1's below, so they do not
        // cover each other when the samples are close.
        const int top = which == 0 ? int(y[which]) - metrics.height() - 1 : int(y[which]) + 2;
        painter.drawText(QRect(plot.left(), top, plot.width() - 6, metrics.height()), Qt::AlignRight | Qt::AlignVCenter,
                         label);
    }
}

QString TrendPlot::valueText(const Line &line, qint64 timeMs) const
{
    const TrendSeries &series = *line.channel->series;
    const int index = series.recordAt(timeMs);
    if (index < 0) {
        // A gap: named when a failed reading made it. A pause is kept at the
        // time of the reading before it; a failed reading at its own time.
        const int next = series.lowerBound(timeMs);
        for (int i : {next, next - 1}) {
            if (i < 0 || i >= series.size() || !series.record(i).isGap())
                continue;
            const TrendRecord gap = series.record(i);
            const bool pause = i > 0 && !series.record(i - 1).isGap() && series.record(i - 1).lastMs == gap.firstMs;
            if (!pause)
                return tr("ошибка чтения (")
                    + QDateTime::fromMSecsSinceEpoch(gap.firstMs).toString(QStringLiteral("hh:mm:ss"))
                    + QLatin1Char(')');
        }
        return QStringLiteral("—");
    }
    const TrendRecord rec = series.record(index);
    const QString unit = line.channel->unitText().isEmpty() ? QString() : QLatin1Char(' ') + line.channel->unitText();
    if (rec.min == rec.max)
        return number(rec.min) + unit;
    return number(rec.min) + QStringLiteral(" … ") + number(rec.max) + unit;
}

QStringList TrendPlot::cursorLines(qint64 timeMs) const
{
    QStringList lines{QDateTime::fromMSecsSinceEpoch(timeMs).toString(QStringLiteral("dd.MM.yyyy hh:mm:ss"))};
    for (const Line &line : m_lines) {
        if (line.visible)
            lines << line.channel->name() + QStringLiteral(": ") + valueText(line, timeMs);
    }
    return lines;
}

void TrendPlot::paintCursor(QPainter &painter, const QRect &plot) const
{
    if (m_cursorX < plot.left() || m_cursorX >= plot.left() + plot.width())
        return;
    painter.setPen(QPen(QColor(90, 90, 90), 1, Qt::DotLine));
    painter.drawLine(m_cursorX, plot.top(), m_cursorX, plot.top() + plot.height() - 1);
}

void TrendPlot::paintLegend(QPainter &painter, const QRect &bounds) const
{
    painter.fillRect(bounds, Qt::white);
    painter.setFont(font());
    int row = 0;
    for (const Line &line : m_lines) {
        if (!line.visible)
            continue;
        const int top = bounds.top() + 4 + row * LegendRowHeight;
        painter.fillRect(QRect(bounds.left() + SideGap + 4, top + LegendRowHeight / 2 - 5, 10, 10), line.color);
        painter.setPen(Qt::black);
        const QRect textRect(bounds.left() + SideGap + 20, top, bounds.width() - 40, LegendRowHeight);
        const QString text = painter.fontMetrics().elidedText(
            line.channel->name() + QStringLiteral(", ") + line.channel->unitText(), Qt::ElideMiddle, textRect.width());
        painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter, text);
        ++row;
    }
}

QImage TrendPlot::image() const
{
    const QSize chartSize = size().expandedTo(QSize(640, 400));
    int rows = 0;
    for (const Line &line : m_lines)
        rows += line.visible ? 1 : 0;
    const int legendHeight = rows > 0 ? rows * LegendRowHeight + 8 : 0;
    QImage image(chartSize.width(), chartSize.height() + legendHeight, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter painter(&image);
    paintChart(painter, QRect(QPoint(0, 0), chartSize));
    if (legendHeight > 0)
        paintLegend(painter, QRect(0, chartSize.height(), chartSize.width(), legendHeight));
    return image;
}

QByteArray TrendPlot::csv() const
{
    const qint64 from = viewFromMs();
    const qint64 to = viewToMs();
    const QString timeFormat = QStringLiteral("yyyy.MM.dd hh:mm:ss");
    QString text = QStringLiteral("Канал;Ед.изм.;Начало;Конец;Мин;Макс;Показаний\r\n");
    for (const Line &line : m_lines) {
        if (!line.visible)
            continue;
        const TrendSeries &series = *line.channel->series;
        const QString prefix = line.channel->name() + QLatin1Char(';') + line.channel->unitText() + QLatin1Char(';');
        for (int i = series.lowerBound(from); i < series.size(); ++i) {
            const TrendRecord rec = series.record(i);
            if (rec.firstMs > to)
                break;
            text += prefix + QDateTime::fromMSecsSinceEpoch(rec.firstMs).toString(timeFormat) + QLatin1Char(';')
                + QDateTime::fromMSecsSinceEpoch(rec.lastMs).toString(timeFormat) + QLatin1Char(';')
                + (rec.isGap() ? QStringLiteral("---") : Recorder::formatNumber(rec.min)) + QLatin1Char(';')
                + (rec.isGap() ? QStringLiteral("---") : Recorder::formatNumber(rec.max)) + QLatin1Char(';')
                + QString::number(rec.count) + QStringLiteral("\r\n");
        }
    }
    return text.toUtf8();
}

QByteArray TrendPlot::readingsCsv() const
{
    const qint64 from = viewFromMs();
    const qint64 to = viewToMs();
    const QString timeFormat = QStringLiteral("yyyy.MM.dd hh:mm:ss");
    // A file for spreadsheets: its header is data and stays the same in
    // every language, like the summary's.
    QString text = QStringLiteral("Канал;Ед.изм.;Время;Значение\r\n");
    for (const Line &line : m_lines) {
        if (!line.visible)
            continue;
        const TrendSeries &series = *line.channel->series;
        const QString prefix = line.channel->name() + QLatin1Char(';') + line.channel->unitText() + QLatin1Char(';');
        const auto row = [&](qint64 timeMs, double value) {
            if (timeMs < from || timeMs > to)
                return;
            text += prefix + QDateTime::fromMSecsSinceEpoch(timeMs).toString(timeFormat) + QLatin1Char(';')
                + (value == value ? Recorder::formatNumber(value) : QStringLiteral("---")) + QStringLiteral("\r\n");
        };
        for (int i = series.lowerBound(from); i < series.size(); ++i) {
            const TrendRecord rec = series.record(i);
            if (rec.firstMs > to)
                break;
            row(rec.firstMs, rec.first);
            // A summed-up stretch: its last reading too, once it is another one.
            if (rec.count > 1 || rec.lastMs != rec.firstMs)
                row(rec.lastMs, rec.last);
        }
    }
    return text.toUtf8();
}

void TrendPlot::zoomAround(qint64 timeMs, double factor)
{
    const qint64 from = viewFromMs();
    const qint64 to = viewToMs();
    const double span = qBound(double(MinSpanMs), double(to - from) * factor, double(MaxSpanMs));
    const double share = double(timeMs - from) / double(qMax<qint64>(1, to - from));
    const qint64 newFrom = timeMs - qint64(span * share);
    setView(newFrom, newFrom + qint64(span));
}

void TrendPlot::wheelEvent(QWheelEvent *event)
{
    const QPoint pos = event->position().toPoint();
    const QRect plot = plotArea();
    if (pos.x() < plot.left() || pos.x() >= plot.left() + plot.width() || event->angleDelta().y() == 0) {
        event->ignore();
        return;
    }
    zoomAround(timeAt(pos.x()), std::pow(0.8, event->angleDelta().y() / 120.0));
    event->accept();
}

void TrendPlot::mousePressEvent(QMouseEvent *event)
{
    const QRect plot = plotArea();
    const QPoint pos = event->pos();
    if (event->button() != Qt::LeftButton || pos.x() < plot.left() || pos.x() >= plot.left() + plot.width()) {
        QWidget::mousePressEvent(event);
        return;
    }
    const bool onTimeAxis = pos.y() >= plot.top() + plot.height();
    const bool inPlot = plot.contains(pos);
    if (onTimeAxis || (inPlot && (event->modifiers() & Qt::ShiftModifier))) {
        m_drag = Drag::Band;
        m_band->setGeometry(QRect(pos.x(), plot.top(), 1, plot.height()));
        m_band->show();
    } else if (inPlot) {
        m_drag = Drag::Pan;
        setCursor(Qt::ClosedHandCursor);
    } else {
        return;
    }
    m_pressX = pos.x();
    m_pressFromMs = viewFromMs();
    m_pressToMs = viewToMs();
}

void TrendPlot::mouseMoveEvent(QMouseEvent *event)
{
    const QRect plot = plotArea();
    const int x = event->pos().x();
    setCursorX(plot.contains(event->pos()) || m_drag != Drag::None ? x : -1);
    if (m_drag == Drag::Pan) {
        const double msPerPx = double(m_pressToMs - m_pressFromMs) / plot.width();
        const qint64 shift = qint64((x - m_pressX) * msPerPx);
        setView(m_pressFromMs - shift, m_pressToMs - shift);
    } else if (m_drag == Drag::Band) {
        const int a = qBound(plot.left(), qMin(x, m_pressX), plot.left() + plot.width() - 1);
        const int b = qBound(plot.left(), qMax(x, m_pressX), plot.left() + plot.width() - 1);
        m_band->setGeometry(QRect(a, plot.top(), b - a + 1, plot.height()));
    }
    update();
}

void TrendPlot::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_drag == Drag::Band) {
        m_band->hide();
        const QRect plot = plotArea();
        const int a = qBound(plot.left(), qMin(event->pos().x(), m_pressX), plot.left() + plot.width() - 1);
        const int b = qBound(plot.left(), qMax(event->pos().x(), m_pressX), plot.left() + plot.width() - 1);
        if (b - a >= 3)
            setView(timeAt(a), timeAt(b));
    }
    if (m_drag != Drag::None)
        unsetCursor();
    m_drag = Drag::None;
}

void TrendPlot::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && plotArea().contains(event->pos()))
        showWholeRun();
}

void TrendPlot::leaveEvent(QEvent *)
{
    setCursorX(-1);
    update();
}

void TrendPlot::setCursorX(int x)
{
    m_cursorX = x;
    const QRect plot = plotArea();
    const bool inside = x >= plot.left() && x < plot.left() + plot.width();
    emit cursorTextChanged(inside ? cursorLines(timeAt(x)) : QStringList());
}
