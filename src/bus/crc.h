#pragma once

#include <QByteArray>
#include <cstdint>

// The checksums of the 1-Wire world, in one place for the drivers, the
// driver backends and the simulated chips.
class Crc
{
public:
    // Dallas/Maxim CRC-8 (x^8 + x^5 + x^4 + 1, reflected 0x8C). Over data
    // followed by their CRC byte the result is 0.
    static uint8_t dallas8(const uint8_t *data, int length, uint8_t seed = 0);
    static uint8_t dallas8(const QByteArray &data, uint8_t seed = 0);

    // CRC-16 as the 1-Wire chips compute it (reflected 0xA001), not inverted.
    // Packets carry its complement, low byte first.
    static uint16_t maxim16(const uint8_t *data, int length, uint16_t seed = 0);
    static uint16_t maxim16(const QByteArray &data, uint16_t seed = 0);
    // `data` followed by the complement of its CRC-16, low byte first, as
    // the memory chips send it.
    static QByteArray withInverted16(const QByteArray &data, uint16_t seed = 0);
    // Whether the last two bytes of `bytes` are the complemented CRC-16 of
    // the bytes before them (false for fewer than three bytes).
    static bool holdsInverted16(const QByteArray &bytes, uint16_t seed = 0);

    // Sensirion CRC-8: polynomial 0x31, initial 0xFF, most significant bit first.
    static uint8_t sensirion8(const uint8_t *data, int length);
    static uint8_t sensirion8(const QByteArray &data);
};
