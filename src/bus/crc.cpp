#include "bus/crc.h"

uint8_t Crc::dallas8(const uint8_t *data, int length, uint8_t seed)
{
    uint8_t crc = seed;
    for (int i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? uint8_t((crc >> 1) ^ 0x8C) : uint8_t(crc >> 1);
    }
    return crc;
}

uint8_t Crc::dallas8(const QByteArray &data, uint8_t seed)
{
    return dallas8(reinterpret_cast<const uint8_t *>(data.constData()), data.size(), seed);
}

uint16_t Crc::maxim16(const uint8_t *data, int length, uint16_t seed)
{
    uint16_t crc = seed;
    for (int i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
    }
    return crc;
}

uint16_t Crc::maxim16(const QByteArray &data, uint16_t seed)
{
    return maxim16(reinterpret_cast<const uint8_t *>(data.constData()), data.size(), seed);
}

QByteArray Crc::withInverted16(const QByteArray &data, uint16_t seed)
{
    const uint16_t crc = uint16_t(~maxim16(data, seed));
    return data + char(crc & 0xFF) + char(crc >> 8);
}

bool Crc::holdsInverted16(const QByteArray &bytes, uint16_t seed)
{
    return bytes.size() >= 3 && withInverted16(bytes.left(bytes.size() - 2), seed) == bytes;
}

uint8_t Crc::sensirion8(const uint8_t *data, int length)
{
    uint8_t crc = 0xFF;
    for (int i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80) ? uint8_t((crc << 1) ^ 0x31) : uint8_t(crc << 1);
    }
    return crc;
}

uint8_t Crc::sensirion8(const QByteArray &data)
{
    return sensirion8(reinterpret_cast<const uint8_t *>(data.constData()), data.size());
}
