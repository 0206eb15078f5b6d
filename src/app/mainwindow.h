#pragma once

#include <QMainWindow>

namespace Ui {
class MainWindow;
}

// The program's only window. The constructor first refuses a second running
// copy (instanceState() is then -1 and nothing else is set up), then sets up
// the process-wide text handling, the widgets and the run's log file.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // -1: another copy was running and this window is not set up; 1: sole copy.
    int instanceState() const { return m_instanceState; }
    // The window was closed or Exit chosen; a measurement cycle stops reading.
    bool exitRequested() const { return m_exitRequested; }

    // Makes logMessageHandler the process's Qt message handler.
    void installLogHandler();
    // Shows or hides the SHT heater group box.
    void showShtHeater(bool visible);

protected:
    void closeEvent(QCloseEvent *event) override;

private slots:
    void initSettings();
    void on_action_triggered();

private:
    void chooseLogFile();

    Ui::MainWindow *ui;
    bool m_exitRequested = false;
    int m_instanceState = 0;
};
