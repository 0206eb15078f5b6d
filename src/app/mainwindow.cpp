#include "app/mainwindow.h"
#include "ui_mainwindow.h"

#include "app/appsettings.h"
#include "app/appstate.h"
#include "app/logging.h"
#include "app/logmessagehandler.h"
#include "app/singleinstance.h"
#include "platform/clock.h"
#include "platform/dialogs.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QTextCodec>
#include <clocale>

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui::MainWindow)
{
    if (!SingleInstance::claim()) {
        m_instanceState = -1;
        Dialogs::message(QMessageBox::Warning, nullptr, QString(),
                         QStringLiteral("Приложение уже запущено.\nВы можете запустить только один экземпляр приложения."));
        return;
    }
    m_instanceState = 1;

    initSettings();

    ui->frmUsbAdaptSignal->setStyleSheet(QStringLiteral("background-color: yellow"));
    ui->frmUsbAdaptSignal->setMinimumWidth(15);
    ui->frmUsbAdaptSignal->setMinimumHeight(10);

    // The serial number field blends into its group box.
    ui->lineSnUSBadapter->clear();
    QPalette palette = ui->lineSnUSBadapter->palette();
    const QColor window = ui->lineSnUSBadapter->parentWidget()->palette().color(QPalette::Window);
    palette.setBrush(QPalette::All, QPalette::Base, QBrush(window, Qt::SolidPattern));
    ui->lineSnUSBadapter->setPalette(palette);

    ui->btnCalibrate->hide();
    ui->btnResetCal->hide();
    ui->btnSetSubtype->hide();
    ui->rb100P->hide();
    ui->rbPt100->hide();

    m_exitRequested = false;

    chooseLogFile();
}

MainWindow::~MainWindow()
{
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
    AppState::instance();
    appSettings();

    ui->setupUi(this);
    // After setupUi, which puts the designer's placeholder title in.
    setWindowTitle(QCoreApplication::applicationName() + QLatin1Char(' ')
                   + QCoreApplication::applicationVersion());

    ui->frmWrFile->setMinimumWidth(15);
    ui->frmWrFile->setMinimumHeight(15);
}

// The run's log file: "Logs/yyyy_MM_dd_hh_mm_ss.log" beside the program, or
// in the program's own folder when "Logs" cannot be made.
void MainWindow::chooseLogFile()
{
    const QString name = Clock::now().toString(QStringLiteral("/yyyy_MM_dd_hh_mm_ss.log"));
    QDir dir(QCoreApplication::applicationDirPath());
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

void MainWindow::closeEvent(QCloseEvent *event)
{
    m_exitRequested = true;
    event->accept();
}

void MainWindow::on_action_triggered()
{
    m_exitRequested = true;
    close();
}
