#include "gui/mainwindow.h"
#include "ui_mainwindow.h"

#include "alarms/alarmrules.h"
#include "base/appsettings.h"
#include "base/logging.h"
#include "base/installpaths.h"
#include "base/language.h"
#include "base/logmessagehandler.h"
#include "base/singleinstance.h"
#include "gui/chartwindow.h"
#include "chart/trendarchive.h"
#include "i2c/heaterschedule.h"
#include "bus/busbackend.h"
#include "onewire/adapter.h"
#include "onewire/tmex.h"
#include "base/clock.h"
#include "gui/desktop.h"
#include "gui/dialogs.h"
#include "model/alarmboard.h"
#include "publish/mqttconfig.h"
#include "publish/mqttpublisher.h"
#include "gui/mqttstatuslabel.h"
#include "session/measurementsession.h"
#include "session/outputregistry.h"
#include "model/sensordevice.h"
#include "sensors/acquisition.h"
#include "sensors/ds18x20.h"
#include "sensors/sensor.h"
#include "gui/filenametemplate.h"
#include "table/recorder.h"
#include "table/nosample.h"
#include "table/tableman.h"

#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QPointer>
#include <QRegularExpression>
#include <QScreen>
#include <QSettings>
#include <QStatusBar>
#include <QTableView>
#include <QTextBrowser>
#include <QTextCodec>
#include <QThread>
#include <QTimer>
#include <clocale>
#include <cmath>

namespace {

const char kWaitingStyle[] = "background-color: red;";
const char kOverrunStyle[] = "background-color: rgb(252,252,194);";
const char kDoneStyle[] = "background-color: lightgreen;";

// The start of a cycle that was never due: the first tick is always due.
QDateTime epoch()
{
    return QDateTime::fromMSecsSinceEpoch(0);
}

} // namespace

MainWindow::MainWindow(BusBackend *bus, const WindowPeers &peers, QWidget *parent)
    : QMainWindow(parent)
    , ownDialogs(peers.dialogs ? nullptr : std::make_unique<Dialogs>())
    , ownDesktop(peers.desktop ? nullptr : std::make_unique<Desktop>())
    , dialogs(peers.dialogs ? peers.dialogs : ownDialogs.get())
    , desktop(peers.desktop ? peers.desktop : ownDesktop.get())
    , ui(new Ui::MainWindow)
    , m_bus(bus)
    , m_outputs(peers.outputs ? peers.outputs : &OutputRegistry::entries())
{
    if (!SingleInstance::claim()) {
        m_instanceState = -1;
        dialogs->message(QMessageBox::Warning, nullptr, tr("Орвекс"),
                         tr("Приложение уже запущено.\nВы можете запустить только один экземпляр приложения."));
        return;
    }
    m_instanceState = 1;

    initSettings();

    lastCycleTime = epoch();
    appTimer = new QTimer;
    connect(appTimer, &QTimer::timeout, this, &MainWindow::onAppTimer);
    appTimer->setInterval(2000);
    appTimer->start();

    ui->frmUsbAdaptSignal->setStyleSheet(QStringLiteral("background-color: yellow"));
    ui->frmUsbAdaptSignal->setMinimumWidth(15);
    ui->frmUsbAdaptSignal->setMinimumHeight(10);

    // The serial number field blends into its group box.
    ui->lineSnUSBadapter->clear();
    QPalette palette = ui->lineSnUSBadapter->palette();
    const QColor window = ui->lineSnUSBadapter->parentWidget()->palette().color(QPalette::Window);
    palette.setBrush(QPalette::All, QPalette::Base, QBrush(window, Qt::SolidPattern));
    ui->lineSnUSBadapter->setPalette(palette);

    // Never narrower than a whole serial number, nor the countdown than its
    // longest text, so neither is cut when the row is full; the red box of a
    // cycle keeps a margin around its words.
    ui->lineSnUSBadapter->setMinimumWidth(ui->lineSnUSBadapter->fontMetrics().horizontalAdvance(
                                              QStringLiteral("0000000000000000")) + 12);
    const QFontMetrics countdown = ui->lblTimeTo->fontMetrics();
    ui->lblTimeTo->setMargin(3);
    ui->lblTimeTo->setMinimumWidth(qMax(countdown.horizontalAdvance(tr("идет замер")),
                                        countdown.horizontalAdvance(QStringLiteral("300") + tr("сек.")))
                                   + 2 * ui->lblTimeTo->margin() + 2);
    ui->lblTimeTo->setAlignment(Qt::AlignCenter);

    ui->edtFiltre->setPlaceholderText(tr("серийный номер 1-Wire или I2C, тип датчика"));
    ui->edtFiltre->setToolTip(tr("Показываются строки, в серийном номере 1-Wire, серийном номере I2C или типе "
                                 "которых есть этот текст (без учёта регистра)"));

    ui->btnCalibrate->hide();
    ui->btnResetCal->hide();
    ui->btnSetSubtype->hide();
    ui->rb100P->hide();
    ui->rbPt100->hide();

    for (QAction *action : {ui->action_0, ui->action_1, ui->action_2, ui->action_3, ui->action_4, ui->action_5})
        action->setChecked(true);
    channelEnabled[0] = ui->action_0->isChecked();
    channelEnabled[1] = ui->action_1->isChecked();
    channelEnabled[2] = ui->action_2->isChecked();
    channelEnabled[3] = ui->action_3->isChecked();
    ui->action_4->setChecked(m_scanAllChannel);
    ui->action_5->setChecked(m_scanAllType);

    m_exitRequested = false;
    adapterFound = false;

    chooseLogFile();
}

// The timer goes first so no tick can start; the session with its outputs
// next; the widgets last.
MainWindow::~MainWindow()
{
    delete appTimer;
    delete session;
    delete ui;
}

void MainWindow::initSettings()
{
    // Numbers are formatted by Qt everywhere, so the C library's locale must
    // not change how they are read or written.
    if (!std::setlocale(LC_ALL, "Russian"))
        std::setlocale(LC_ALL, "ru_RU.UTF-8");
    std::setlocale(LC_NUMERIC, "C");
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
    QCoreApplication::setOrganizationName(QStringLiteral("Tresvant"));
    QCoreApplication::setOrganizationDomain(QStringLiteral("tresvant.example"));
    QCoreApplication::setApplicationName(QStringLiteral("Орвекс"));
    appSettings();

    ui->setupUi(this);
    // After setupUi, which puts the designer's placeholder title in. The
    // application name stays as it is: the settings file is named after it.
    setWindowTitle(tr("Орвекс") + QLatin1Char(' ') + QCoreApplication::applicationVersion());
    addCommandMenus();
    addLanguageMenu();
    restoreGeometryOrFit();

    outPath.clear();

    QSettings &settings = appSettings();
    interval = storedIntervalS(settings);
    m_scanAllChannel = storedScanAllChannel(settings);
    m_scanAllType = storedScanAllType(settings);

    ui->frmWrFile->setMinimumWidth(15);
    ui->frmWrFile->setMinimumHeight(15);

    askRecordingFolder(settings);
    askInterval(settings);
    startSession(settings);
    setUpTable();
    followOutputs();
}

