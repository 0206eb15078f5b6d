#include "platform/wiremaster.h"

#include <cstring>

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
        const uint8_t mask = uint8_t(1 << (bit % 8));
        int direction = idBit;
        if (idBit == 0 && cmpBit == 0) {
            discrepancies[bit / 8] |= mask;
            direction = (path[bit / 8] & mask) ? 1 : 0;
        }
        if (direction)
            rom[bit / 8] |= mask;
        if (touchBit(direction) < 0)
            return -1;
    }
    return 1;
}
