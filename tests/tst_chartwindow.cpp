#include "gui/mainwindow.h"
#include "gui/chartwindow.h"
#include "chart/trendarchive.h"
#include "gui/trendplot.h"
#include "gui/dialogs.h"
#include "model/channelid.h"
#include "sim/simbus.h"
#include "sim/simbusloader.h"
#include "sim/simdevice.h"
#include "support/windowrig.h"
#include "support/tablesupport.h"
#include "table/recorder.h"
#include "table/tableman.h"

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QToolButton>
#include <QWheelEvent>
#include <QtTest>
#include <memory>

namespace {

// A row's channel key and value text, as the table shows them.
struct Shown
{
    QString key;
    QString value;
};

QList<Shown> tableReadings(QTableView *table)
{
    QList<Shown> rows;
    for (int row = 0; row < table->model()->rowCount(); ++row) {
        // The cells' own texts: the view shows no hub channel for a device behind none.
        auto text = [&](int column) { return static_cast<TableMan *>(table->model())->cellText(row, column); };
        rows.append({ChannelId::textOf(text(TableMan::ColRom), text(TableMan::ColSubchannel).toInt(),
                                              text(TableMan::ColHubChannel).toInt(), text(TableMan::ColI2cAddress).toInt()),
                     text(TableMan::ColValue)});
    }
    return rows;
}

// A series' readings as the table writes values: 2 decimals, "---" for a gap.
QStringList seriesTexts(const TrendSeries &series)
{
    QStringList texts;
    for (int i = 0; i < series.size(); ++i) {
        const TrendRecord r = series.record(i);
        texts << (r.isGap() ? QStringLiteral("---") : QString::number(r.min, 'f', 2));
    }
    return texts;
}

// Drags with the left button from `from` to `to`.
void drag(QWidget *w, const QPoint &from, const QPoint &to)
{
    for (const auto &step : {qMakePair(QEvent::MouseButtonPress, from), qMakePair(QEvent::MouseMove, to),
                             qMakePair(QEvent::MouseButtonRelease, to)}) {
        QMouseEvent event(step.first, step.second, w->mapToGlobal(step.second),
                          step.first == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                          step.first == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(w, &event);
    }
}

QAction *actionNamed(QMenu *menu, const QString &text)
{
    for (QAction *action : menu->actions()) {
        if (action->text() == text)
            return action;
    }
    return nullptr;
}

} // namespace

// Chart windows over the demo bus driven by the main window's tick: the
// lines hold what the table showed, the view commands, the legend, the
// reference samples, the exports, opening files while measuring goes on, and
// several windows at once.
class TstChartWindow : public QObject
{
    Q_OBJECT
    QTemporaryDir outDir;
    std::unique_ptr<WindowRig> rig;
    MainWindow *window = nullptr;
    QTableView *table = nullptr;
    QMap<QString, QStringList> shownByKey; // every value the table showed, per channel

    // One tick of the window's timer (it measures at every tick: no
    // recording, no interval), noting what the table shows.
    void tick()
    {
        rig->tickAfter(2000);
        for (const Shown &row : tableReadings(table))
            shownByKey[row.key] << row.value;
    }

    ChartWindow *openChartFromRow(int row)
    {
        table->selectRow(row);
        const int before = window->chartWindows().size();
        QMetaObject::invokeMethod(window, "on_tblSens_customContextMenuRequested", Q_ARG(QPoint, QPoint(5, 5)));
        QMenu *menu = window->findChildren<QMenu *>().value(window->findChildren<QMenu *>().size() - 1);
        if (!menu)
            return nullptr;
        QAction *chart = actionNamed(menu, QStringLiteral("Показать график"));
        if (!chart || !actionNamed(menu, QStringLiteral("Открыть папку в файловом менеджере")))
            return nullptr;
        chart->trigger();
        menu->close();
        return window->chartWindows().size() == before + 1 ? window->chartWindows().last() : nullptr;
    }

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false"));
        WindowRig::prepareProcess();
        rig = std::make_unique<WindowRig>(SimBusLoader::loadFile(TEST_DATA_DIR "/buses/thermometers.json", nullptr));
        rig->f.backend().setTrafficLogging(false);
        rig->start(false, 0);
        window = rig->window.get();
        table = window->findChild<QTableView *>(QStringLiteral("tblSens"));
        QVERIFY(table);
    }