// The run the window shows: its one bus, the table kept, recording into the
// folder the operator chose, and every registered output its settings ask
// for (one that cannot start is logged; the others run).
void MainWindow::startSession(QSettings &settings)
{
    SessionDescription description;
    description.bus = m_bus;
    description.scanAllChannel = m_scanAllChannel;
    description.scanAllType = m_scanAllType;
    description.keepTable = true;
    description.recordingFolder = outPath;
    description.host.window = true;
    description.host.cycleS = interval;
    description.host.report = [](const QString &line) { qCDebug(logCritical()) << line; };
    QString error;
    if (!OutputRegistry::plan(*m_outputs, settings, nullptr, &description.outputs, &error))
        description.host.report(error);
    const auto report = description.host.report;
    session = MeasurementSession::fromDescription(std::move(description), &error).release();
    if (!error.isEmpty())
        report(error);
    sensor = &session->sensor();
    // A warning from below the window (a driver's) opens a box and does not wait for it.
    sensor->notices().setHandler([dialogs = dialogs](const OperatorNotices::Notice &notice) {
        dialogs->ask(nullptr, DialogRequest::message(QMessageBox::Warning, notice.title, notice.text,
                                                     QMessageBox::Yes, QMessageBox::NoButton));
    });
    tableMan = &session->table();
}

