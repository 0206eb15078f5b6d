#include "gui/chartwindow.h"

#include "chart/measurementfilereader.h"
#include "chart/trendarchive.h"
#include "gui/trendplot.h"
#include "gui/dialogs.h"
#include "model/sensordevice.h"
#include "table/recorder.h"
#include "table/tableman.h"

#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>
#include <QThread>
#include <QTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QSplitter>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

// Line colours, told apart on screen and on paper: 24 of them, the strong
// ones first, then darker and lighter companions of other hues.
const QColor Palette[] = {
    QColor(31, 119, 180),  QColor(214, 39, 40),   QColor(44, 160, 44),   QColor(255, 127, 14),
    QColor(148, 103, 189), QColor(140, 86, 75),   QColor(227, 119, 194), QColor(23, 190, 207),
    QColor(127, 127, 127), QColor(188, 189, 34),  QColor(0, 0, 0),       QColor(0, 0, 139),
    QColor(128, 0, 0),     QColor(0, 100, 0),     QColor(184, 134, 11),  QColor(75, 0, 130),
    QColor(0, 128, 128),   QColor(255, 0, 255),   QColor(112, 128, 144), QColor(154, 205, 50),
    QColor(250, 128, 114), QColor(65, 105, 225),  QColor(139, 69, 19),   QColor(255, 215, 0),
};

QIcon swatch(const QColor &color)
{
    QPixmap pixmap(12, 12);
    pixmap.fill(color);
    return QIcon(pixmap);
}

// Where a channel's line comes from: the live channel, or one file.
QString sourceOf(const TrendChannel &channel)
{
    return channel.filePath.isEmpty() ? channel.key() : QFileInfo(channel.filePath).absoluteFilePath();
}

} // namespace

ChartWindow::ChartWindow(const Sources &sources, Dialogs *dialogs)
    : QWidget(nullptr)
    , m_ownDialogs(dialogs ? nullptr : std::make_unique<Dialogs>())
    , m_dialogs(dialogs ? dialogs : m_ownDialogs.get())
    , m_archive(sources.archive)
    , m_recorder(sources.recorder)
{
    setAttribute(Qt::WA_DeleteOnClose);
    // Closing the main window ends the program even while charts are open.
    setAttribute(Qt::WA_QuitOnClose, false);
    updateTitle();
    resize(1100, 620);

    m_plot = new TrendPlot;
    QPointer<TableMan> samples(sources.table);
    m_plot->setSampleSource([samples](int which) { return samples ? samples->sample(which) : NO_SAMPLE; });
    if (m_archive)
        connect(m_archive, &TrendArchive::readingAdded, this, &ChartWindow::onReadingAdded);

    QLayout *buttons = makeButtonRow();
    makeLoadBar();
    auto *splitter = new QSplitter;
    splitter->addWidget(m_plot);
    splitter->addWidget(makeSidePanel());
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 0);
    // Room for a legend entry of the longest type and its unit.
    splitter->setSizes({760, 400});
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(m_loadBar);
    layout->addWidget(splitter, 1);
}

QLayout *ChartWindow::makeButtonRow()
{
    auto *add = new QToolButton;
    add->setText(tr("Добавить канал"));
    add->setPopupMode(QToolButton::InstantPopup);
    m_addMenu = new QMenu(add);
    add->setMenu(m_addMenu);
    connect(m_addMenu, &QMenu::aboutToShow, this, &ChartWindow::fillAddMenu);
    auto *open = new QPushButton(tr("Открыть файлы измерений…"));
    auto *whole = new QPushButton(tr("Весь период"));
    auto *png = new QPushButton(tr("Сохранить PNG…"));
    auto *readings = new QPushButton(tr("Сохранить показания (CSV)…"));
    auto *csv = new QPushButton(tr("Сохранить сводку (CSV)…"));
    readings->setObjectName(QStringLiteral("btnExportReadings"));
    open->setObjectName(QStringLiteral("btnOpenFiles"));
    whole->setObjectName(QStringLiteral("btnWholeRun"));
    png->setObjectName(QStringLiteral("btnExportPng"));
    csv->setObjectName(QStringLiteral("btnExportCsv"));
    add->setObjectName(QStringLiteral("btnAddChannel"));
    connect(open, &QPushButton::clicked, this, &ChartWindow::openFiles);
    connect(whole, &QPushButton::clicked, m_plot, &TrendPlot::showWholeRun);
    connect(png, &QPushButton::clicked, this, &ChartWindow::exportPng);
    connect(readings, &QPushButton::clicked, this, &ChartWindow::exportReadings);
    connect(csv, &QPushButton::clicked, this, &ChartWindow::exportCsv);

    auto *buttons = new QHBoxLayout;
    for (QWidget *w : {static_cast<QWidget *>(add), static_cast<QWidget *>(open), static_cast<QWidget *>(whole)})
        buttons->addWidget(w);
    buttons->addStretch(1);
    buttons->addWidget(png);
    buttons->addWidget(readings);
    buttons->addWidget(csv);
    return buttons;
}

