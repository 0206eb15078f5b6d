// Cost of a trend chart over a long run: 8 channels with a week of readings
// at 1 s (a slow wave, spikes, now and then a failed reading and twice a
// day a few minutes without readings, as for a device not found) are fed
// into the trend store, then a 1600 x 800 chart of them is drawn again and
// again: the whole week, one day in the middle and the last hour. Reports
// the time per reading stored, the memory per channel (and for 100 such
// channels) and the time per redraw. Then a week's measurement file at 1 s
// (601,210 lines, written here in the recorder's format) is opened in a chart
// window: reports how long it takes and the longest stretch without events
// on the window's thread meanwhile.
//
// usage: bench_chart [days]   (default 7)

#include "chart/trendchannel.h"
#include "gui/chartwindow.h"
#include "gui/trendplot.h"
#include "support/eventgapprobe.h"
#include "table/recorder.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTemporaryDir>
#include <QImage>
#include <QTextStream>
#include <cmath>
#include <limits>
#include <memory>

namespace {

const int Channels = 8;
const int Redraws = 20;

struct Timing
{
    double meanMs = 0;
    double maxMs = 0;
};

Timing redraw(TrendPlot &plot)
{
    QImage image(plot.size(), QImage::Format_ARGB32_Premultiplied);
    Timing timing;
    for (int i = 0; i < Redraws; ++i) {
        QElapsedTimer timer;
        timer.start();
        plot.render(&image);
        const double ms = double(timer.nsecsElapsed()) / 1e6;
        timing.meanMs += ms / Redraws;
        timing.maxMs = qMax(timing.maxMs, ms);
    }
    return timing;
}

// A week at 1 s in one channel's file: 601,200 data lines after the
// ten-line header, now and then a failed reading.
bool writeWeekFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write("\"Sensor 1WireAddr\";5A03161D1E64FF28\r\n\"I2C address\";0\r\nI2C Serial;\r\n"
               "MultiHub Channel;-1\r\nSubchannel sensor;0\r\nSensor type;DS18B20 Temperature sensor\r\n"
               "Sensor mark;T\r\nSensor Unit;C\r\n ; ;\r\nDATA;TIME;Value;Sample;Deviation\r\n");
    const QDateTime start(QDate(2025, 1, 20), QTime(0, 0, 0));
    QByteArray block;
    for (int i = 0; i < 601200; ++i) {
        const QDateTime t = start.addSecs(i);
        block += t.toString(QStringLiteral("yyyy.MM.dd;hh:mm:ss;")).toLatin1();
        block += i % 5000 == 17 ? QByteArray(Recorder::FailedValue)
                                : Recorder::formatNumber(21.0 + 2.0 * std::sin(i / 900.0)).toLatin1();
        block += "\r\n";
        if (block.size() > (1 << 20)) {
            file.write(block);
            block.clear();
        }
    }
    file.write(block);
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int days = argc > 1 ? qMax(1, QString::fromLocal8Bit(argv[1]).toInt()) : 7;
    const int readings = days * 24 * 3600;
    QTextStream out(stdout);

    const qint64 start = QDateTime(QDate(2025, 1, 27), QTime(14, 3, 5)).toMSecsSinceEpoch();
    std::vector<std::shared_ptr<TrendChannel>> channels;
    for (int c = 0; c < Channels; ++c) {
        auto channel = std::make_shared<TrendChannel>();
        channel->romText = QStringLiteral("%1000000000028").arg(c + 1, 3, 10, QLatin1Char('0'));
        channel->type = QStringLiteral("DS18B20 Temperature sensor");
        channel->unit = c < 6 ? QStringLiteral("C") : QStringLiteral("%");
        channels.push_back(channel);
    }
    QElapsedTimer fill;
    fill.start();
    for (int i = 0; i < readings; ++i) {
        for (int c = 0; c < Channels; ++c) {
            double value = 20.0 + 3.0 * c + 2.0 * std::sin(i / (600.0 + 97.0 * c)) + 0.05 * ((i * 7 + c) % 11);
            if ((i + 1000 * c) % 86399 == 0)
                value += 15.0;
            if ((i + 333 * c) % 40009 < 3)
                value = std::numeric_limits<double>::quiet_NaN();
            if ((i + 4001 * c) % 43200 < 240)
                continue;
            channels[size_t(c)]->series->append(start + qint64(i) * 1000, value);
        }
    }
    quint64 stored = 0;
    for (const auto &channel : channels)
        stored += channel->series->readingCount();
    const double fillNs = double(fill.nsecsElapsed()) / double(stored);

