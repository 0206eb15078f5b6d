#pragma once

struct SensorDevice;

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
};