void ChartWindow::makeLoadBar()
{
    m_loadBar = new QWidget;
    m_loadBar->setObjectName(QStringLiteral("loadBar"));
    m_loadLabel = new QLabel;
    m_loadProgress = new QProgressBar;
    m_loadProgress->setRange(0, 1000);
    auto *cancel = new QPushButton(tr("Отменить"));
    cancel->setObjectName(QStringLiteral("btnCancelLoad"));
    connect(cancel, &QPushButton::clicked, this, &ChartWindow::cancelLoad);
    auto *loadLayout = new QHBoxLayout(m_loadBar);
    loadLayout->setContentsMargins(0, 0, 0, 0);
    loadLayout->addWidget(m_loadLabel);
    loadLayout->addWidget(m_loadProgress, 1);
    loadLayout->addWidget(cancel);
    m_loadBar->hide();
    m_loadTimer = new QTimer(this);
    m_loadTimer->setInterval(100);
    connect(m_loadTimer, &QTimer::timeout, this, &ChartWindow::showLoadProgress);
}

QWidget *ChartWindow::makeSidePanel()
{
    m_legend = new QListWidget;
    m_legend->setObjectName(QStringLiteral("chartLegend"));
    m_legend->setContextMenuPolicy(Qt::CustomContextMenu);
    m_legend->setMinimumWidth(220);
    // A long name is cut with "…" where it ends; its tooltip has all of it.
    m_legend->setTextElideMode(Qt::ElideRight);
    m_legend->setWordWrap(false);
    connect(m_legend, &QListWidget::itemChanged, this, &ChartWindow::onLegendChanged);
    connect(m_legend, &QListWidget::customContextMenuRequested, this, &ChartWindow::showLegendMenu);

    // The cursor's time and values, beside the plot rather than over it.
    auto *cursorText = new QLabel;
    cursorText->setObjectName(QStringLiteral("cursorText"));
    cursorText->setTextFormat(Qt::PlainText);
    cursorText->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    cursorText->setMinimumHeight(cursorText->fontMetrics().height() * 4);
    connect(m_plot, &TrendPlot::cursorTextChanged, cursorText,
            [cursorText](const QStringList &lines) { cursorText->setText(lines.join(QLatin1Char('\n'))); });
    auto *side = new QSplitter(Qt::Vertical);
    side->addWidget(m_legend);
    side->addWidget(cursorText);
    side->setStretchFactor(0, 1);
    side->setStretchFactor(1, 0);
    return side;
}

// What one load shares with its thread: the thread only reads files and
// fills the results; the window takes them once the thread has finished.
struct ChartWindow::Load
{
    QStringList paths;
    QString firstSplit;
    QString lastSplit;
    MeasurementFileReader::Progress progress;
    std::atomic<int> filesDone{0};
    QVector<MeasurementFileReader::Result> results;
};

// A load in progress ends with the window: the reader stops within a few
// thousand lines.
ChartWindow::~ChartWindow()
{
    m_queuedPaths.clear();
    if (m_loadThread) {
        m_load->progress.cancel = true;
        m_loadThread->disconnect(this);
        m_loadThread->wait();
        delete m_loadThread;
    }
}

ChartWindow *ChartWindow::showForRow(const Sources &sources, int row, Dialogs *dialogs)
{
    auto *window = new ChartWindow(sources, dialogs);
    if (sources.table && sources.archive && row >= 0 && row < sources.table->rowTotal()) {
        if (const auto channel = sources.archive->channel(sources.table->channelAt(row).text()))
            window->addChannel(channel);
    }
    window->show();
    return window;
}

bool ChartWindow::addChannel(const std::shared_ptr<TrendChannel> &channel)
{
    if (!channel)
        return false;
    const QString source = sourceOf(*channel);
    for (int i = 0; i < m_plot->lineCount(); ++i) {
        if (sourceOf(*m_plot->line(i).channel) == source) {
            if (!channel->filePath.isEmpty())
                m_plot->replaceChannel(i, channel);
            return false;
        }
    }
    // The first colour no line shows; past 24 lines they repeat in turn.
    const int paletteSize = int(sizeof(Palette) / sizeof(Palette[0]));
    QColor color = Palette[m_colorIndex++ % paletteSize];
    for (const QColor &candidate : Palette) {
        bool used = false;
        for (int i = 0; i < m_plot->lineCount() && !used; ++i)
            used = m_plot->line(i).color == candidate;
        if (!used) {
            color = candidate;
            break;
        }
    }
    m_plot->addLine(channel, color);
    auto *item = new QListWidgetItem(swatch(color), channel->identity() + QLatin1Char('\n') + channel->type
                                         + QStringLiteral(", ") + channel->unitText());
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Checked);
    item->setToolTip(channel->name() + QLatin1Char('\n')
                     + (channel->filePath.isEmpty() ? tr("Показания этого запуска")
                                                    : QDir::toNativeSeparators(channel->filePath)));
    const QSignalBlocker blocker(m_legend);
    m_legend->addItem(item);
    updateTitle();
    return true;
}