// The first start-up question: record, and into which folder.
void MainWindow::askRecordingFolder(QSettings &settings)
{
    if (dialogs->question(nullptr, tr("Задание параметров"), tr("Включить запись в файл?"),
                          QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes) {
        outPath = settings.value(QStringLiteral("File/Path"), QString()).toString();
        qDebug() << "Read settings path = " << outPath;
        const QString chosen = dialogs->getExistingDirectory(nullptr, outPath);
        if (chosen.isEmpty()) {
            ui->lineFilePath->clear();
            outPath.clear();
            ui->lblWriteToFile->setText(tr("Запись отключена. "));
            ui->frmWrFile->setStyleSheet(QStringLiteral("background-color: grey"));
        } else {
            outPath = chosen;
            ui->lineFilePath->setText(outPath);
            settings.setValue(QStringLiteral("File/Path"), outPath);
            ui->lblWriteToFile->setText(tr("Запись включена. "));
            ui->frmWrFile->setStyleSheet(QStringLiteral("background-color: green"));
        }
    }

    if (outPath.isEmpty())
        ui->gpbFile->hide();
}

// The last start-up question, only when recording: the interval.
void MainWindow::askInterval(QSettings &settings)
{
    if (outPath.isEmpty()) {
        ui->lblTextTimeTo->hide();
        ui->lblTimeTo->hide();
        ui->lblInterval->hide();
        ui->lblCurrentInterval->hide();
        interval = 0;
        return;
    }
    int chosen = interval;
    if (dialogs->getInt(this, tr("Задание параметров"),
                        tr("Введите интервал записи (1..300сек):"), interval, 1, 300, 1, &chosen, true)) {
        interval = chosen;
        settings.setValue(QStringLiteral("Time/Interval"), interval);
        ui->lblTimeTo->show();
        ui->lblTimeTo->setText(QString::number(interval) + tr("сек."));
        ui->lblInterval->setText(QString::number(interval) + tr("сек."));
    }
}

// The table view shows the session's table; the chart archive keeps every
// reading it shows from the start.
void MainWindow::setUpTable()
{
    QTableView *view = ui->tblSens;
    view->setModel(tableMan);
    view->setShowGrid(true);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    // Columns as wide as what they show, and the table scrolls sideways when
    // they are wider than the window: a stretched last column (the unit,
    // when the file column is hidden) would push the others apart.
    view->horizontalHeader()->setStretchLastSection(false);
    view->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    view->setTextElideMode(Qt::ElideRight);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(tableMan, &TableMan::shownChanged, this, &MainWindow::followTableShown);
    connect(tableMan, &TableMan::updated, this, &MainWindow::widenColumns);
    connect(tableMan, &TableMan::btnCalibrateStatusChange, this, &MainWindow::btnCalibrateStatusChange);

    tableMan->init(sensor->devices());
    followTableShown();
}

// Each column as wide as its header and the texts it shows now: an alarm's
// words after a value, a deviation column shown once a sample is set, and
// narrower again when they go. A column the operator has resized keeps its
// width unless its texts grow past it.
void MainWindow::widenColumns()
{
    QTableView *view = ui->tblSens;
    fittedWidths.resize(TableMan::ColumnCount);
    for (int column = 0; column < TableMan::ColumnCount; ++column) {
        if (view->isColumnHidden(column))
            continue;
        // The table view's own hint (protected there, public in its base):
        // the widest of the rows shown.
        const int cells = static_cast<QAbstractItemView *>(view)->sizeHintForColumn(column);
        const int wanted = qMax(cells, view->horizontalHeader()->sectionSizeHint(column));
        const int now = view->columnWidth(column);
        const bool ours = fittedWidths.at(column) == 0 || now == fittedWidths.at(column);
        if (wanted != now && (ours || wanted > now)) {
            view->setColumnWidth(column, wanted);
            fittedWidths[column] = wanted;
        }
    }
}

void MainWindow::followTableShown()
{
    QTableView *view = ui->tblSens;
    for (int column = 0; column < TableMan::ColumnCount; ++column) {
        if (view->isColumnHidden(column) == tableMan->isColumnShown(column))
            view->setColumnHidden(column, !tableMan->isColumnShown(column));
    }
    for (int row = 0; row < tableMan->rowTotal(); ++row) {
        if (view->isRowHidden(row) == tableMan->isRowShown(row))
            view->setRowHidden(row, !tableMan->isRowShown(row));
    }
}

// The chart archive the chart windows read, and the broker's state in the
// status bar when publishing.
void MainWindow::followOutputs()
{
    archive = dynamic_cast<TrendArchive *>(session->output(QStringLiteral("chart")));
    mqtt = dynamic_cast<MqttPublisher *>(session->output(QStringLiteral("mqtt")));
    if (mqtt)
        statusBar()->addPermanentWidget(new MqttStatusLabel(mqtt));
    // Beside the status bar's passing messages, not in their place: a
    // recording notice stays readable while cycles overrun.
    overrunLabel = new QLabel(this);
    overrunLabel->setObjectName(QStringLiteral("overrunLabel"));
    overrunLabel->setStyleSheet(QLatin1String(kOverrunStyle));
    overrunLabel->hide();
    statusBar()->addPermanentWidget(overrunLabel);
    alarmLabel = new QLabel(this);
    alarmLabel->setObjectName(QStringLiteral("alarmLabel"));
    statusBar()->addPermanentWidget(alarmLabel);
    connect(&session->alarms(), &AlarmBoard::changed, this, &MainWindow::showAlarmCount);
    connect(&session->alarms(), &AlarmBoard::changed, this, &MainWindow::widenColumns);
    showAlarmCount();
}

void MainWindow::showAlarmCount()
{
    const int active = session->alarms().activeCount();
    alarmLabel->setText(active > 0 ? tr("Тревог: %1").arg(active) : tr("Тревог нет"));
    alarmLabel->setStyleSheet(active > 0 ? QStringLiteral("background-color: #ff9696") : QString());
}

// Every tick stops the timer and restarts it when done, so ticks never
// overlap a cycle and the 2 s period counts from the end of the work (on
// the interval's grid, restartTimer shortens the last wait to the due time).
void MainWindow::onAppTimer()
{
    appTimer->stop();
    if (m_exitRequested)
        return;
    // A tick that falls inside a table update (writing a reading logs, and
    // logging runs events) comes again later: the device list must not change
    // under the update.
    // Nor may a cycle start inside a threshold write, whose EEPROM wait
    // runs events.
    if (tableMan->isUpdating() || session->busy()) {
        restartTimer();
        return;
    }
    // Whether a measurement is due now: a missing adapter is looked for on
    // every tick, but the cycle (which without the adapter reads nothing and
    // only brings the table's ages up to date) runs only when due.
    bool due = interval < 1;
    if (interval < 1) {
        Clock::processEvents();
    } else {
        const QDateTime now = Clock::now();
        qint64 left = 0;
        if (lastCycleTime != epoch())
            left = qMax<qint64>(0, interval - (now.toSecsSinceEpoch() - lastCycleTime.toSecsSinceEpoch()));
        ui->lblTimeTo->setText(QString::number(left) + tr("сек."));
        if (now < lastCycleTime.addSecs(interval)) {
            if (adapterFound) {
                restartTimer();
                return;
            }
            // A missing adapter is retried on every tick.
        } else {
            // On the grid a cycle counts from the moment it was due, so the
            // starts stay an interval apart; one that fell more than an
            // interval behind (a long overrun, a stalled machine) starts a
            // new grid now.
            if (m_onGrid && lastCycleTime != epoch() && now < lastCycleTime.addSecs(2 * qint64(interval)))
                lastCycleTime = lastCycleTime.addSecs(interval);
            else
                lastCycleTime = now;
            due = true;
        }
    }

    if (session->open() != 1) {
        adapterFound = false;
        ui->lblUsbAdapter->setText(adapterMissingText());
        ui->frmUsbAdaptSignal->setStyleSheet(QStringLiteral("background-color: red"));
        ui->lineSnUSBadapter->clear();
        ui->lblTextTimeTo->hide();
        ui->lblTimeTo->hide();
        if (!due) {
            restartTimer();
            return;
        }
    } else {
        adapterFound = true;
        ui->lblUsbAdapter->setText(adapterFoundText());
        ui->frmUsbAdaptSignal->setStyleSheet(QStringLiteral("background-color: green"));
        // Without an interval there is no countdown to bring back.
        if (interval >= 1) {
            ui->lblTextTimeTo->show();
            ui->lblTimeTo->show();
        }
        const Acquisition::Result found = session->search();
        if (found.adapterSerial != ui->lineSnUSBadapter->text())
            ui->lineSnUSBadapter->setText(found.adapterSerial);
    }

    ui->lblTimeTo->setStyleSheet(QLatin1String(kWaitingStyle));
    ui->lblTimeTo->setText(tr("идет замер"));
    cycleGet();

    const bool overran = interval >= 1 && lastCycleTime.addSecs(interval) < Clock::now();
    ui->lblTimeTo->setStyleSheet(QLatin1String(overran ? kOverrunStyle : kDoneStyle));
    showOverrun(overran);
    if (!m_exitRequested)
        restartTimer();
}

// Every 2 s; on the grid no later than the next cycle is due, so it starts
// on time (at once after a cycle that ended past it).
void MainWindow::restartTimer()
{
    int waitMs = 2000;
    if (m_onGrid && interval >= 1 && lastCycleTime != epoch()) {
        const qint64 dueInMs = Clock::now().msecsTo(lastCycleTime.addSecs(interval));
        waitMs = int(qBound<qint64>(0, dueInMs, waitMs));
    }
    appTimer->setTimerType(m_onGrid ? Qt::PreciseTimer : Qt::CoarseTimer);
    appTimer->setInterval(waitMs);
    appTimer->start();
}

// A cycle that took longer than the interval says so in the status bar and
// the countdown's tooltip, until a cycle fits again.
void MainWindow::showOverrun(bool overran)
{
    const QString notice = overran ? tr("Замер длился %1 с, дольше интервала %2 с: следующий начнётся позже срока")
                                         .arg(QString::number(m_lastCycleMs / 1000.0, 'f', 1))
                                         .arg(interval)
                                   : QString();
    ui->lblTimeTo->setToolTip(notice);
    overrunLabel->setText(notice);
    overrunLabel->setVisible(overran);
}

// The adapter line when the adapter is missing: which port and why, as the
// bus or the adapter session tells it.
QString MainWindow::adapterFoundText() const
{
    switch (session->backend() ? session->backend()->kind() : BusBackend::Kind::Driver) {
    case BusBackend::Kind::SerialAdapter:
        return tr("Последовательный адаптер DS2480B найден. SN=");
    case BusBackend::Kind::KernelMaster:
        return tr("Мастер 1-Wire ядра Linux найден. SN=");
    case BusBackend::Kind::Simulated:
        return tr("Имитация шины 1-Wire подключена. SN=");
    case BusBackend::Kind::Driver:
    case BusBackend::Kind::UsbAdapter:
        break;
    }
    return tr("Преобразователь USB найден. SN=");
}

// The adapter line when the adapter is missing: which kind of master and
// why, as the bus or the adapter session tells it, in the operator's words.
QString MainWindow::adapterMissingText() const
{
    const BusBackend *backend = session->backend();
    QString text;
    switch (backend ? backend->kind() : BusBackend::Kind::Driver) {
    case BusBackend::Kind::SerialAdapter:
        text = tr("Последовательный адаптер DS2480B не найден.");
        break;
    case BusBackend::Kind::KernelMaster:
        text = tr("Мастер 1-Wire ядра Linux не найден.");
        break;
    case BusBackend::Kind::Simulated:
        text = tr("Имитация шины 1-Wire не отвечает.");
        break;
    case BusBackend::Kind::Driver:
    case BusBackend::Kind::UsbAdapter:
        text = tr("Преобразователь USB не найден.");
        break;
    }
    QString why = backend ? backend->problem() : QString();
    if (why.isEmpty())
        why = session->adapter().statusText().section(QLatin1Char('\n'), -1);
    if (!why.isEmpty())
        text += QLatin1Char(' ') + operatorReason(why);
    return text;
}

// The masters word their reasons in English for the log and orvexctl; the
// ones an operator meets at the window are said again in the window's
// language. Any other reason is shown as it is.
QString MainWindow::operatorReason(const QString &reason)
{
    static const struct {
        const char *pattern;
        const char *text;
    } known[] = {
        {"^(.+): no such port \\(is the adapter plugged in\\?\\)$",
         QT_TRANSLATE_NOOP("MainWindow", "%1: нет такого порта (подключён ли адаптер?)")},
        {"^(.+): the adapter is gone \\(unplugged\\?\\)$",
         QT_TRANSLATE_NOOP("MainWindow", "%1: адаптер пропал (отключён?)")},
        {"^(.+): no DS2480B answers \\(is a 1-Wire adapter plugged in there\\?\\)$",
         QT_TRANSLATE_NOOP("MainWindow", "%1: DS2480B не отвечает (подключён ли там адаптер 1-Wire?)")},
        {"^(.+): the 1-Wire bus is shorted$", QT_TRANSLATE_NOOP("MainWindow", "%1: шина 1-Wire замкнута")},
        {"^(.+): not plugged in$", QT_TRANSLATE_NOOP("MainWindow", "%1: не подключён")},
        {"^(.+): permission denied", QT_TRANSLATE_NOOP("MainWindow", "%1: нет прав доступа (правило udev "
                                                                    "60-orvex.rules, см. руководство)")},
        {"^(.+): held by another program", QT_TRANSLATE_NOOP("MainWindow", "%1: занят другой программой")},
        {"^()no USB 1-Wire adapter \\(DS2490, 04FA:2490\\) is plugged in$",
         QT_TRANSLATE_NOOP("MainWindow", "не подключён ни один адаптер USB 1-Wire (DS2490, 04FA:2490)")},
        {"^()Adapter not found$", QT_TRANSLATE_NOOP("MainWindow", "Адаптер не найден")},
    };
    for (const auto &entry : known) {
        const QRegularExpressionMatch match = QRegularExpression(QLatin1String(entry.pattern)).match(reason);
        if (match.hasMatch()) {
            const QString text = tr(entry.text);
            return text.contains(QLatin1String("%1")) ? text.arg(match.captured(1)) : text;
        }
    }
    return reason;
}

QString MainWindow::getDescriptionFamily(QVector<short> snv)
{
    return Sensor::describeFamily(snv.isEmpty() ? -1 : (snv.at(0) & 0xFF));
}

void MainWindow::cycleGet()
{
    // A reading is stale after two of the intervals at which readings come:
    // the set interval, or, when the bus takes longer, its last cycle and
    // the tick after it.
    const qint64 startMs = Clock::tickMs();
    const qint64 spacingMs = qMax<qint64>(interval >= 1 ? 1000LL * interval : 0, m_lastCycleMs + 2000);
    tableMan->setStaleAfterMs(2 * spacingMs);
    session->measure([this] { return m_exitRequested; });
    m_lastCycleMs = Clock::tickMs() - startMs;
    ui->lblAverage->setText(QString::number(tableMan->average(), 'f', 2));
    showRecordingProblem();
}

// Recording trouble stays visible beside the recording state until a write
// succeeds again.
void MainWindow::showRecordingProblem()
{
    if (outPath.isEmpty())
        return;
    const QString problem = session->recorder().problemText();
    const QString notice = session->recorder().noticeText();
    if (!notice.isEmpty() && !statusBar()->currentMessage().contains(notice))
        statusBar()->showMessage(notice);
    ui->lblWriteToFile->setText(tr("Запись включена. ") + problem);
    ui->frmWrFile->setStyleSheet(problem.isEmpty() ? QStringLiteral("background-color: green")
                                                   : QStringLiteral("background-color: orange"));
}

void MainWindow::btnCalibrateStatusChange(bool status)
{
    const bool visible = status && m_pt100Mode;
    for (QWidget *w : {static_cast<QWidget *>(ui->btnCalibrate), static_cast<QWidget *>(ui->btnResetCal),
                       static_cast<QWidget *>(ui->btnSetSubtype), static_cast<QWidget *>(ui->rb100P),
                       static_cast<QWidget *>(ui->rbPt100)})
        w->setVisible(visible);
}

void MainWindow::toggleChannel(int channel)
{
    QAction *actions[4] = {ui->action_0, ui->action_1, ui->action_2, ui->action_3};
    channelEnabled[channel] = !channelEnabled[channel];
    actions[channel]->setChecked(channelEnabled[channel]);
    uint8_t mask = 0;
    for (int i = 0; i < 4; ++i)
        mask |= channelEnabled[i] ? uint8_t(1 << i) : 0;
    session->setChannelMask(mask);
    tableMan->update();
}

void MainWindow::on_action_0_triggered() { toggleChannel(0); }
void MainWindow::on_action_1_triggered() { toggleChannel(1); }
void MainWindow::on_action_2_triggered() { toggleChannel(2); }
void MainWindow::on_action_3_triggered() { toggleChannel(3); }

void MainWindow::on_action_4_triggered()
{
    m_scanAllChannel = !m_scanAllChannel;
    ui->action_4->setChecked(m_scanAllChannel);
    sensor->setScanAllChannel(m_scanAllChannel);
    appSettings().setValue(QStringLiteral("Settings/ScanAllChannel"), m_scanAllChannel);
}

void MainWindow::on_action_5_triggered()
{
    m_scanAllType = !m_scanAllType;
    ui->action_5->setChecked(m_scanAllType);
    sensor->setScanAllType(m_scanAllType);
    appSettings().setValue(QStringLiteral("Settings/ScanAllType"), m_scanAllType);
}

void MainWindow::on_action_6_triggered()
{
    Recorder &recorder = session->recorder();
    auto *window = new FileNameTemplate(recorder.nameTemplate(), recorder.startTime(), sensor->devices(), dialogs);
    connect(window, &FileNameTemplate::templateChosen, this,
            [this](const QString &text) { session->recorder().setNameTemplate(text); });
    // A new window each time: it must go when closed, or every opening leaks one.
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
}

// Two text dialogs in sequence; the separators change only when both are
// confirmed. Neither waits: measuring goes on while they are open.
void MainWindow::on_action_11_triggered()
{
    DialogRequest first;
    first.kind = DialogRequest::InputText;
    first.title = tr("Задание разделителя ПЕРЕД числом");
    first.text = tr("Знаки перед каждым номером в заголовке файла измерений (серийный номер 1-Wire, адрес и "
                    "серийный номер I2C, номера каналов), чтобы табличный редактор читал номер как текст и не "
                    "терял ведущие нули, например '0B01145C0731AA28. Пустое поле: без знаков.")
        + QStringLiteral("\n\n") + tr("По умолчанию: '");
    first.textValue = session->recorder().firstSplit();
    const QPointer<MainWindow> self(this);
    dialogs->ask(this, first, [self](const DialogAnswer &firstAnswer) {
        if (!self || !firstAnswer.accepted)
            return;
        DialogRequest last;
        last.kind = DialogRequest::InputText;
        last.title = tr("Задание разделителя ПОСЛЕ числа");
        last.text = tr("Знаки после каждого номера в заголовке файла измерений. Пустое поле: без знаков.")
            + QStringLiteral("\n\n") + tr("По умолчанию: ");
        last.textValue = self->session->recorder().lastSplit();
        last.whatsThis = tr("Возможные варианты: двойные кавычки, одинарная кавычка, отсутствует или другие символы");
        self->dialogs->ask(self, last, [self, firstText = firstAnswer.textValue](const DialogAnswer &lastAnswer) {
            if (!self || !lastAnswer.accepted)
                return;
            self->session->recorder().setFirstSplit(firstText);
            self->session->recorder().setLastSplit(lastAnswer.textValue);
            appSettings().setValue(QStringLiteral("Settings/FirstSplit"), firstText);
            appSettings().setValue(QStringLiteral("Settings/LastSplit"), lastAnswer.textValue);
        });
    });
}

void MainWindow::on_action_7_triggered()
{
    dialogs->ask(nullptr, DialogRequest::message(QMessageBox::Information, tr("О программе"),
                                                 tr("Орвекс — контроль датчиков 1-Wire и I2C.\nTresvant, 2022")
                                                     + QLatin1Char('\n')
                                                     + tr("Версия %1").arg(QStringLiteral(ORVEX_VERSION))));
}

// The commands beyond the designer's menus: the interval grid and the MQTT
// settings under Settings, the charts in a menu of their own, the user
// guide under Help.
void MainWindow::addCommandMenus()
{
    m_onGrid = storedIntervalOnGrid(appSettings());
    QAction *grid = ui->menu_2->addAction(tr("Замеры по сетке интервала (от начала до начала)"));
    grid->setObjectName(QStringLiteral("actionIntervalGrid"));
    grid->setCheckable(true);
    grid->setChecked(m_onGrid);
    grid->setToolTip(tr("Замер начинается точно через интервал после начала предыдущего, а не через интервал "
                        "после ближайшего тика после его конца"));
    connect(grid, &QAction::toggled, this, [this](bool on) {
        m_onGrid = on;
        appSettings().setValue(QStringLiteral("Time/OnGrid"), on);
    });
    QAction *mqttSettings = ui->menu_2->addAction(tr("Публикация MQTT…"), this, &MainWindow::editMqttSettings);
    mqttSettings->setObjectName(QStringLiteral("actionMqtt"));

    QMenu *charts = new QMenu(tr("Графики"), ui->menuBar);
    charts->setObjectName(QStringLiteral("menuCharts"));
    ui->menuBar->insertMenu(ui->menu_4->menuAction(), charts);
    QAction *chart = charts->addAction(tr("График выбранного канала"), this, &MainWindow::showSensorChart);
    chart->setObjectName(QStringLiteral("actionChart"));
    QAction *files = charts->addAction(tr("Открыть файлы измерений…"), this, [this] {
        if (ChartWindow *window = openChart(-1))
            window->openFiles();
    });
    files->setObjectName(QStringLiteral("actionChartFiles"));

    QAction *guide = new QAction(tr("Руководство пользователя"), this);
    guide->setObjectName(QStringLiteral("actionUserGuide"));
    guide->setShortcut(QKeySequence::HelpContents);
    connect(guide, &QAction::triggered, this, &MainWindow::showUserGuide);
    ui->menu_4->insertAction(ui->action_7, guide);
}

// The user guide in a window of its own (Markdown, its pictures beside it),
// one at a time; where it is missing, the operator is told where it was looked for.
void MainWindow::showUserGuide()
{
    if (guideWindow) {
        guideWindow->show();
        guideWindow->raise();
        return;
    }
    const QString path = InstallPaths::userGuide();
    if (!QFileInfo(path).isReadable()) {
        dialogs->ask(this, DialogRequest::message(QMessageBox::Warning, tr("Руководство пользователя"),
                                                  tr("Руководство пользователя не найдено: %1").arg(path)));
        return;
    }
    auto *browser = new QTextBrowser;
    browser->setObjectName(QStringLiteral("userGuide"));
    browser->setAttribute(Qt::WA_DeleteOnClose);
    browser->setWindowTitle(tr("Руководство пользователя") + QStringLiteral(" — ") + tr("Орвекс"));
    browser->setOpenExternalLinks(true);
    browser->setSearchPaths({QFileInfo(path).absolutePath()});
    browser->setSource(QUrl::fromLocalFile(path), QTextDocument::MarkdownResource);
    browser->resize(QSize(1000, 800).boundedTo(size()));
    guideWindow = browser;
    browser->show();
}

// "Публикация MQTT…": the [Mqtt] settings the window publishes with, in a
// form instead of the settings file. What is entered is checked as the
// program checks it at start, stored, and used from the next start.
void MainWindow::editMqttSettings()
{
    QSettings &settings = appSettings();
    const auto stored = [&](const char *key) { return settings.value(QLatin1String(key)).toString(); };
    DialogRequest request;
    request.kind = DialogRequest::Form;
    request.title = tr("Публикация MQTT");
    request.text = tr("Показания публикуются брокеру MQTT, когда задан адрес; пустой адрес выключает "
                      "публикацию. Пароль не хранится в настройках: только файл, первая строка которого — пароль. "
                      "Изменения применятся при следующем запуске программы.");
    auto field = [](DialogField::Kind kind, const QString &label, const QString &text, const QString &tip) {
        DialogField f;
        f.kind = kind;
        f.label = label;
        f.text = text;
        f.toolTip = tip;
        return f;
    };
    request.fields << field(DialogField::Text, tr("Адрес брокера"), stored("Mqtt/Url"),
                            tr("mqtt://узел[:порт][/префикс] или mqtts://… для TLS"))
                   << field(DialogField::Text, tr("Пользователь"), stored("Mqtt/Username"), QString())
                   << field(DialogField::File, tr("Файл пароля"), stored("Mqtt/PasswordFile"), QString())
                   << field(DialogField::File, tr("Сертификат CA (PEM)"), stored("Mqtt/CaFile"),
                            tr("Пусто: сертификаты системы"))
                   << field(DialogField::Text, tr("Префикс тем"), stored("Mqtt/TopicPrefix"),
                            tr("Если в адресе нет пути; по умолчанию orvex"));
    DialogField discovery = field(DialogField::Flag, tr("Обнаружение в Home Assistant"), QString(), QString());
    discovery.flag = settings.value(QStringLiteral("Mqtt/Discovery"), true).toBool();
    request.fields << discovery;
    const QPointer<MainWindow> self(this);
    dialogs->ask(this, request, [self](const DialogAnswer &answer) {
        if (!self || !answer.accepted || answer.fields.size() != 6)
            return;
        MqttConfig config;
        config.url = answer.fields.at(0).text.trimmed();
        config.prefixSetting = answer.fields.at(4).text.trimmed();
        QString error;
        if (!config.url.isEmpty()) {
            config.parseUrl(&error);
            if (error.isEmpty()) {
                config.applyDefaults();
                config.checkTopics(&error);
            }
        }
        if (error.isEmpty() && !answer.fields.at(2).text.trimmed().isEmpty()
            && !QFileInfo(answer.fields.at(2).text.trimmed()).isReadable())
            error = tr("файл пароля не читается: %1").arg(answer.fields.at(2).text.trimmed());
        if (!error.isEmpty()) {
            self->dialogs->ask(self, DialogRequest::message(QMessageBox::Warning, tr("Публикация MQTT"),
                                                            tr("Настройки MQTT не сохранены: %1").arg(error)));
            return;
        }
        QSettings &settings = appSettings();
        const char *keys[] = {"Mqtt/Url", "Mqtt/Username", "Mqtt/PasswordFile", "Mqtt/CaFile", "Mqtt/TopicPrefix"};
        for (int i = 0; i < 5; ++i) {
            const QString value = answer.fields.at(i).text.trimmed();
            if (value.isEmpty())
                settings.remove(QLatin1String(keys[i]));
            else
                settings.setValue(QLatin1String(keys[i]), value);
        }
        settings.setValue(QStringLiteral("Mqtt/Discovery"), answer.fields.at(5).flag);
        settings.sync();
        self->statusBar()->showMessage(tr("Настройки MQTT сохранены; они применятся при следующем запуске программы."));
    });
}

// "Язык / Language" in the settings menu: the locale's language or one
// chosen. The choice is stored and applies from the next start, since the
// texts already shown are not re-read.
void MainWindow::addLanguageMenu()
{
    QMenu *menu = ui->menu_2->addMenu(QStringLiteral("Язык / Language"));
    menu->setObjectName(QStringLiteral("menuLanguage"));
    auto *group = new QActionGroup(menu);
    const QString stored = appSettings().value(QLatin1String(Language::kSettingsKey)).toString();
    const struct {
        QString text;
        QString value;
    } choices[] = {{tr("Как в системе"), QString()},
                   // Each language named in itself, so whoever cannot read the
                   // current one still finds their own.
                   {QStringLiteral("Русский"), QLatin1String(Language::kRussian)},
                   {QStringLiteral("English"), QLatin1String(Language::kEnglish)}};
    for (const auto &choice : choices) {
        QAction *action = menu->addAction(choice.text);
        action->setCheckable(true);
        action->setData(choice.value);
        action->setChecked(Language::isChoice(stored) ? Language::chosen(stored, {}) == choice.value
                                                      : choice.value.isEmpty());
        group->addAction(action);
        connect(action, &QAction::triggered, this, [this, value = choice.value] { chooseLanguage(value); });
    }
}

void MainWindow::chooseLanguage(const QString &language)
{
    appSettings().setValue(QLatin1String(Language::kSettingsKey), language);
    appSettings().sync();
    dialogs->ask(this, DialogRequest::message(QMessageBox::Information, QStringLiteral("Язык / Language"),
                                              tr("Язык сменится при следующем запуске программы.")));
}

// The size and place of the last run; on a first start, large enough for
// the demo bus's rows and columns where the screen allows.
void MainWindow::restoreGeometryOrFit()
{
    const QByteArray stored = appSettings().value(QStringLiteral("View/Geometry")).toByteArray();
    if (!stored.isEmpty() && restoreGeometry(stored))
        return;
    QSize size(1600, 1100);
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        size = size.boundedTo(screen->availableGeometry().size());
    resize(size);
}

// Hands a reference sample (NO_SAMPLE: none) to the table and the recorder
// together, then refreshes the table.
void MainWindow::applySample(int which, double value)
{
    if (which == 0) {
        tableMan->setSample0(value);
        session->recorder().setSample0(value);
    } else {
        tableMan->setSample1(value);
        session->recorder().setSample1(value);
    }
    tableMan->update();
}

void MainWindow::takeSample(int which)
{
    QLineEdit *field = which == 0 ? ui->lineSampleCh1 : ui->lineSampleCh2;
    bool ok = false;
    double value = Recorder::parseNumber(field->text().trimmed(), &ok);
    if (ok) {
        field->setStyleSheet(QString());
    } else {
        field->setStyleSheet(QStringLiteral("background-color: red"));
        value = NO_SAMPLE;
    }
    applySample(which, value);
}

void MainWindow::resetSample(int which)
{
    QLineEdit *field = which == 0 ? ui->lineSampleCh1 : ui->lineSampleCh2;
    field->setText(which == 0 ? tr("Образец канал 0") : tr("Образец канал 1"));
    field->setStyleSheet(QString());
    applySample(which, NO_SAMPLE);
}

void MainWindow::on_lineSampleCh1_editingFinished() { takeSample(0); }
void MainWindow::on_lineSampleCh2_editingFinished() { takeSample(1); }
void MainWindow::on_btnResetSample1_clicked() { resetSample(0); }
void MainWindow::on_btnResetSample2_clicked() { resetSample(1); }

void MainWindow::on_btnCopyAverage_clicked()
{
    ui->lineSampleCh1->setText(ui->lblAverage->text());
    takeSample(0);
    tableMan->update();
}

// On Yes the calibration (or its reset) is requested against the reference
// sample of that moment; the emulators are written at their next read.
void MainWindow::confirmCalibration(bool reset, const QString &title, const QString &text)
{
    const QPointer<MainWindow> self(this);
    dialogs->ask(nullptr, DialogRequest::message(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No),
                 [self, reset](const DialogAnswer &answer) {
                     if (self && answer.button == QMessageBox::Yes)
                         self->tableMan->requestCalibration(reset);
                 });
}

void MainWindow::on_btnCalibrate_clicked()
{
    // The correction is the reference minus the reading: without a reference
    // it would be computed from the "no sample" marker and written into the
    // device.
    if (!isSampleSet(tableMan->sample(0))) {
        dialogs->ask(nullptr, DialogRequest::message(QMessageBox::Warning, tr("Подтверждение калибровки"),
                                                     tr("Калибровка не начата: не задано образцовое значение "
                                                        "канала 0. Введите его в поле «Образец канал 0»."),
                                                     QMessageBox::Ok));
        return;
    }
    confirmCalibration(false, tr("Подтверждение калибровки"),
                       tr("Запись новых калибровочных значений безвозвратно сотрёт старые.\n"
                                      "Подтверждаете запись новых значений?"));
}

void MainWindow::on_btnResetCal_clicked()
{
    confirmCalibration(true, tr("Подтверждение сброса калибровки"),
                       tr("Сброс калибровочных значений в 0 безвозвратно сотрёт старые.\n"
                                      "Подтверждаете запись новых значений?"));
}

void MainWindow::on_btnSetSubtype_clicked()
{
    if (ui->rb100P->isChecked())
        tableMan->requestSubtype(2);
    else if (ui->rbPt100->isChecked())
        tableMan->requestSubtype(1);
    else
        dialogs->ask(nullptr, DialogRequest::message(QMessageBox::Warning, tr("Установка типа сенсора"),
                                                     tr("Следует выбрать один из типов сенсора"),
                                                     QMessageBox::Yes));
}

void MainWindow::on_edtFiltre_textChanged(const QString &arg1)
{
    if (tableMan)
        tableMan->setFilter(arg1);
}

void MainWindow::on_btnResetFiltre_clicked()
{
    ui->edtFiltre->clear();
}

void MainWindow::on_tblSens_customContextMenuRequested(const QPoint &pos)
{
    auto *menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
#ifdef _WIN32
    menu->addAction(tr("Показать в проводнике"), this, &MainWindow::showSensorInExplorer);
#else
    menu->addAction(tr("Открыть папку в файловом менеджере"), this, &MainWindow::showSensorInExplorer);
#endif
    menu->addAction(tr("Показать график"), this, &MainWindow::showSensorChart);
    menu->addAction(tr("Пороги тревоги…"), this, &MainWindow::editAlarmLimits);
    if (thermometerAt(selectedRow()))
        menu->addAction(tr("Записать пороги в датчик"), this, &MainWindow::writeSensorThresholds);
    menu->popup(ui->tblSens->viewport()->mapToGlobal(pos));
}

const SensorDevice *MainWindow::thermometerAt(int row) const
{
    if (!session || !tableMan || row < 0 || row >= tableMan->rowTotal())
        return nullptr;
    const uint64_t key = tableMan->channelAt(row).deviceKey;
    for (const SensorDevice *device : session->allDevices()) {
        if (device && device->key == key && Sensor::isThermometerFamily(device->family))
            return device;
    }
    return nullptr;
}

void MainWindow::writeSensorThresholds()
{
    const SensorDevice *device = thermometerAt(selectedRow());
    if (!device)
        return;
    const uint64_t key = device->key;
    const SensorChannel channel = device->channels.value(0);
    const QString romText = romToText(device->rom, false);
    DialogRequest high;
    high.kind = DialogRequest::InputInt;
    high.title = tr("Записать пороги в датчик");
    high.text = tr("Верхний порог TH датчика %1, °C:").arg(romText);
    high.intMin = Ds18x20::kLowestThreshold;
    high.intMax = Ds18x20::kHighestThreshold;
    high.intValue = std::isnan(channel.alarmHigh) ? Ds18x20::kHighestThreshold : int(channel.alarmHigh);
    const double lowNow = channel.alarmLow;
    dialogs->ask(this, high, [this, key, lowNow](const DialogAnswer &answer) {
        if (answer.accepted)
            askLowThreshold(key, answer.intValue, lowNow);
    });
}

void MainWindow::askLowThreshold(uint64_t deviceKey, int highCelsius, double lowNow)
{
    DialogRequest low;
    low.kind = DialogRequest::InputInt;
    low.title = tr("Записать пороги в датчик");
    low.text = tr("Нижний порог TL, °C (не выше %1):").arg(highCelsius);
    low.intMin = Ds18x20::kLowestThreshold;
    low.intMax = highCelsius;
    low.intValue = std::isnan(lowNow) ? Ds18x20::kLowestThreshold : qBound(low.intMin, int(lowNow), low.intMax);
    dialogs->ask(this, low, [this, deviceKey, highCelsius](const DialogAnswer &answer) {
        if (!answer.accepted || !session)
            return;
        statusBar()->showMessage(tr("Пороги будут записаны в датчик после текущего цикла"));
        session->writeThresholds(deviceKey, highCelsius, answer.intValue, [this](int result) {
            const QString text = MeasurementSession::thresholdsResultText(result);
            statusBar()->showMessage(text);
            dialogs->ask(this,
                         DialogRequest::message(result == 1 ? QMessageBox::Information : QMessageBox::Warning,
                                                tr("Записать пороги в датчик"), text));
        });
    });
}

void MainWindow::showSensorInExplorer()
{
    const int row = selectedRow();
    if (row < 0)
        return;
    const QString path = tableMan->cellText(row, TableMan::ColFileName);
    if (!path.isEmpty() && QFile::exists(path))
        desktop->showInFileManager(path, this, [this, path] { tellNoFileManager(QFileInfo(path).absolutePath()); });
}

// A chart window on the selected row's channel (an empty one without a
// selection); more can be added there.
void MainWindow::showSensorChart()
{
    openChart(selectedRow());
}

ChartWindow *MainWindow::openChart(int row)
{
    ChartWindow::Sources sources;
    sources.archive = archive;
    sources.table = tableMan;
    sources.recorder = &session->recorder();
    charts.removeAll(QPointer<ChartWindow>()); // closed ones
    ChartWindow *window = ChartWindow::showForRow(sources, row, dialogs);
    charts.append(window);
    return window;
}

// One line in the form orvexctl's alarms files use; an empty line removes
// the limits. The limits hold from the next reading on; the channel's
// state changes only by an evaluation, so no transition is written twice.
void MainWindow::editAlarmLimits()
{
    const int row = selectedRow();
    if (row < 0)
        return;
    const ChannelId id = tableMan->channelAt(row);
    const AlarmLimits current = session->alarms().limits(id);
    DialogRequest request;
    request.kind = DialogRequest::InputText;
    request.title = tr("Пороги тревоги");
    request.text = tr("Канал %1\nНИЖНИЙ:ВЕРХНИЙ (любой можно не указывать), затем по желанию\n"
                      "hysteresis=ГИСТЕРЕЗИС delay=ПОКАЗАНИЙ nodata=ЦИКЛОВ; пустая строка снимает пороги")
                       .arg(AlarmRules::channelText(id));
    request.textValue = current.isSet() ? AlarmRules::limitsText(current) : QString();
    QPointer<MainWindow> self(this);
    dialogs->ask(this, request, [self, id](const DialogAnswer &answer) {
        if (!self || !answer.accepted)
            return;
        AlarmLimits limits;
        QString error;
        if (!answer.textValue.trimmed().isEmpty() && !AlarmRules::parseLimits(answer.textValue, &limits, &error)) {
            self->dialogs->ask(self, DialogRequest::message(QMessageBox::Warning, tr("Пороги тревоги"), error));
            return;
        }
        self->session->alarms().setLimits(id, limits);
        AlarmRules::store(appSettings(), id, limits);
    });
}

QList<ChartWindow *> MainWindow::chartWindows() const
{
    QList<ChartWindow *> open;
    for (const QPointer<ChartWindow> &chart : charts) {
        if (chart)
            open << chart;
    }
    return open;
}

int MainWindow::selectedRow() const
{
    const QModelIndexList selected = ui->tblSens->selectionModel() ? ui->tblSens->selectionModel()->selectedIndexes()
                                                                    : QModelIndexList();
    return selected.isEmpty() ? -1 : selected.first().row();
}

void MainWindow::on_btnOpenPath_clicked()
{
    desktop->openFolder(outPath, this, [this, folder = outPath] { tellNoFileManager(folder); });
}

// Nothing on this machine could show the folder: the operator learns where
// it is instead of watching nothing happen.
void MainWindow::tellNoFileManager(const QString &folder)
{
    dialogs->ask(this, DialogRequest::message(QMessageBox::Information, tr("Открыть папку"),
                                              tr("Не найден файловый менеджер, который открыл бы папку:\n%1")
                                                  .arg(QDir::toNativeSeparators(folder))));
}

// The run's log file: "Logs/yyyy_MM_dd_hh_mm_ss.log" beside the program (in
// the user's state folder when installed), or in that folder itself when
// "Logs" cannot be made.
void MainWindow::chooseLogFile()
{
    const QString name = Clock::now().toString(QStringLiteral("/yyyy_MM_dd_hh_mm_ss.log"));
    QDir dir(InstallPaths::logParentFolder());
    if (!QDir(dir.absolutePath() + QStringLiteral("/Logs")).exists()) {
        if (!dir.mkpath(QStringLiteral("Logs")))
            qCDebug(logCritical()) << "ErrorMakePath " << dir.absolutePath();
    }
    dir.cd(QStringLiteral("Logs"));
    logFile().reset(new QFile(dir.path() + name));
}

void MainWindow::installLogHandler()
{
    qInstallMessageHandler(logMessageHandler);
}

void MainWindow::showShtHeater(bool visible)
{
    ui->groupBoxShtHeat->setVisible(visible);
}

void MainWindow::applySwitches(const Switches &switches)
{
    if (!session)
        return; // a refused copy has nothing to apply them to
    m_pt100Mode = switches.pt100Mode;
    sensor->setPt100Mode(switches.pt100Mode);
    sensor->setShtMode(switches.shtMode);
    tableMan->setPt100Mode(switches.pt100Mode);
    showShtHeater(switches.shtMode);
}

// Closing the main window ends the program, whatever other windows of ours
// (the template window, an open dialog) are still shown: they close, the
// timer stops, a cycle in progress ends after its current device, and the
// event loop returns, so the process exits and releases the single-instance
// segment.
void MainWindow::closeEvent(QCloseEvent *event)
{
    if (m_instanceState > 0)
        appSettings().setValue(QStringLiteral("View/Geometry"), saveGeometry());
    m_exitRequested = true;
    if (session)
        session->requestStop();
    if (appTimer)
        appTimer->stop();
    event->accept();
    for (QWidget *other : QApplication::topLevelWidgets()) {
        if (other != this && other->isVisible())
            other->close();
    }
    // Without a running event loop (a window driven directly) there is no
    // loop to leave, and quitting would make the next one return at once.
    if (QThread::currentThread()->loopLevel() > 0)
        QCoreApplication::quit();
}

void MainWindow::on_action_triggered()
{
    m_exitRequested = true;
    close();
}

// The SHT heater durations: for sensors seen from now on and every known one.
void MainWindow::on_spinBoxShtPeriodHeat_valueChanged(int arg1)
{
    sensor->heaterSchedules().setPauseS(arg1);
}

void MainWindow::on_spinBoxShtTimeHeat_valueChanged(int arg1)
{
    sensor->heaterSchedules().setOnTimeS(arg1);
}
