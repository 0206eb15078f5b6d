#include "gui/chartwindow.h"

#include "chart/measurementfilereader.h"
#include "chart/trendarchive.h"
#include "gui/trendplot.h"
#include "gui/dialogs.h"
#include "model/sensordevice.h"
#include "table/recorder.h"
#include "table/tableman.h"

#include <QCoreApplication>
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

QList<ChartWindow *> &windows()
{
    static QList<ChartWindow *> list;
    return list;
}

// Line colours, told apart on screen and on paper.
const QColor Palette[] = {
    QColor(31, 119, 180), QColor(214, 39, 40),  QColor(44, 160, 44),   QColor(255, 127, 14),
    QColor(148, 103, 189), QColor(140, 86, 75), QColor(227, 119, 194), QColor(23, 190, 207),
    QColor(127, 127, 127), QColor(188, 189, 34),
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

ChartWindow::ChartWindow(const Sources &sources)
    : QWidget(nullptr)
    , m_archive(sources.archive)
    , m_recorder(sources.recorder)
{
    setAttribute(Qt::WA_DeleteOnClose);
    // Closing the main window ends the program even while charts are open.
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(QStringLiteral("График — ") + QCoreApplication::applicationName());
    resize(1100, 620);
    windows().append(this);

    auto *add = new QToolButton;
    add->setText(QStringLiteral("Добавить канал"));
    add->setPopupMode(QToolButton::InstantPopup);
    m_addMenu = new QMenu(add);
    add->setMenu(m_addMenu);
    connect(m_addMenu, &QMenu::aboutToShow, this, &ChartWindow::fillAddMenu);
    auto *open = new QPushButton(QStringLiteral("Открыть файлы измерений…"));
    auto *whole = new QPushButton(QStringLiteral("Весь период"));
    auto *png = new QPushButton(QStringLiteral("Сохранить PNG…"));
    auto *csv = new QPushButton(QStringLiteral("Сохранить CSV…"));
    open->setObjectName(QStringLiteral("btnOpenFiles"));
    whole->setObjectName(QStringLiteral("btnWholeRun"));
    png->setObjectName(QStringLiteral("btnExportPng"));
    csv->setObjectName(QStringLiteral("btnExportCsv"));
    add->setObjectName(QStringLiteral("btnAddChannel"));

    m_plot = new TrendPlot;
    QPointer<TableMan> samples(sources.table);
    m_plot->setSampleSource([samples](int which) { return samples ? samples->sample(which) : NO_SAMPLE; });
    m_legend = new QListWidget;
    m_legend->setObjectName(QStringLiteral("chartLegend"));
    m_legend->setContextMenuPolicy(Qt::CustomContextMenu);
    m_legend->setMinimumWidth(220);

    connect(open, &QPushButton::clicked, this, &ChartWindow::openFiles);
    connect(whole, &QPushButton::clicked, m_plot, &TrendPlot::showWholeRun);
    connect(png, &QPushButton::clicked, this, &ChartWindow::exportPng);
    connect(csv, &QPushButton::clicked, this, &ChartWindow::exportCsv);
    connect(m_legend, &QListWidget::itemChanged, this, &ChartWindow::onLegendChanged);
    connect(m_legend, &QListWidget::customContextMenuRequested, this, &ChartWindow::showLegendMenu);
    if (m_archive)
        connect(m_archive, &TrendArchive::readingAdded, this, &ChartWindow::onReadingAdded);

    auto *buttons = new QHBoxLayout;
    for (QWidget *w : {static_cast<QWidget *>(add), static_cast<QWidget *>(open), static_cast<QWidget *>(whole)})
        buttons->addWidget(w);
    buttons->addStretch(1);
    buttons->addWidget(png);
    buttons->addWidget(csv);
    auto *splitter = new QSplitter;
    splitter->addWidget(m_plot);
    splitter->addWidget(m_legend);
    splitter->setStretchFactor(0, 1);
    splitter->setStretchFactor(1, 0);
    splitter->setSizes({780, 320});
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(splitter, 1);
}

ChartWindow::~ChartWindow()
{
    windows().removeAll(this);
}

QList<ChartWindow *> ChartWindow::openWindows()
{
    return windows();
}

ChartWindow *ChartWindow::showForRow(const Sources &sources, int row)
{
    auto *window = new ChartWindow(sources);
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
    const QColor color = Palette[m_colorIndex++ % int(sizeof(Palette) / sizeof(Palette[0]))];
    m_plot->addLine(channel, color);
    auto *item = new QListWidgetItem(swatch(color), channel->identity() + QLatin1Char('\n') + channel->type
                                         + QStringLiteral(", ") + channel->unitText());
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Checked);
    item->setToolTip(channel->name() + QLatin1Char('\n')
                     + (channel->filePath.isEmpty() ? QStringLiteral("Показания этого запуска")
                                                    : QDir::toNativeSeparators(channel->filePath)));
    const QSignalBlocker blocker(m_legend);
    m_legend->addItem(item);
    return true;
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
        m_addMenu->addAction(QStringLiteral("Все каналы уже на графике"))->setEnabled(false);
        return;
    }
    for (const auto &channel : qAsConst(missing)) {
        m_addMenu->addAction(channel->name() + QStringLiteral(", ") + channel->unitText(), this,
                             [this, channel] { addChannel(channel); });
    }
    if (missing.size() > 1) {
        m_addMenu->addSeparator();
        m_addMenu->addAction(QStringLiteral("Все каналы"), this, [this, missing] {
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
    menu->addAction(QStringLiteral("Убрать с графика"), this, [this, row, item] {
        if (m_legend->item(row) != item)
            return;
        m_plot->removeLine(row);
        delete m_legend->takeItem(row);
    });
    menu->popup(m_legend->viewport()->mapToGlobal(pos));
}

void ChartWindow::tell(const QString &text)
{
    Dialogs::ask(this, DialogRequest::message(QMessageBox::Warning, windowTitle(), text));
}

void ChartWindow::openFiles()
{
    DialogRequest request;
    request.kind = DialogRequest::OpenFiles;
    request.title = QStringLiteral("Открыть файлы измерений");
    request.textValue = m_recorder ? m_recorder->folder() : QString();
    request.nameFilter = QStringLiteral("Файлы измерений (*.csv);;Все файлы (*)");
    QPointer<ChartWindow> self(this);
    Dialogs::ask(this, request, [self](const DialogAnswer &answer) {
        if (self && answer.accepted)
            self->loadFiles(answer.files.isEmpty() ? QStringList{answer.textValue} : answer.files);
    });
}

void ChartWindow::loadFiles(const QStringList &paths)
{
    const QString firstSplit = m_recorder ? m_recorder->firstSplit() : QString();
    const QString lastSplit = m_recorder ? m_recorder->lastSplit() : QString();
    QStringList problems;
    bool added = false;
    for (const QString &path : paths) {
        const MeasurementFileReader::Result result =
            MeasurementFileReader::read(path, firstSplit, lastSplit);
        if (!result.problem.isEmpty())
            problems << result.problem;
        if (result.channel) {
            addChannel(result.channel);
            added = true;
        }
    }
    if (added)
        m_plot->showWholeRun();
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
    request.textValue = (folder.isEmpty() ? QString() : folder + QLatin1Char('/')) + QStringLiteral("график.")
        + suffix;
    QPointer<ChartWindow> self(this);
    Dialogs::ask(this, request, [self, suffix, write](const DialogAnswer &answer) {
        if (!self || !answer.accepted || answer.textValue.isEmpty())
            return;
        QString path = answer.textValue;
        if (QFileInfo(path).suffix().isEmpty())
            path += QLatin1Char('.') + suffix;
        if (!write(path))
            self->tell(QStringLiteral("Не удалось записать файл «%1».").arg(QDir::toNativeSeparators(path)));
    });
}

void ChartWindow::exportPng()
{
    QPointer<TrendPlot> plot(m_plot);
    askToSave(QStringLiteral("Сохранить график (PNG)"), QStringLiteral("PNG (*.png)"), QStringLiteral("png"),
              [plot](const QString &path) { return plot && plot->image().save(path, "PNG"); });
}

void ChartWindow::exportCsv()
{
    QPointer<TrendPlot> plot(m_plot);
    askToSave(QStringLiteral("Сохранить показания графика (CSV)"), QStringLiteral("CSV (*.csv)"),
              QStringLiteral("csv"), [plot](const QString &path) {
                  if (!plot)
                      return false;
                  const QByteArray bytes = plot->csv();
                  QFile file(path);
                  return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size()
                      && file.flush();
              });
}