// Titled by what it shows, so that several chart windows are told apart.
void ChartWindow::updateTitle()
{
    QStringList names;
    for (int i = 0; m_plot && i < m_plot->lineCount(); ++i)
        names << m_plot->line(i).channel->identity();
    QString title = tr("График");
    if (!names.isEmpty()) {
        const QString shown = names.size() <= 3 ? names.join(QStringLiteral(", "))
                                                : names.mid(0, 2).join(QStringLiteral(", "))
                + tr(" и ещё %1").arg(names.size() - 2);
        title += QStringLiteral(": ") + shown;
    }
    // The program's name as the main window shows it (the application name
    // stays Russian: the settings file is named after it).
    setWindowTitle(title + QStringLiteral(" — ") + QCoreApplication::translate("MainWindow", "Орвекс"));
}

void ChartWindow::fillAddMenu()
{
    m_addMenu->clear();
    QVector<std::shared_ptr<TrendChannel>> missing;
    const QVector<std::shared_ptr<TrendChannel>> live =
        m_archive ? m_archive->channels() : QVector<std::shared_ptr<TrendChannel>>();
    for (const auto &channel : live) {
        bool shown = false;
        for (int i = 0; i < m_plot->lineCount() && !shown; ++i)
            shown = m_plot->line(i).channel == channel;
        if (!shown)
            missing << channel;
    }
    if (missing.isEmpty()) {
        m_addMenu->addAction(tr("Все каналы уже на графике"))->setEnabled(false);
        return;
    }
    for (const auto &channel : qAsConst(missing)) {
        m_addMenu->addAction(channel->name() + QStringLiteral(", ") + channel->unitText(), this,
                             [this, channel] { addChannel(channel); });
    }
    if (missing.size() > 1) {
        m_addMenu->addSeparator();
        m_addMenu->addAction(tr("Все каналы"), this, [this, missing] {
            for (const auto &channel : missing)
                addChannel(channel);
        });
    }
}

void ChartWindow::onReadingAdded(const QString &key)
{
    // A live line shows the archive's own channel object.
    const std::shared_ptr<TrendChannel> channel = m_archive ? m_archive->channel(key) : nullptr;
    for (int i = 0; i < m_plot->lineCount(); ++i) {
        if (m_plot->line(i).channel == channel) {
            m_plot->dataChanged();
            return;
        }
    }
}

void ChartWindow::onLegendChanged(QListWidgetItem *item)
{
    m_plot->setLineVisible(m_legend->row(item), item->checkState() == Qt::Checked);
}

void ChartWindow::showLegendMenu(const QPoint &pos)
{
    QListWidgetItem *item = m_legend->itemAt(pos);
    if (!item)
        return;
    auto *menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    const int row = m_legend->row(item);
    menu->addAction(tr("Убрать с графика"), this, [this, row, item] {
        if (m_legend->item(row) != item)
            return;
        m_plot->removeLine(row);
        delete m_legend->takeItem(row);
        updateTitle();
    });
    menu->popup(m_legend->viewport()->mapToGlobal(pos));
}

void ChartWindow::tell(const QString &text)
{
    m_dialogs->ask(this, DialogRequest::message(QMessageBox::Warning, windowTitle(), text));
}

void ChartWindow::openFiles()
{
    DialogRequest request;
    request.kind = DialogRequest::OpenFiles;
    request.title = tr("Открыть файлы измерений");
    request.textValue = m_recorder ? m_recorder->folder() : QString();
    request.nameFilter = tr("Файлы измерений (*.csv);;Все файлы (*)");
    QPointer<ChartWindow> self(this);
    m_dialogs->ask(this, request, [self](const DialogAnswer &answer) {
        if (self && answer.accepted)
            self->loadFiles(answer.files.isEmpty() ? QStringList{answer.textValue} : answer.files);
    });
}

void ChartWindow::loadFiles(const QStringList &paths)
{
    m_queuedPaths += paths;
    if (!m_loadThread)
        startLoad();
}

