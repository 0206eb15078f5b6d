#pragma once

#include "sensors/acquisition.h"
#include "sensors/sensor.h"
#include "session/measurementsession.h"
#include "table/recorder.h"
#include "table/tableman.h"

// The window's recording path without the window: a measurement session
// whose table runs after every cycle, recording into `folder` with the
// default template and "'" before numbers.
struct RecordingRig
{
    // Measures `bus` (a fixture's, not owned).
    RecordingRig(BusBackend *bus, const QString &folder);

    MeasurementSession session;
    Sensor &sensor;
    Acquisition &acquisition;
    TableMan &tableMan;
    Recorder &recorder;
};
