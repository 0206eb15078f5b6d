#pragma once

#include "base/switches.h"
#include "chart/trendarchive.h"
#include "model/outputentry.h"

#include <QDateTime>
#include <QList>
#include <QMainWindow>
#include <QPoint>
#include <QPointer>
#include <QVector>
#include <memory>

class BusBackend;
class ChartWindow;
class Desktop;
class Dialogs;
class MeasurementSession;
class MqttPublisher;
class QLabel;
class QSettings;
class QTimer;
class Sensor;
class TableMan;
struct SensorDevice;

namespace Ui {
class MainWindow;
}

// What the window talks to outside the program: the operator's dialogs and
// the desktop. Not owned; must outlive the window. Null: the real ones.
struct WindowPeers
{
    Dialogs *dialogs = nullptr;
    Desktop *desktop = nullptr;
    // The outputs registered; null: the program's (OutputRegistry).
    const QVector<OutputEntry> *outputs = nullptr;
};

// The program's only window. The constructor first refuses a second running
// copy (instanceState() is then -1 and nothing else is set up), then sets up
// the process-wide text handling, the widgets and the run's log file. Its
// chart and template windows ask through the same dialogs.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // Measures the bus `bus` (not owned; must outlive the window).
    explicit MainWindow(BusBackend *bus, const WindowPeers &peers = WindowPeers(), QWidget *parent = nullptr);
    ~MainWindow() override;

    // -1: another copy was running and this window is not set up; 1: sole copy.
    int instanceState() const { return m_instanceState; }
    // The window was closed or Exit chosen; a measurement cycle stops reading.
    bool exitRequested() const { return m_exitRequested; }

    // The scan options of the menu ("Settings/ScanAllChannel", "Settings/ScanAllType").
    bool scanAllChannel() const { return m_scanAllChannel; }
    bool scanAllType() const { return m_scanAllType; }
    // The sensor object and table manager (null in a refused copy).
    Sensor *sensorObject() const { return sensor; }
    TableMan *tableManager() const { return tableMan; }
    MeasurementSession *measurementSession() const { return session; }
    // Every reading the table has shown, for the charts.
    TrendArchive &trendArchive() { return *archive; }
    // The chart windows opened from the table and still open, oldest first.
    QList<ChartWindow *> chartWindows() const;
    // Seconds between measurements; below 1 every tick measures.
    int measurementInterval() const { return interval; }
    // The 2-second application timer (null in a refused copy); tests stop it
    // and drive onAppTimer() themselves.
    QTimer *applicationTimer() const { return appTimer; }

    // Makes logMessageHandler the process's Qt message handler.
    void installLogHandler();
    // Shows or hides the SHT heater group box.
    void showShtHeater(bool visible);
    // The "-pt100" and "-sht" switches: to the drivers, the table, the
    // calibration widgets and the heater group box; after the start-up
    // questions, as main() does. Nothing on a refused copy.
    void applySwitches(const Switches &switches);

protected:
    void closeEvent(QCloseEvent *event) override;

public slots:
    // One tick of the 2-second application timer.
    void onAppTimer();
    QString adapterMissingText() const;
    QString adapterFoundText() const;
    static QString operatorReason(const QString &reason);
    QString getDescriptionFamily(QVector<short> snv);
    // One measurement cycle, the table update and the average.
    void cycleGet();
    void btnCalibrateStatusChange(bool status);

private slots:
    void on_btnOpenPath_clicked();
    void initSettings();
    void on_action_0_triggered();
    void on_action_1_triggered();
    void on_action_2_triggered();
    void on_action_3_triggered();
    void on_action_4_triggered();
    void on_action_5_triggered();
    void on_action_triggered();
    void on_action_6_triggered();
    void on_lineSampleCh1_editingFinished();
    void on_lineSampleCh2_editingFinished();
    void on_btnResetSample1_clicked();
    void on_btnResetSample2_clicked();
    void on_edtFiltre_textChanged(const QString &arg1);
    void on_btnResetFiltre_clicked();
    void on_tblSens_customContextMenuRequested(const QPoint &pos);
    void showSensorInExplorer();
    void showSensorChart();
    void showUserGuide();
    void editMqttSettings();
    // The selected row's alarm limits, asked of the operator and stored.
    void editAlarmLimits();
    // "Записать пороги в датчик": asks TH and TL for the selected row's
    // DS18S20/DS18B20, has the session write them between cycles and tells
    // the operator how it went.
    void writeSensorThresholds();
    void on_btnCopyAverage_clicked();
    void on_action_7_triggered();
    void on_action_11_triggered();
    void on_btnCalibrate_clicked();
    void on_btnResetCal_clicked();
    void on_btnSetSubtype_clicked();
    void on_spinBoxShtPeriodHeat_valueChanged(int arg1);
    void on_spinBoxShtTimeHeat_valueChanged(int arg1);

private:
    void askRecordingFolder(QSettings &settings);
    void askInterval(QSettings &settings);
    // The session from what the settings and the operator's answers describe.
    void startSession(QSettings &settings);
    void setUpTable();
    // The session's outputs the window shows: the charts' archive, the broker's state.
    void followOutputs();
    // Hides the view's columns and rows as the table says.
    void followTableShown();
    void widenColumns();
    int selectedRow() const;
    // The DS18S20/DS18B20 device the row shows, or null.
    const SensorDevice *thermometerAt(int row) const;
    void askLowThreshold(uint64_t deviceKey, int highCelsius, double lowNow);
    void chooseLogFile();
    void toggleChannel(int channel);
    void takeSample(int which);
    void applySample(int which, double value);
    void resetSample(int which);
    void showRecordingProblem();
    void confirmCalibration(bool reset, const QString &title, const QString &text);
    // "Тревог: N" or "Тревог нет" in the status bar.
    void showAlarmCount();
    void addCommandMenus();
    void restartTimer();
    void showOverrun(bool overran);
    void addLanguageMenu();
    // A chart window on the row's channel (-1: none yet), kept in `charts`.
    ChartWindow *openChart(int row);
    void tellNoFileManager(const QString &folder);
    void chooseLanguage(const QString &language);
    void restoreGeometryOrFit();

    // The real dialogs and desktop, made when none are given.
    std::unique_ptr<Dialogs> ownDialogs;
    std::unique_ptr<Desktop> ownDesktop;
    Dialogs *dialogs;
    Desktop *desktop;
    QList<QPointer<ChartWindow>> charts;
    QPointer<QWidget> guideWindow;
    Ui::MainWindow *ui;
    QTimer *appTimer = nullptr;
    Sensor *sensor = nullptr;
    QString outPath;
    int interval = 0;
    QDateTime lastCycleTime;
    TableMan *tableMan = nullptr;
    bool channelEnabled[4] = {true, true, true, true};
    bool m_scanAllChannel = true;
    bool m_scanAllType = true;
    bool m_exitRequested = false;
    bool m_pt100Mode = false;
    bool adapterFound = false;
    bool m_onGrid = false; // "Time/OnGrid": cycles start on the interval's grid
    qint64 m_lastCycleMs = 0; // how long the last cycle took
    int m_instanceState = 0;
    BusBackend *m_bus;
    const QVector<OutputEntry> *m_outputs;
    MeasurementSession *session = nullptr;
    // Outputs of the session the window shows (owned by the session).
    TrendArchive *archive = nullptr;
    MqttPublisher *mqtt = nullptr;
    QLabel *alarmLabel = nullptr;
    QLabel *overrunLabel = nullptr; // says that the last cycle overran, while it did
    // Each column's width when its texts were last fitted (widenColumns).
    QVector<int> fittedWidths;
};
