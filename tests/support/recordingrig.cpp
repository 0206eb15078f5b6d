#include "support/recordingrig.h"

#include "table/recorder.h"

RecordingRig::RecordingRig(const QString &folder)
    : acquisition(&sensor)
    , tableMan(&table)
{
    Recorder &recorder = Recorder::instance();
    recorder.resetForTest();
    recorder.setFolder(folder);
    recorder.setFirstSplit(QStringLiteral("'"));
    tableMan.setOutputFolder(folder);
    tableMan.init(sensor.devices());
    sensor.setTableMan(&tableMan);
}
