#pragma once

#include "onewire/adapter.h"
#include "sensors/acquisition.h"

#include "session/sessiondescription.h"

#include <QObject>
#include <QString>
#include <QVector>
#include <functional>
#include <memory>
#include <vector>

class AlarmBoard;
class BusBackend;
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
    // One bus the session measures: its TMEX calls, the adapter session on
    // them, its model and drivers, and the acquisition steps.
    class Bus;

    // Measures the bus `backend` (not owned; must outlive the session).
    explicit MeasurementSession(BusBackend *backend, QObject *parent = nullptr);
    // Measures every bus of `backends` (owned), side by side: one cycle
    // reads them all, and their readings share the table and the outputs.
    explicit MeasurementSession(std::vector<std::unique_ptr<BusBackend>> backends, QObject *parent = nullptr);
    ~MeasurementSession() override;

    // The run `description` describes: its buses, scan options and
    // recording, and its outputs started in order and fed as sinks the
    // session owns. An output that cannot start is left out, with its line
    // in *error (lines joined); the others run.
    static std::unique_ptr<MeasurementSession> fromDescription(SessionDescription description, QString *error);

    int busCount() const { return int(m_buses.size()); }
    // The first bus's parts (the window's only one).
    Adapter &adapter() { return adapter(0); }
    Sensor &sensor() { return sensor(0); }
    Acquisition &acquisition() { return acquisition(0); }
    Adapter &adapter(int bus);
    Sensor &sensor(int bus);
    Acquisition &acquisition(int bus);
    BusBackend *backend(int bus = 0) const;
    // Every bus's devices, bus by bus, as of the last search.
    QVector<SensorDevice *> allDevices() const;
    TableMan &table() { return *m_table; }
    Recorder &recorder() { return *m_recorder; }
    // The run's alarm states and limits: the alarm output keeps them, the
    // table and every output that shows alarms read them.
    AlarmBoard &alarms() { return *m_alarms; }

    // Recording into `folder` (empty: off); the table shows the file column
    // only while recording. Takes effect for the next table update.
    void setRecordingFolder(const QString &folder);
    QString recordingFolder() const;

    // Whether the table runs after every cycle. It does while a window shows
    // it, while recording and while any sink listens; a console run with no
    // output leaves the device records as the drivers filled them.
    void keepTable(bool kept) { m_tableKept = kept; }
    bool tableRuns() const;

    // Which channels every output gets: bit n set, the channels with
    // subchannel n are shown, recorded and handed to the sinks ("Показывать/
    // записывать"). Takes effect at the next table update.
    void setChannelMask(uint8_t mask);
    uint8_t channelMask() const { return m_channelMask; }

    // Outputs: after every table update, each new reading of a selected
    // channel is handed to every sink, in the order they were added. A sink added mid-run takes the next reading; a
    // sink that fails (throws) is reported once in the log and does not stop
    // the others. Sinks are not owned: one that is a QObject is removed when
    // it is destroyed, any other must be removed before it dies.
    void addSink(ReadingSink *sink);
    void removeSink(ReadingSink *sink);
    // The output started from the description under `name`, or null.
    ReadingSink *output(const QString &name) const;
    // The run is over: the started outputs are fed no more, then each
    // finishes in turn (ReadingSink::finish); the first non-zero code.
    int finishOutputs();

    // The adapter session: 1 usable (see Adapter::open for the codes). With
    // several buses, every bus is opened and the first failure is returned.
    int open();
    // With the adapter open: search and bring the device list up to date
    // (every bus; the first bus's result).
    Acquisition::Result search();
    // open() and, when the adapter is there, search(): every bus, the first
    // bus's result (busResult for the others).
    Acquisition::Result refresh();
    const Acquisition::Result &busResult(int bus) const;
    // A survey of one bus, with its adapter open: the identifiers of one
    // search in search order (Adapter::search's result), and everything
    // behind the DS28E17 `rom` as channel records of `device` (the bus's
    // scan options apply: with both on, as orvexctl's scan leaves them,
    // every hub channel and sensor type is tried).
    int searchRoms(int bus, RomList &roms);
    void readBridge(int bus, const RomId &rom, SensorDevice &device);
    // One measurement cycle: every device read (stopping after the current
    // device once `stop` returns true), then, when the table runs, the table
    // update that shows and records the readings and hands them to the sinks.
    // While the last open() or refresh() found no adapter, no device is read
    // and only the table update runs. Several buses are read side by side
    // (each in a thread of its own where its master allows, and on a
    // virtual clock each on its own time line), so a cycle takes as long
    // as its slowest bus.
    void measure(const std::function<bool()> &stop = std::function<bool()>());
    // refresh() then the device reads of measure() for every bus, side by
    // side, then the table update: orvexctl's cycle.
    void cycle();
    // Asks a bridge read in progress to stop (closing the program).
    void requestStop();

    // The thermometers' own alarm thresholds. Every cycle that converted ends
    // with one Alarm Search per bus, which marks the DS18S20/DS18B20
    // channels it finds (SensorChannel::hardwareAlarm) before the table runs.
    //
    // Writes TH `highCelsius` and TL `lowCelsius` (whole °C) into the
    // thermometer with device key `deviceKey` on any bus. Never inside a
    // cycle: asked while one runs (from an event processed during a read), it
    // waits for the cycle's end. `done` gets the outcome: 1, a code of
    // Ds18x20::writeThresholds or one of these. Refused, with nothing sent,
    // when the device's last reading failed its checks, since its
    // scratchpad cannot be trusted then.
    static constexpr int kNoSuchThermometer = -20; // no DS18S20/DS18B20 with that key
    static constexpr int kLastReadingFailed = -21; // its last reading failed or it did not answer
    static constexpr int kNoAdapter = -22;         // its bus's adapter is not there
    using ThresholdsDone = std::function<void(int result)>;
    void writeThresholds(uint64_t deviceKey, int highCelsius, int lowCelsius, ThresholdsDone done);
    // The outcome of writeThresholds in words for the operator.
    static QString thresholdsResultText(int result);
    // The session is driving its buses (a cycle, a search or a threshold
    // write runs, and events are processed inside it): a timer that would
    // start another must wait.
    bool busy() const { return m_driving > 0; }
    // The last Alarm Search's result on `bus` (Sensor::searchAlarms).
    int alarmSearchResult(int bus = 0) const;

