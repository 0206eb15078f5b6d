#include "support/recordingrig.h"

RecordingRig::RecordingRig(const QString &folder)
    : sensor(session.sensor())
    , acquisition(session.acquisition())
    , tableMan(session.table())
    , recorder(session.recorder())
{
    recorder.setFirstSplit(QStringLiteral("'"));
    session.keepTable(true);
    session.setRecordingFolder(folder);
    tableMan.init(sensor.devices());
}
