#include "support/recordingrig.h"

RecordingRig::RecordingRig(BusBackend *bus, const QString &folder)
    : session(bus)
    , sensor(session.sensor())
    , acquisition(session.acquisition())
    , tableMan(session.table())
    , recorder(session.recorder())
{
    recorder.setFirstSplit(QStringLiteral("'"));
    session.keepTable(true);
    session.setRecordingFolder(folder);
    tableMan.init(sensor.devices());
}