void ChartWindow::startLoad()
{
    if (m_queuedPaths.isEmpty())
        return;
    m_load = std::make_shared<Load>();
    m_load->paths = m_queuedPaths;
    m_queuedPaths.clear();
    m_load->firstSplit = m_recorder ? m_recorder->firstSplit() : QString();
    m_load->lastSplit = m_recorder ? m_recorder->lastSplit() : QString();
    const std::shared_ptr<Load> load = m_load;
    m_loadThread = QThread::create([load] {
        for (const QString &path : qAsConst(load->paths)) {
            if (load->progress.cancel)
                break;
            load->progress.doneBytes = 0;
            load->progress.totalBytes = 0;
            load->results << MeasurementFileReader::read(path, load->firstSplit, load->lastSplit, &load->progress);
            ++load->filesDone;
        }
    });
    m_loadThread->setObjectName(QStringLiteral("chart file load"));
    connect(m_loadThread, &QThread::finished, this, &ChartWindow::finishLoad);
    showLoadProgress();
    m_loadBar->show();
    m_loadTimer->start();
    m_loadThread->start(QThread::LowPriority);
}

void ChartWindow::showLoadProgress()
{
    if (!m_load)
        return;
    const int files = m_load->paths.size();
    const int done = qMin<int>(m_load->filesDone, files);
    const qint64 total = m_load->progress.totalBytes;
    const double part = total > 0 ? double(m_load->progress.doneBytes) / double(total) : 0.0;
    m_loadProgress->setValue(int(1000.0 * (done + (done < files ? part : 0.0)) / qMax(1, files)));
    const QString name = QFileInfo(m_load->paths.value(done)).fileName();
    m_loadLabel->setText(done < files ? tr("Чтение файла %1 из %2: %3").arg(done + 1).arg(files).arg(name)
                                      : tr("Чтение файлов"));
}

void ChartWindow::cancelLoad()
{
    m_queuedPaths.clear();
    if (m_load)
        m_load->progress.cancel = true;
}

void ChartWindow::finishLoad()
{
    m_loadTimer->stop();
    m_loadThread->wait();
    m_loadThread->deleteLater();
    m_loadThread = nullptr;
    const std::shared_ptr<Load> load = std::move(m_load);
    QStringList problems;
    bool added = false;
    for (const MeasurementFileReader::Result &result : qAsConst(load->results)) {
        if (result.cancelled)
            continue;
        if (!result.problem.isEmpty())
            problems << result.problem;
        if (result.channel) {
            addChannel(result.channel);
            added = true;
        }
    }
    if (added)
        m_plot->showWholeRun();
    if (m_queuedPaths.isEmpty())
        m_loadBar->hide();
    else
        startLoad();
    emit loadFinished();
    if (!problems.isEmpty())
        tell(problems.join(QLatin1Char('\n')));
}

void ChartWindow::askToSave(const QString &title, const QString &filter, const QString &suffix,
                            const std::function<bool(const QString &)> &write)
{
    DialogRequest request;
    request.kind = DialogRequest::SaveFile;
    request.title = title;
    request.nameFilter = filter;
    const QString folder = m_recorder ? m_recorder->folder() : QString();
    request.textValue = (folder.isEmpty() ? QString() : folder + QLatin1Char('/')) + tr("график.")
        + suffix;
    QPointer<ChartWindow> self(this);
    m_dialogs->ask(this, request, [self, suffix, write](const DialogAnswer &answer) {
        if (!self || !answer.accepted || answer.textValue.isEmpty())
            return;
        QString path = answer.textValue;
        if (QFileInfo(path).suffix().isEmpty())
            path += QLatin1Char('.') + suffix;
        if (!write(path))
            self->tell(tr("Не удалось записать файл «%1».").arg(QDir::toNativeSeparators(path)));
    });
}

void ChartWindow::exportPng()
{
    QPointer<TrendPlot> plot(m_plot);
    askToSave(tr("Сохранить график (PNG)"), QStringLiteral("PNG (*.png)"), QStringLiteral("png"),
              [plot](const QString &path) { return plot && plot->image().save(path, "PNG"); });
}

void ChartWindow::exportReadings()
{
    exportText(tr("Сохранить показания графика (CSV)"), &TrendPlot::readingsCsv);
}

void ChartWindow::exportCsv()
{
    exportText(tr("Сохранить сводку графика по интервалам (CSV)"), &TrendPlot::csv);
}

void ChartWindow::exportText(const QString &title, QByteArray (TrendPlot::*text)() const)
{
    QPointer<TrendPlot> plot(m_plot);
    askToSave(title, QStringLiteral("CSV (*.csv)"),
              QStringLiteral("csv"), [plot, text](const QString &path) {
                  if (!plot)
                      return false;
                  const QByteArray bytes = ((*plot).*text)();
                  QFile file(path);
                  return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size()
                      && file.flush();
              });
}
