#pragma once

#include "onewire/romid.h"

#include <QString>

class Adapter;
class Sensor;

// What one acquisition tick does on the bus, without widgets, so the window's
// timer and orvexctl run the very same steps: open the adapter, search (twice
// when the device count changed), bring the sensor object's device list up to
// date. The measurement cycle itself is Sensor::measureAll. The adapter and
// the sensor object are the caller's and must outlive it.
class Acquisition
{
public:
    Acquisition(Adapter &adapter, Sensor *sensor);

    struct Result
    {
        int openResult = 0;      // Adapter::open(): 1 when the adapter is usable
        int searchResult = 0;    // Adapter::search() of the kept list (1 = searched)
        RomList roms;            // the identifiers kept
        QString adapterSerial;   // identity chip, CRC first; "" when none
    };

    // open() and, when the adapter is there, update().
    Result refresh();
    // Adapter::open(): 1 when the adapter is usable.
    int open();
    // With the adapter open: resets the bus, searches and brings the device
    // list up to date (or clears it when there is no session).
    Result update();

private:
    Adapter &m_adapter;
    Sensor *m_sensor;
    int m_prevCycleSensCounter = 0;
};
