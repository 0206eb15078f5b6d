#include "support/recordingrig.h"

RecordingRig::RecordingRig(const QString &folder)
    : acquisition(&sensor)
    , tableMan(&table)
{
    tableMan.setOutputFolder(folder);
    tableMan.init(sensor.devices());
    sensor.setTableMan(&tableMan);
}
