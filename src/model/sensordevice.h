#pragma once

#include "onewire/romid.h"
#include "model/sensorchannel.h"

#include <QString>
#include <QVector>
#include <cstdint>

// One 1-Wire device found by the search, with the channels its driver fills.
// Owned by the Sensor; owns its channels.
struct SensorDevice
{
    // The ROM packed big-endian in bus order: family code in bits 63..56,
    // CRC in bits 7..0. Devices are matched by key.
    uint64_t key = 0;
    // The ROM in reverse bus order: element 0 the CRC, element 7 the family
    // code. Its text form is what the table, file headers and names show.
    QVector<short> rom;
    uint8_t family = 0;
    QString name;
    // Bit 0: found by the latest search; shifted left per search pass.
    uint8_t presence = 0;
    QVector<SensorChannel> channels;
    // Set while the device's driver reads and fills it. GUI events run inside
    // a read, so the channel records may then be half filled: whatever runs
    // meanwhile must neither show, record nor remove them.
    bool beingRead = false;
    // Of the chips that share its family code (a DS1825 and a MAX31850 both
    // 0x3B), the one a read has shown the device to be, by its driver's
    // traits; null until one has.
    const SensorTraits *chip = nullptr;

    bool isPresent() const { return (presence & 3) != 0; }
};
