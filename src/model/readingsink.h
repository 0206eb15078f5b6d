#pragma once

#include <QStringList>
#include <QVector>
#include <QtGlobal>

struct SensorDevice;

// What one measurement cycle came to as a whole, for outputs that describe
// the run and not only single readings (an exporter's bus and timing
// figures, a server listing every device found). Valid only during the call.
struct CycleSummary
{
    qint64 durationMs = 0; // from the cycle's start (open or refresh) to the end of its table update
    // Per bus, in the session's order: whether its adapter was there, and
    // its device list as of the cycle's search.
    QVector<bool> busUp;
    QVector<QVector<const SensorDevice *>> devices;
    // Per bus: its kind of master as a stable word ("serial", "usb",
    // "kernel", "simulated", "driver") and what it talks to, as the log says
    // it ("DS2480B serial adapter on /dev/ttyUSB0").
    QStringList busKinds;
    QStringList busDescriptions;
};

// An output fed by the measurement session: the chart archive, the MQTT
// publisher, any later exporter. The session hands every reading the table
// shows (its channel mask applies) to every registered sink, once, after the
// table has shown it and the recorder has been handed it.
class ReadingSink
{
public:
    virtual ~ReadingSink() = default;

    // Channel `index` of `device` holds a reading not handed out before. The
    // references are valid only during the call. Must not process events and
    // must not keep the device.
    virtual void takeReading(const SensorDevice &device, int index) = 0;

    // The cycle whose readings were just handed out has ended. The same
    // rules as for takeReading; most outputs need nothing here.
    virtual void cycleEnded(const CycleSummary &summary) { Q_UNUSED(summary) }

    // The run is over and the sink is fed no more: hand on what is pending.
    // 0, or the exit code of a console run whose readings did not all reach
    // their destination.
    virtual int finish() { return 0; }
};
