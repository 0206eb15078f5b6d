#pragma once

#include "i2c/i2cdriver.h"

// What the STS3x and SHT3x drivers share: the serial-number read of their
// probe and the single-shot measurement (high repeatability, clock
// stretching), both answered with words of two bytes, most significant
// first, each followed by its Sensirion CRC-8.
class SensirionSensor : public I2cDriver
{
protected:
    using I2cDriver::I2cDriver;

    // The single shot (high repeatability, clock stretching) and its wait.
    static constexpr const char *kSingleShotHex = "2C06";
    static constexpr int kSingleShotMs = 15;

    // Reads the serial number (command 0x37 0x80, 6 bytes) in up to 4
    // attempts. Returns 1 with the six bytes in `six` (word 1, its CRC,
    // word 2, its CRC), kFailed after 4 failed attempts, kCrcMismatch at
    // once when a word's CRC is wrong.
    int readSerialNumber(QByteArray &six);
    // One measurement attempt after the selection: single shot 0x2C 0x06,
    // 15 ms, `length` bytes read. 1, kTransferFailed (a failed write or
    // read) or kCrcMismatch (a word's CRC; `words` words are checked).
    int singleShot(QByteArray &out, int length, int words);
    // An identifier in the shape of a 1-Wire ROM read in bus order: `family`,
    // the six bytes, the Dallas CRC-8 of those seven (TMCRC); byte 0 in the
    // low 8 bits.
    uint64_t romShaped(uint8_t family, const uint8_t six[6]) const;
};
