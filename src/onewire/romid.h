#pragma once

#include <QString>
#include <QVector>
#include <cstdint>

// A 1-Wire ROM identifier in bus order: element 0 the family code, elements
// 1..6 the serial number (least significant byte first), element 7 the CRC.
// Each element holds one byte value 0..255. Any other element count is invalid.
typedef QVector<short> RomId;

// ROM identifiers in the order a search found them, without duplicates.
typedef QVector<RomId> RomList;

// Two upper-case hexadecimal digits per element, no separators; element 0
// first, or element 7 first when `reversed`. An empty vector gives "".
QString romToText(const RomId &rom, bool reversed);
// The ROM packed into 64 bits in bus order: the family code in bits 63..56,
// the CRC in bits 7..0; `reversed` when element 0 is the CRC. 0 unless the
// vector has 8 elements.
uint64_t romKey(const RomId &rom, bool reversed);
