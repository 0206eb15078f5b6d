#include "sensors/acquisition.h"

#include "base/logging.h"
#include "onewire/adapter.h"
#include "base/clock.h"
#include "base/cpumeter.h"
#include "sensors/sensor.h"

Acquisition::Acquisition(Adapter &adapter, Sensor *sensor)
    : m_adapter(adapter)
    , m_sensor(sensor)
{
}

Acquisition::Result Acquisition::refresh()
{
    const int opened = open();
    if (opened != 1) {
        Result result;
        result.openResult = opened;
        return result;
    }
    return update();
}

int Acquisition::open()
{
    return m_adapter.open();
}

Acquisition::Result Acquisition::update()
{
    CpuMeter::Scope meter(CpuMeter::Search);
    Result result;
    result.openResult = 1;
    m_adapter.resetBus();
    Clock::sleepMs(10);

    RomList first;
    int kept = m_adapter.search(first);
    result.roms = first;
    if (first.size() != m_prevCycleSensCounter) {
        qDebug() << "snRoms1.count() != prevCycleSensCounter (" << first.size() << " != "
                 << m_prevCycleSensCounter << ")";
        // A device that missed one search usually answers the next one.
        for (int i = 0; i < 9; ++i) {
            Clock::processEvents();
            Clock::sleepMs(10);
        }
        RomList second;
        const int secondResult = m_adapter.search(second);
        if (second.size() > first.size()) {
            result.roms = second;
            kept = secondResult;
        }
    }
    m_prevCycleSensCounter = result.roms.size();
    result.searchResult = kept;
    result.adapterSerial = Adapter::findAdapterSerial(result.roms, true);

    if (kept == 1) {
        m_sensor->ageAll();
        for (int i = 0; i < result.roms.size(); ++i) {
            const RomId &rom = result.roms.at(i);
            const int added = m_sensor->addOrMark(rom);
            qCDebug(logInfo()) << "Add Sensor " << i << " (" << added << ")  SN= " << romToText(rom, false)
                               << "; " << romToText(rom, true) << "; " << Sensor::describeFamily(rom.at(0) & 0xFF);
        }
        m_sensor->purge();
    } else {
        m_sensor->clear();
    }
    return result;
}