    void cleanupTestCase()
    {
        for (ChartWindow *w : window->chartWindows())
            delete w;
        rig.reset();
    }

    // Readings are kept from the first cycle, before any chart is open; a
    // chart opened from the context menu and given every channel holds, per
    // line, exactly the values the table showed, cycle by cycle.
    void linesHoldWhatTheTableShowed()
    {
        for (int i = 0; i < 3; ++i)
            tick();
        QCOMPARE(table->model()->rowCount(), 8);
        QCOMPARE(window->trendArchive().channels().size(), 8);

        ChartWindow *chart = openChartFromRow(2);
        QVERIFY(chart);
        QVERIFY(chart->isWindow() && chart->isVisible());
        QCOMPARE(chart->plot()->lineCount(), 1);
        QCOMPARE(chart->plot()->line(0).channel->key(), tableReadings(table).at(2).key);

        auto *add = chart->findChild<QToolButton *>(QStringLiteral("btnAddChannel"));
        QVERIFY(add && add->menu());
        QMetaObject::invokeMethod(add->menu(), "aboutToShow");
        QAction *all = actionNamed(add->menu(), QStringLiteral("Все каналы"));
        QVERIFY(all);
        all->trigger();
        QCOMPARE(chart->plot()->lineCount(), 8);
        QCOMPARE(chart->legend()->count(), 8);
        QMetaObject::invokeMethod(add->menu(), "aboutToShow");
        QCOMPARE(add->menu()->actions().size(), 1); // nothing left to add

        for (int i = 0; i < 3; ++i)
            tick();
        QCOMPARE(chart->plot()->axisUnits(), QStringList{"°C"});
        for (int i = 0; i < chart->plot()->lineCount(); ++i) {
            const TrendChannel &channel = *chart->plot()->line(i).channel;
            QCOMPARE(seriesTexts(*channel.series), shownByKey.value(channel.key()));
            QCOMPARE(shownByKey.value(channel.key()).size(), 6);
        }

        // The cursor at the last cycle shows the table's values.
        const TrendSeries &first = *chart->plot()->line(0).channel->series;
        const QStringList cursor = chart->plot()->cursorLines(first.lastMs());
        QCOMPARE(cursor.size(), 9);
        QCOMPARE(cursor.at(0), QDateTime::fromMSecsSinceEpoch(first.lastMs()).toString("dd.MM.yyyy hh:mm:ss"));
        for (int i = 0; i < 8; ++i) {
            const TrendChannel &channel = *chart->plot()->line(i).channel;
            if (channel.series->lastMs() == first.lastMs())
                QCOMPARE(cursor.at(i + 1), channel.name() + ": " + shownByKey.value(channel.key()).last() + " °C");
        }
    }

