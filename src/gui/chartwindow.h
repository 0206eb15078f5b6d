#pragma once

#include "chart/trendchannel.h"

#include <QList>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>

class QListWidget;
class QListWidgetItem;
class QMenu;
class QTableWidget;
class TableMan;
class TrendPlot;

// A chart window: channels over time, live from the TrendArchive and read
// from measurement files, with a legend that shows and hides them, and
// commands to add channels, open files, show the whole run and export the
// view as PNG or CSV. A plain top-level window that deletes itself when
// closed; it does not keep the program running once the main window is
// gone. Several may be open at once.
class ChartWindow : public QWidget
{
    Q_OBJECT
public:
    // `tableMan` gives the reference samples (may be null: none are drawn).
    explicit ChartWindow(TableMan *tableMan = nullptr);
    ~ChartWindow() override;

    // Opens a window on the channel shown in `row` of the sensor table
    // (without a channel when row is -1 or its channel has no readings yet).
    static ChartWindow *showForRow(QTableWidget *table, int row, TableMan *tableMan);
    // Every chart window now open, oldest first.
    static QList<ChartWindow *> openWindows();

    // Adds a line; false when this channel (the same live channel, or the
    // same file) is already shown. A file shown already takes the readings
    // just read, so opening a file that is still being written again brings
    // its line up to date.
    bool addChannel(const std::shared_ptr<TrendChannel> &channel);

    TrendPlot *plot() const { return m_plot; }
    QListWidget *legend() const { return m_legend; }

public slots:
    // "Открыть файлы измерений…": asks for files, then loadFiles().
    void openFiles();
    // Reads the files and adds their channels; problems are told in one message.
    void loadFiles(const QStringList &paths);
    void exportPng();
    void exportCsv();

private:
    void fillAddMenu();
    void onReadingAdded(const QString &key);
    void onLegendChanged(QListWidgetItem *item);
    void showLegendMenu(const QPoint &pos);
    void tell(const QString &text);
    // Asks where to save; `write` returns false when it failed.
    void askToSave(const QString &title, const QString &filter, const QString &suffix,
                   const std::function<bool(const QString &path)> &write);

    QPointer<TableMan> m_tableMan;
    TrendPlot *m_plot = nullptr;
    QListWidget *m_legend = nullptr;
    QMenu *m_addMenu = nullptr;
    int m_colorIndex = 0;
};
