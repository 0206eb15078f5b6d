#include "bus/wiremaster.h"

#include "bus/romcommands.h"

#include <cstring>

namespace {

// Bounds a count on a bus whose devices come and go while it is searched.
const int kMaxSearchPasses = 4096;

} // namespace

int WireMaster::romBit(const uint8_t bytes[8], int index)
{
    return (bytes[index / 8] >> (index % 8)) & 1;
}

void WireMaster::setRomBit(uint8_t bytes[8], int index, int bit)
{
    if (bit)
        bytes[index / 8] |= uint8_t(1 << (index % 8));
    else
        bytes[index / 8] &= uint8_t(~(1 << (index % 8)));
}

int WireMaster::touchBlock(uint8_t *bytes, int length)
{
    for (int i = 0; i < length; ++i) {
        const int answer = touchByte(bytes[i]);
        if (answer < 0)
            return -1;
        bytes[i] = uint8_t(answer);
    }
    return length;
}

int WireMaster::touchBlockThenReadBit(uint8_t *bytes, int length)
{
    if (touchBlock(bytes, length) < 0)
        return -1;
    return touchBit(1);
}

int WireMaster::searchTriplets(const uint8_t path[8], uint8_t rom[8], uint8_t discrepancies[8])
{
    std::memset(rom, 0, 8);
    std::memset(discrepancies, 0, 8);
    for (int bit = 0; bit < 64; ++bit) {
        const int idBit = touchBit(1);
        const int cmpBit = touchBit(1);
        if (idBit < 0 || cmpBit < 0)
            return -1;
        if (idBit == 1 && cmpBit == 1)
            return 0;
        int direction = idBit;
        if (idBit == 0 && cmpBit == 0) {
            setRomBit(discrepancies, bit, 1);
            direction = romBit(path, bit);
        }
        setRomBit(rom, bit, direction);
        if (touchBit(direction) < 0)
            return -1;
    }
    return 1;
}

int WireMaster::resetAndSearch(const uint8_t path[8], uint8_t rom[8], uint8_t discrepancies[8], uint8_t command)
{
    std::memset(rom, 0, 8);
    std::memset(discrepancies, 0, 8);
    const int presence = reset();
    if (presence <= 0)
        return presence;
    if (touchByte(command) < 0)
        return -1;
    return searchTriplets(path, rom, discrepancies);
}

int WireMaster::resetAndSearchThenBlock(const uint8_t path[8], uint8_t rom[8], uint8_t discrepancies[8],
                                        uint8_t *bytes, int length)
{
    const int result = resetAndSearch(path, rom, discrepancies);
    if (result <= 0 || std::memcmp(rom, path, 8) != 0)
        return result;
    return touchBlock(bytes, length) < 0 ? -1 : 1;
}

int WireMaster::searchPass(uint8_t rom[8], int *lastDiscrepancy, uint8_t command)
{
    uint8_t path[8];
    std::memcpy(path, rom, 8);
    for (int bit = 1; bit <= 64; ++bit) {
        if (bit >= *lastDiscrepancy)
            setRomBit(path, bit - 1, bit == *lastDiscrepancy ? 1 : 0);
    }
    uint8_t found[8];
    uint8_t discrepancies[8];
    const int result = resetAndSearch(path, found, discrepancies, command);
    if (result <= 0)
        return result;
    int lastZero = 0;
    for (int bit = 1; bit <= 64; ++bit) {
        if (romBit(discrepancies, bit - 1) && romBit(found, bit - 1) == 0)
            lastZero = bit;
    }
    *lastDiscrepancy = lastZero;
    std::memcpy(rom, found, 8);
    return 1;
}

int WireMaster::countDevices()
{
    uint8_t rom[8] = {};
    int lastDiscrepancy = 0;
    int count = 0;
    do {
        const int found = searchPass(rom, &lastDiscrepancy);
        if (found <= 0)
            return found < 0 ? -1 : count;
        ++count;
    } while (lastDiscrepancy != 0 && count < kMaxSearchPasses);
    return count;
}
