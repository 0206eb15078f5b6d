#pragma once

#include <QString>
#include <QVector>

// A 1-Wire ROM identifier in bus order: element 0 the family code, elements
// 1..6 the serial number (least significant byte first), element 7 the CRC.
// Each element holds one byte value 0..255. Any other element count is invalid.
typedef QVector<short> RomId;

// ROM identifiers in the order a search found them, without duplicates.
typedef QVector<RomId> RomList;

// Two upper-case hexadecimal digits per element, no separators; element 0
// first, or element 7 first when `reversed`. An empty vector gives "".
QString romToText(const RomId &rom, bool reversed);