    // Wheel zoom around the pointer, panning by dragging, a range picked
    // along the time axis, the whole run again; hiding a line in the legend
    // takes it out of the cursor and the CSV.
    void viewAndLegend()
    {
        ChartWindow *chart = window->chartWindows().value(0);
        QVERIFY(chart);
        TrendPlot *plot = chart->plot();
        plot->resize(900, 500);
        QVERIFY(plot->showsWholeRun());
        const TrendSeries &series = *plot->line(0).channel->series;
        QVERIFY(plot->viewFromMs() < series.firstMs() && plot->viewToMs() > series.lastMs());

        const QRect area = plot->plotArea();
        const QPoint middle = area.center();
        const qint64 under = plot->timeAt(middle.x());
        const qint64 span = plot->viewToMs() - plot->viewFromMs();
        QWheelEvent wheel(QPointF(middle), QPointF(plot->mapToGlobal(middle)), QPoint(), QPoint(0, 120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(plot, &wheel);
        QVERIFY(!plot->showsWholeRun());
        QVERIFY(qAbs((plot->viewToMs() - plot->viewFromMs()) - span * 8 / 10) <= span / 100);
        QVERIFY(qAbs(plot->timeAt(middle.x()) - under) <= span / area.width() + 1);

        const qint64 from = plot->viewFromMs();
        // Not rounded: a truncated scale is off by up to 100 ms per 100 px.
        const double msPerPx = double(plot->viewToMs() - from) / area.width();
        drag(plot, middle, middle + QPoint(100, 0));
        QVERIFY(qAbs((from - plot->viewFromMs()) - 100 * msPerPx) <= msPerPx + 1);

        const int axisY = area.bottom() + 10;
        const qint64 a = plot->timeAt(area.left() + 100), b = plot->timeAt(area.left() + 400);
        drag(plot, QPoint(area.left() + 100, axisY), QPoint(area.left() + 400, axisY));
        QVERIFY(qAbs(plot->viewFromMs() - a) <= 1000 && qAbs(plot->viewToMs() - b) <= 1000);

        // A view up to the newest reading moves along with the next cycle.
        auto newestOfAll = [&] {
            qint64 newest = 0;
            for (int i = 0; i < plot->lineCount(); ++i)
                newest = qMax(newest, plot->line(i).channel->series->lastMs());
            return newest;
        };
        const qint64 newest = newestOfAll();
        plot->setView(newest - 5000, newest + 1000);
        tick();
        QVERIFY(newestOfAll() > newest);
        QCOMPARE(plot->viewToMs(), newestOfAll() + 1000);
        QVERIFY(!plot->showsWholeRun());

        chart->findChild<QPushButton *>(QStringLiteral("btnWholeRun"))->click();
        QVERIFY(plot->showsWholeRun());

        const QString hidden = plot->line(1).channel->name();
        chart->legend()->item(1)->setCheckState(Qt::Unchecked);
        QVERIFY(!plot->line(1).visible);
        QCOMPARE(plot->cursorLines(series.lastMs()).size(), 8);
        QVERIFY(!QString::fromUtf8(plot->csv()).contains(hidden));
        chart->legend()->item(1)->setCheckState(Qt::Checked);
        QVERIFY(QString::fromUtf8(plot->csv()).contains(hidden));
    }

    // The reference samples entered in the main window are drawn; PNG and
    // CSV are written where the save dialog says; the CSV holds every shown
    // reading with its time, decimal commas, the chart's names.
    void samplesAndExports()
    {
        ChartWindow *chart = window->chartWindows().value(0);
        TrendPlot *plot = chart->plot();
        QCOMPARE(plot->sample(0), NO_SAMPLE);
        auto *field = window->findChild<QLineEdit *>(QStringLiteral("lineSampleCh1"));
        field->setText(QStringLiteral("21,5"));
        QMetaObject::invokeMethod(field, "editingFinished");
        QCOMPARE(plot->sample(0), 21.5);
        QCOMPARE(plot->sample(1), NO_SAMPLE);

        rig->dialogs.setResponder([&](const DialogRequest &request) {
            DialogAnswer answer = DialogAnswer::pressed(QMessageBox::Ok, true);
            if (request.kind == DialogRequest::SaveFile)
                answer.textValue = outDir.path() + (request.nameFilter.contains("png") ? "/chart" : "/view.csv");
            return answer;
        });
        chart->findChild<QPushButton *>(QStringLiteral("btnExportPng"))->click();
        chart->findChild<QPushButton *>(QStringLiteral("btnExportCsv"))->click();
        rig->dialogs.setResponder([](const DialogRequest &) { return DialogAnswer::pressed(QMessageBox::No); });

        const QImage image(outDir.path() + "/chart.png");
        QVERIFY(!image.isNull());
        QVERIFY(image.width() >= plot->width() && image.height() > plot->height()); // the legend below

        QFile file(outDir.path() + "/view.csv");
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList rows = QString::fromUtf8(file.readAll()).split("\r\n", Qt::SkipEmptyParts);
        QCOMPARE(rows.first(), QStringLiteral("Канал;Ед.изм.;Начало;Конец;Мин;Макс;Показаний"));
        QCOMPARE(rows.size(), 1 + 8 * 7);
        const TrendChannel &channel = *plot->line(0).channel;
        const TrendRecord last = channel.series->record(channel.series->size() - 1);
        const QString when = QDateTime::fromMSecsSinceEpoch(last.firstMs).toString("yyyy.MM.dd hh:mm:ss");
        const QString value = Recorder::formatNumber(last.min);
        QVERIFY(rows.contains(channel.name() + ";°C;" + when + ";" + when + ";" + value + ";" + value + ";1"));

        // The readings as they came: one row each, time and value.
        rig->dialogs.setResponder([&](const DialogRequest &request) {
            DialogAnswer answer = DialogAnswer::pressed(QMessageBox::Ok, true);
            if (request.kind == DialogRequest::SaveFile)
                answer.textValue = outDir.path() + "/readings.csv";
            return answer;
        });
        chart->findChild<QPushButton *>(QStringLiteral("btnExportReadings"))->click();
        rig->dialogs.setResponder([](const DialogRequest &) { return DialogAnswer::pressed(QMessageBox::No); });
        QFile readings(outDir.path() + "/readings.csv");
        QVERIFY(readings.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(readings.readAll()).split("\r\n", Qt::SkipEmptyParts);
        QCOMPARE(lines.first(), QStringLiteral("Канал;Ед.изм.;Время;Значение"));
        QCOMPARE(lines.size(), rows.size());
        QVERIFY(lines.contains(channel.name() + ";°C;" + when + ";" + value));
        for (const QString &line : lines)
            QCOMPARE(line.count(';'), 3);
    }

    // "Открыть файлы измерений…" asks through the dialog layer and measuring
    // goes on while the dialog is open; a foreign file is named with its
    // line, the good one becomes a line of its own.
    void openFilesWhileMeasuring()
    {
        ChartWindow *chart = window->chartWindows().value(0);
        const QString foreign = outDir.path() + "/notes.csv";
        QFile notes(foreign);
        QVERIFY(notes.open(QIODevice::WriteOnly));
        notes.write("shopping list\r\n");
        notes.close();

        rig->dialogs.clearHistory();
        rig->dialogs.setResponder([](const DialogRequest &request) {
            ScriptedDialogs::Answer answer = DialogAnswer::pressed(QMessageBox::No);
            answer.pending = request.kind == DialogRequest::OpenFiles;
            return answer;
        });
        chart->findChild<QPushButton *>(QStringLiteral("btnOpenFiles"))->click();
        QCOMPARE(rig->dialogs.pendingCount(), 1);
        QCOMPARE(rig->dialogs.pendingRequest().title, QStringLiteral("Открыть файлы измерений"));
        const quint64 before = chart->plot()->line(0).channel->series->readingCount();
        tick();
        QCOMPARE(chart->plot()->line(0).channel->series->readingCount(), before + 1);

        DialogAnswer files = DialogAnswer::pressed(QMessageBox::Open, true);
        files.files = QStringList{QStringLiteral(TEST_DATA_DIR "/recorder/ds18b20_default.csv"), foreign};
        rig->dialogs.answerPending(files);
        rig->dialogs.setResponder([](const DialogRequest &) { return DialogAnswer::pressed(QMessageBox::No); });
        QVERIFY(chart->isLoading());
        QTRY_VERIFY(!chart->isLoading());
        QCOMPARE(chart->plot()->lineCount(), 9);
        const TrendChannel &opened = *chart->plot()->line(8).channel;
        QCOMPARE(opened.romText, QStringLiteral("5A03161D1E64FF28"));
        QCOMPARE(opened.series->size(), 5);
        QVERIFY(chart->plot()->showsWholeRun());
        QVERIFY(chart->plot()->viewFromMs() < opened.series->firstMs());
        // The same file again, after it grew: the line takes the new readings.
        const QString copy = outDir.path() + "/growing.csv";
        QVERIFY(QFile::copy(QStringLiteral(TEST_DATA_DIR "/recorder/ds18b20_default.csv"), copy));
        chart->loadFiles({copy});
        QTRY_VERIFY(!chart->isLoading());
        QCOMPARE(chart->plot()->lineCount(), 10);
        QFile growing(copy);
        QVERIFY(growing.open(QIODevice::Append));
        growing.write("2025.01.27;14:03:55;22,00\r\n");
        growing.close();
        chart->loadFiles({copy});
        QTRY_VERIFY(!chart->isLoading());
        QCOMPARE(chart->plot()->lineCount(), 10);
        QCOMPARE(chart->plot()->line(9).channel->series->size(), 6);

        const QList<DialogRequest> asked = rig->dialogs.history();
        QVERIFY(!asked.isEmpty());
        QCOMPARE(asked.last().kind, DialogRequest::Message);
        QVERIFY2(asked.last().text.contains("«notes.csv», строка 1"), qPrintable(asked.last().text));
    }

    // A long file loads on a thread of its own: the call returns at once
    // with a progress bar, measuring goes on meanwhile, and the line comes
    // when it is read. Cancelled, or its window closed, a load leaves no line.
    void longFileLoadsWhileMeasuring()
    {
        const QString path = outDir.path() + "/long.csv";
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        const QByteArray example = TableSupport::readFile(TEST_DATA_DIR "/recorder/ds18b20_default.csv");
        file.write(example.left(example.indexOf("Deviation\r\n") + 11)); // its header
        const qint64 start = QDateTime(QDate(2025, 1, 20), QTime(0, 0)).toMSecsSinceEpoch();
        QByteArray lines;
        const int count = 200000;
        for (int i = 0; i < count; ++i) {
            lines += QDateTime::fromMSecsSinceEpoch(start + qint64(i) * 1000).toString("yyyy.MM.dd;hh:mm:ss;").toLatin1();
            lines += i == 7 ? QByteArray("---") : Recorder::formatNumber(20 + (i % 100) / 10.0).toLatin1();
            lines += "\r\n";
        }
        file.write(lines);
        file.close();

        ChartWindow *chart = window->chartWindows().value(0);
        const int linesBefore = chart->plot()->lineCount();
        const quint64 live = chart->plot()->line(0).channel->series->readingCount();
        chart->loadFiles({path});
        QVERIFY(chart->isLoading());
        QVERIFY(chart->findChild<QWidget *>("loadBar")->isVisibleTo(chart));
        tick();
        QCOMPARE(chart->plot()->line(0).channel->series->readingCount(), live + 1);
        QTRY_VERIFY(!chart->isLoading());
        QVERIFY(!chart->findChild<QWidget *>("loadBar")->isVisibleTo(chart));
        QCOMPARE(chart->plot()->lineCount(), linesBefore + 1);
        const TrendSeries &read = *chart->plot()->line(linesBefore).channel->series;
        QCOMPARE(read.readingCount(), quint64(count));
        // The failed reading is a gap the cursor names with its time.
        const QStringList cursor = chart->plot()->cursorLines(start + 7 * 1000 + 300);
        QVERIFY2(cursor.last().contains("ошибка чтения (00:00:07)"), qPrintable(cursor.join('|')));
        QVERIFY(chart->windowTitle().contains(chart->plot()->line(0).channel->identity()));
        chart->plot()->removeLine(linesBefore);
        delete chart->legend()->takeItem(linesBefore);

        chart->loadFiles({path});
        chart->findChild<QPushButton *>("btnCancelLoad")->click();
        QTRY_VERIFY(!chart->isLoading());
        QCOMPARE(chart->plot()->lineCount(), linesBefore);

        const QPointer<ChartWindow> closing = new ChartWindow(ChartSources(), &rig->dialogs);
        closing->loadFiles({path});
        QVERIFY(closing->close());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(closing.isNull());
    }

    // A reference sample is drawn on the axis of its unit: sample 1 of 45 %
    // goes with the humidity, not with a cold junction's °C (both are
    // channel 1); with no line of its channel number it is not drawn.
    void sampleOnTheAxisOfItsUnit()
    {
        TrendPlot plot;
        plot.resize(800, 400);
        auto line = [&](int subchannel, const QString &unit, double value) {
            auto channel = std::make_shared<TrendChannel>();
            channel->romText = "0000000000000028";
            channel->subchannel = subchannel;
            channel->unit = unit;
            for (int i = 0; i < 5; ++i)
                channel->series->append(1000000 + i * 1000, value + i * 0.1);
            plot.addLine(channel, Qt::black);
        };
        line(0, "C", 18.5);
        line(1, "C", 24.0);
        line(1, "%", 42.0);
        plot.setSampleSource([](int which) { return which == 0 ? 19.0 : 45.0; });
        QCOMPARE(plot.axisUnits(), QStringList({"°C", "%RH"}));
        QCOMPARE(plot.sampleUnit(0), QStringLiteral("°C"));
        QCOMPARE(plot.sampleUnit(1), QStringLiteral("%RH"));
        plot.setSampleSource([](int which) { return which == 0 ? 19.0 : 24.5; });
        QCOMPARE(plot.sampleUnit(1), QStringLiteral("°C"));
        plot.removeLine(2);
        plot.removeLine(1);
        QCOMPARE(plot.sampleUnit(1), QString());
    }

    // Several windows at once, each its own top-level window that does not
    // keep the program alive; closing one deletes it.
    void severalWindows()
    {
        ChartWindow *second = openChartFromRow(0);
        QVERIFY(second);
        QCOMPARE(window->chartWindows().size(), 2);
        for (ChartWindow *w : window->chartWindows()) {
            QVERIFY(w->isWindow());
            QVERIFY(!w->testAttribute(Qt::WA_QuitOnClose));
            QVERIFY(QApplication::topLevelWidgets().contains(w));
        }
        QVERIFY(second->close());
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(window->chartWindows().size(), 1);
    }

    // A thermometer missing from the searches for several cycles has no
    // readings meanwhile: its line breaks there (the cursor finds no value)
    // and goes on after it; the other lines go on unbroken.
    void deviceMissingFromSeveralCycles()
    {
        TrendPlot *plot = window->chartWindows().value(0)->plot();
        SimDevice *missing = rig->f.bus().device(2); // the first DS18B20 of the bus file
        QCOMPARE(missing->family(), 0x28);
        const QString key = ChannelId::textOf(WindowRig::romText(missing->rom()), 0, -1, 0);
        int line = 0; // among the first eight, the bus's channels (files come after)
        while (line < 8 && plot->line(line).channel->key() != key)
            ++line;
        QVERIFY(line < 8);
        const TrendSeries &series = *plot->line(line).channel->series;

        tick();
        const qint64 before = series.lastMs();
        const quint64 readings = series.readingCount();
        missing->setSilent(true);
        for (int i = 0; i < 6; ++i)
            tick();
        QCOMPARE(series.readingCount(), readings);
        missing->setSilent(false);
        for (int i = 0; i < 3; ++i)
            tick();
        QVERIFY(series.readingCount() >= readings + 2);
        const qint64 after = series.record(series.lowerBound(before + 1)).firstMs;
        QVERIFY(after - before > 12000);
        const QStringList cursor = plot->cursorLines((before + after) / 2);
        for (int i = 0; i < 8; ++i)
            QCOMPARE(cursor.at(i + 1).endsWith(": —"), i == line);
    }
};

QTEST_MAIN(TstChartWindow)
#include "tst_chartwindow.moc"
