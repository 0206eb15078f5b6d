#pragma once

#include "chart/trendchannel.h"

#include <QColor>
#include <QImage>
#include <QVector>
#include <QWidget>
#include <functional>
#include <memory>

class QRubberBand;

// The drawing of a chart: lines over a local-time axis, one value axis per
// unit (alternating left and right), the reference samples as horizontal
// lines and the band between them, and a cursor that shows the time and
// every line's value under the mouse.
//
// Each line is drawn from its series' per-column summary, so a pixel column
// shows the minimum and maximum of its interval, whatever the length of the
// run; lines break at gaps. Mouse: the wheel zooms the time axis around the
// pointer, dragging pans, dragging along the time axis (or with Shift in the
// plot) picks a time range, a double click shows the whole run.
class TrendPlot : public QWidget
{
    Q_OBJECT
public:
    struct Line
    {
        std::shared_ptr<TrendChannel> channel;
        QColor color;
        bool visible = true;
    };

    explicit TrendPlot(QWidget *parent = nullptr);

    void addLine(const std::shared_ptr<TrendChannel> &channel, const QColor &color);
    void removeLine(int index);
    // Puts a fresh copy of a line's channel in its place (a file read again).
    void replaceChannel(int index, const std::shared_ptr<TrendChannel> &channel);
    int lineCount() const { return m_lines.size(); }
    const Line &line(int index) const { return m_lines.at(index); }
    void setLineVisible(int index, bool visible);

    // Where the reference samples 0 and 1 come from (NO_SAMPLE: not set);
    // asked at every drawing, so a changed sample shows at the next one.
    void setSampleSource(std::function<double(int which)> source);
    // Reference sample 0 or 1 as drawn now (NO_SAMPLE: none).
    double sample(int which) const;

    // The time range shown, ms since the epoch.
    qint64 viewFromMs() const;
    qint64 viewToMs() const;
    // Shows [fromMs, toMs] and stops following the whole run.
    void setView(qint64 fromMs, qint64 toMs);
    // Shows the whole run of every line and keeps following it as it grows.
    void showWholeRun();
    bool showsWholeRun() const { return m_wholeRun; }
    // New readings arrived: draw again soon. A view that reaches past the
    // newest reading moves along with the new ones.
    void dataChanged();

    // Value axes in drawing order: the units of the visible lines, each once.
    QStringList axisUnits() const;
    // The rectangle the lines are drawn in, for a widget of the current size.
    QRect plotArea() const;
    qint64 timeAt(int x) const;

    // The cursor's text at `timeMs`: the local time, then for every visible
    // line its name and the value under the cursor ("—" where it has none,
    // "ошибка чтения" with its time in the gap of a failed reading).
    QStringList cursorLines(qint64 timeMs) const;
    // The unit of the axis reference sample 0 or 1 is drawn on; empty when
    // it is not drawn (not set, or no visible line of its channel number).
    QString sampleUnit(int which) const;
    // A summary of every visible line in the view, one row per stored record
    // (a single reading, or the first and last time, minimum, maximum and
    // count of a stretch the store has summed up), semicolon-separated with
    // decimal commas, UTF-8, CR LF line ends.
    QByteArray csv() const;
    // Every visible line's readings in the view as they came, one row each
    // (time and value, "---" for a failed reading), in the same format. A
    // stretch the store keeps only as a summary gives its first and last
    // reading, which are readings as they came.
    QByteArray readingsCsv() const;
    // The chart as drawn now (without the cursor), with a legend below.
    QImage image() const;

signals:
    // The cursor moved: its text (cursorLines), shown beside the plot so it
    // never covers a line; empty when the cursor left the plot.
    void cursorTextChanged(const QStringList &lines);

protected:
    void paintEvent(QPaintEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    struct Axis
    {
        QString unit;
        double min = 0, max = 1;
    };
    struct Layout
    {
        QRect plot;
        QVector<Axis> axes;
        QVector<int> axisOfLine; // per line, -1 when hidden
    };

    Layout layoutFor(const QRect &bounds) const;
    int sampleAxis(const Layout &layout, int which) const;
    void wholeRunRange(qint64 *fromMs, qint64 *toMs) const;
    void paintChart(QPainter &painter, const QRect &bounds) const;
    // Each visible line's columns over the view, and from them (and the
    // samples) the range of every axis, with a margin.
    QVector<QVector<TrendSeries::Column>> fitAxes(Layout &layout, qint64 fromMs, qint64 toMs) const;
    // One line: its columns joined where the series is, single readings as dots.
    static void paintColumns(QPainter &painter, const QRect &plot, const Axis &axis,
                             const QVector<TrendSeries::Column> &cols, const QColor &color);
    void paintTimeAxis(QPainter &painter, const QRect &plot) const;
    void paintValueAxes(QPainter &painter, const Layout &layout) const;
    void paintSamples(QPainter &painter, const Layout &layout) const;
    void paintCursor(QPainter &painter, const QRect &plot) const;
    void paintLegend(QPainter &painter, const QRect &bounds) const;
    QString valueText(const Line &line, qint64 timeMs) const;
    void zoomAround(qint64 timeMs, double factor);
    qint64 newestMs() const;

    QVector<Line> m_lines;
    std::function<double(int)> m_sampleSource;
    bool m_wholeRun = true;
    qint64 m_fromMs = 0;
    qint64 m_toMs = 0;
    qint64 m_newestMs = 0; // the newest reading when the view was last set or moved along

    enum class Drag { None, Pan, Band };
    Drag m_drag = Drag::None;
    int m_pressX = 0;
    qint64 m_pressFromMs = 0;
    qint64 m_pressToMs = 0;
    int m_cursorX = -1;
    void setCursorX(int x);
    QRubberBand *m_band = nullptr;
};
