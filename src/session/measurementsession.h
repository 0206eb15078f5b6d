#pragma once

#include "onewire/adapter.h"
#include "sensors/acquisition.h"

#include <QObject>
#include <QString>
#include <QVector>
#include <functional>
#include <memory>

class ReadingSink;
class Recorder;
class Sensor;
class TableMan;
struct SensorDevice;

// The one place that assembles a measurement: the adapter session (Adapter),
// the model of the bus with its drivers (Sensor), the acquisition steps
// (adapter, search, device list), the table of channels (TableMan) with its
// Recorder, and the outputs that take readings from it (ReadingSink). The
// window, orvexctl, the test rigs and the benchmark all measure through it,
// so they run the same code and write the same files. Owns everything it
// assembles except the sinks; one session is one run of the program, from
// the first open() on. The run's start time, which %DATE% and %TIME% of the
// file names give, is the clock's time when the session is made (recorder().
// startTime()). GUI thread only.
//
// One tick of the window is open() then, when the adapter is there,
// search() and measure(); orvexctl's cycle is refresh() then measure().
class MeasurementSession : public QObject
{
    Q_OBJECT
public:
    explicit MeasurementSession(QObject *parent = nullptr);
    ~MeasurementSession() override;

    Adapter &adapter() { return *m_adapter; }
    Sensor &sensor() { return *m_sensor; }
    Acquisition &acquisition() { return m_acquisition; }
    TableMan &table() { return *m_table; }
    Recorder &recorder() { return *m_recorder; }

    // Recording into `folder` (empty: off); the table shows the file column
    // only while recording. Takes effect for the next table update.
    void setRecordingFolder(const QString &folder);
    QString recordingFolder() const;

    // Whether the table runs after every cycle. It does while a window shows
    // it, while recording and while any sink listens; a console run with no
    // output leaves the device records as the drivers filled them.
    void keepTable(bool kept) { m_tableKept = kept; }
    bool tableRuns() const;

    // Outputs: every reading the table shows is handed to every sink, in the
    // order they were added. A sink added mid-run takes the next reading; a
    // sink that fails (throws) is reported once in the log and does not stop
    // the others. Sinks are not owned: one that is a QObject is removed when
    // it is destroyed, any other must be removed before it dies.
    void addSink(ReadingSink *sink);
    void removeSink(ReadingSink *sink);

    // The adapter session: 1 usable (see Adapter::open for the codes).
    int open();
    // With the adapter open: search and bring the device list up to date.
    Acquisition::Result search();
    // open() and, when the adapter is there, search().
    Acquisition::Result refresh();
    // One measurement cycle: every device read (stopping after the current
    // device once `stop` returns true), then, when the table runs, the table
    // update that shows and records the readings and hands them to the sinks.
    // While the last open() or refresh() found no adapter, no device is read
    // and only the table update runs.
    void measure(const std::function<bool()> &stop = std::function<bool()>());
    // Asks a bridge read in progress to stop (closing the program).
    void requestStop();

private:
    void deliver(const SensorDevice &device, int index);

    std::unique_ptr<Adapter> m_adapter; // its state buffers are large
    std::unique_ptr<Sensor> m_sensor;
    Acquisition m_acquisition;
    std::unique_ptr<Recorder> m_recorder;
    std::unique_ptr<TableMan> m_table;
    QVector<ReadingSink *> m_sinks;
    QVector<ReadingSink *> m_failedSinks;
    bool m_tableKept = false;
    int m_openResult = 1; // the last open(): 1 the adapter is there
};
