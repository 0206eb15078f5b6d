#include "i2c/sensirionsensor.h"

#include "i2c/i2cbridge.h"
#include "onewire/tmex.h"

namespace {

const uint8_t kSerialNumber[2] = {0x37, 0x80};
const uint8_t kSingleShot[2] = {0x2C, 0x06}; // SensirionSensor::kSingleShotHex

} // namespace

int SensirionSensor::readSerialNumber(QByteArray &six)
{
    const int result = attempts([this, &six] {
        if (write({kSerialNumber[0], kSerialNumber[1]}) < 0)
            return I2cBridge::kFailed;
        selectAgain();
        return read(six, 6) >= 0 ? 1 : I2cBridge::kFailed;
    });
    if (result != 1)
        return I2cBridge::kFailed;
    // Checked once the read is in: a CRC mismatch is final, no further attempt.
    return wordsValid(six, 2) ? 1 : I2cBridge::kCrcMismatch;
}

uint64_t SensirionSensor::romShaped(uint8_t family, const uint8_t six[6]) const
{
    unsigned char id[8];
    id[0] = family;
    for (int i = 0; i < 6; ++i)
        id[1 + i] = six[i];
    id[7] = uint8_t(m_bridge->tmex().TMCRC(7, id, 0, 0));
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = (value << 8) | id[i];
    return value;
}

int SensirionSensor::singleShot(QByteArray &out, int length, int words)
{
    if (write({kSingleShot[0], kSingleShot[1]}) < 0)
        return I2cBridge::kTransferFailed;
    pauseMs(kSingleShotMs);
    selectAgain();
    if (read(out, length) < 0)
        return I2cBridge::kTransferFailed;
    return wordsValid(out, words) ? 1 : I2cBridge::kCrcMismatch;
}