    TrendPlot plot;
    plot.resize(1600, 800);
    const QColor colors[Channels] = {Qt::blue, Qt::red, Qt::darkGreen, Qt::magenta,
                                     Qt::darkCyan, Qt::darkYellow, Qt::black, Qt::darkRed};
    for (int c = 0; c < Channels; ++c)
        plot.addLine(channels[size_t(c)], colors[c]);
    plot.setSampleSource([](int which) { return which == 0 ? 21.0 : 24.0; });

    qint64 bytes = 0;
    int records = 0;
    for (const auto &channel : channels) {
        bytes += channel->series->memoryBytes();
        records += channel->series->size();
    }

    out << "Trend chart, " << Channels << " channels, " << days << " day(s) at 1 s ("
        << stored / Channels << " readings per channel), " << plot.width() << " x " << plot.height() << "\n";
    out << "  storing a reading:        " << QString::number(fillNs, 'f', 0) << " ns\n";
    out << "  memory per channel:       " << QString::number(double(bytes) / Channels / 1024, 'f', 0)
        << " KiB (" << records / Channels << " records, cells of "
        << channels[0]->series->cellMs() / 1000 << " s); 100 channels: "
        << QString::number(double(bytes) / Channels * 100 / (1024 * 1024), 'f', 1) << " MiB\n";

    plot.showWholeRun();
    Timing t = redraw(plot);
    out << "  redraw, whole run:        " << QString::number(t.meanMs, 'f', 1) << " ms (max "
        << QString::number(t.maxMs, 'f', 1) << ")\n";
    const qint64 middle = start + qint64(readings / 2) * 1000;
    plot.setView(middle - 12 * 3600 * 1000LL, middle + 12 * 3600 * 1000LL);
    t = redraw(plot);
    out << "  redraw, one day:          " << QString::number(t.meanMs, 'f', 1) << " ms (max "
        << QString::number(t.maxMs, 'f', 1) << ")\n";
    const qint64 end = start + qint64(readings) * 1000;
    plot.setView(end - 3600 * 1000LL, end);
    t = redraw(plot);
    out << "  redraw, last hour:        " << QString::number(t.meanMs, 'f', 1) << " ms (max "
        << QString::number(t.maxMs, 'f', 1) << ")\n";
    out.flush();

    QTemporaryDir dir;
    const QString week = dir.path() + QStringLiteral("/week.csv");
    if (!writeWeekFile(week)) {
        out << "  cannot write " << week << "\n";
        return 1;
    }
    ChartWindow window;
    EventGapProbe probe;
    QEventLoop loop;
    QObject::connect(&window, &ChartWindow::loadFinished, &loop, &QEventLoop::quit);
    QElapsedTimer load;
    load.start();
    probe.start();
    window.loadFiles({week});
    loop.exec();
    probe.stop();
    const double loadMs = double(load.nsecsElapsed()) / 1e6;
    const quint64 lines = window.plot()->lineCount() > 0 ? window.plot()->line(0).channel->series->readingCount() : 0;
    out << "Opening a week's measurement file (" << QFile(week).size() / 1024 << " KiB, " << lines
        << " readings) in a chart window:\n";
    out << "  load time:                " << QString::number(loadMs / 1000.0, 'f', 2) << " s\n";
    out << "  longest stretch without events meanwhile: "
        << QString::number(double(probe.longestUs()) / 1000.0, 'f', 1) << " ms\n";
    return 0;
}
