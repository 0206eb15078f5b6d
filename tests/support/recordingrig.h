#pragma once

#include "sensors/acquisition.h"
#include "sensors/sensor.h"
#include "table/tableman.h"

#include <QTableWidget>

// The window's recording path without the window: the sensor object, the
// acquisition steps and a table manager on a table that is never shown,
// wired as the window wires them. The recorder is reset and records into
// `folder` with the default template and "'" before numbers.
struct RecordingRig
{
    explicit RecordingRig(const QString &folder);

    Sensor sensor;
    Acquisition acquisition;
    QTableWidget table;
    TableMan tableMan;
};
