#pragma once

#include "chart/trendchannel.h"

#include <QList>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <memory>

class Dialogs;
class QLabel;
class QLayout;
class QListWidget;
class QListWidgetItem;
class QMenu;
class QProgressBar;
class QThread;
class QTimer;
class Recorder;
class TrendArchive;
class TableMan;
class TrendPlot;

// What a chart draws from, each may be null: the live channels, the table's
// reference samples, and the recorder's folder and separators (where files
// are opened and saved, and how they read).
struct ChartSources
{
    TrendArchive *archive = nullptr;
    TableMan *table = nullptr;
    const Recorder *recorder = nullptr;
};

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
    using Sources = ChartSources;

    // Asks the operator through `dialogs` (null: the real ones; must outlive
    // the window).
    explicit ChartWindow(const Sources &sources = Sources(), Dialogs *dialogs = nullptr);
    ~ChartWindow() override;

    // Opens a window on the channel shown in `row` of the sensor table
    // (without a channel when row is -1 or its channel has no readings yet).
    static ChartWindow *showForRow(const Sources &sources, int row, Dialogs *dialogs = nullptr);

    // Adds a line; false when this channel (the same live channel, or the
    // same file) is already shown. A file shown already takes the readings
    // just read, so opening a file that is still being written again brings
    // its line up to date.
    bool addChannel(const std::shared_ptr<TrendChannel> &channel);

    TrendPlot *plot() const { return m_plot; }
    QListWidget *legend() const { return m_legend; }
    // Files are being read (loadFiles).
    bool isLoading() const { return m_loadThread != nullptr; }

public slots:
    // "Открыть файлы измерений…": asks for files, then loadFiles().
    void openFiles();
    // Reads the files on a thread of its own and adds their channels when
    // done; problems are told in one message. Measuring and the window go on
    // meanwhile; a progress bar with a cancel button shows the load, and
    // closing the window ends it. Files asked for during a load follow it.
    void loadFiles(const QStringList &paths);
    // Stops the load in progress (its files are left out) and the ones queued.
    void cancelLoad();
    void exportPng();
    void exportCsv();
    void exportReadings();

signals:
    // A load ended (finished or cancelled) and its channels are on the chart.
    void loadFinished();

private:
    // Asks where, then writes what `text` gives of the plot.
    void exportText(const QString &title, QByteArray (TrendPlot::*text)() const);
    // The pieces of the window, built once by the constructor (the plot first).
    QLayout *makeButtonRow();
    // The load in progress: shown only while files are read.
    void makeLoadBar();
    // The legend above the cursor's time and values.
    QWidget *makeSidePanel();
    void fillAddMenu();
    void onReadingAdded(const QString &key);
    void onLegendChanged(QListWidgetItem *item);
    void showLegendMenu(const QPoint &pos);
    void tell(const QString &text);
    void startLoad();
    void showLoadProgress();
    void finishLoad();
    void updateTitle();
    // Asks where to save; `write` returns false when it failed.
    void askToSave(const QString &title, const QString &filter, const QString &suffix,
                   const std::function<bool(const QString &path)> &write);

    std::unique_ptr<Dialogs> m_ownDialogs; // the real ones, when none are given
    Dialogs *m_dialogs;
    QPointer<TrendArchive> m_archive;
    const Recorder *m_recorder = nullptr;
    TrendPlot *m_plot = nullptr;
    QListWidget *m_legend = nullptr;
    QMenu *m_addMenu = nullptr;
    int m_colorIndex = 0;

    struct Load;
    std::shared_ptr<Load> m_load;       // shared with its thread
    QThread *m_loadThread = nullptr;
    QStringList m_queuedPaths;
    QWidget *m_loadBar = nullptr;
    QProgressBar *m_loadProgress = nullptr;
    QLabel *m_loadLabel = nullptr;
    QTimer *m_loadTimer = nullptr;
};