signals:
    // A reading was handed to the sinks (after them).
    void readingTaken(const SensorDevice &device, int index);

private:
    // Every new reading of a selected channel, once (by its `reading`
    // number), to every sink: channels of present devices not being read.
    void deliverNew();
    void deliver(const SensorDevice &device, int index);
    // Tells every sink the cycle has ended (ReadingSink::cycleEnded).
    void endCycle();
    void build();
    // Runs `work` for every bus, side by side, and waits for all of them.
    void forEachBus(const std::function<void(Bus &)> &work);
    void updateTable();
    // Measuring on every bus, then the Alarm Search where a conversion ran.
    void measureBus(Bus &bus, const std::function<bool()> &stop);
    // Runs the threshold writes asked for while a cycle ran.
    void runPendingWrites();
    int writeThresholdsNow(uint64_t deviceKey, int highCelsius, int lowCelsius);

    struct PendingWrite
    {
        uint64_t deviceKey;
        int highCelsius;
        int lowCelsius;
        ThresholdsDone done;
    };
    QVector<PendingWrite> m_pendingWrites;
    // Depth of the calls that drive the buses (open, search, measure,
    // cycle): a threshold write waits while it is above 0.
    int m_driving = 0;

    std::vector<std::unique_ptr<BusBackend>> m_ownedBackends;
    std::vector<std::unique_ptr<Bus>> m_buses;
    // The table's list: every bus's devices, rebuilt before each table update.
    QVector<SensorDevice *> m_allDevices;
    std::unique_ptr<AlarmBoard> m_alarms;
    std::unique_ptr<Recorder> m_recorder;
    std::unique_ptr<TableMan> m_table;
    QVector<ReadingSink *> m_sinks;
    // The outputs started from the description, by name, in order.
    std::vector<std::pair<QString, std::unique_ptr<ReadingSink>>> m_outputs;
    QVector<ReadingSink *> m_failedSinks;
    bool m_tableKept = false;
    uint8_t m_channelMask = 0xFF;
    qint64 m_cycleStartUs = -1; // on the tick counter; -1 between cycles
};
