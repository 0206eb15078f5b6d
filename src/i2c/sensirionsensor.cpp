#include "i2c/sensirionsensor.h"

#include "i2c/i2cbridge.h"
#include "platform/clock.h"

namespace {

const uint8_t kSerialNumber[2] = {0x37, 0x80};
const uint8_t kSingleShot[2] = {0x2C, 0x06}; // high repeatability, clock stretching
const int kConversionMs = 15;

} // namespace

int SensirionSensor::readSerialNumber(QByteArray &six)
{
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (!select())
            continue;
        if (write({kSerialNumber[0], kSerialNumber[1]}) < 0)
            continue;
        selectAgain();
        if (read(six, 6) < 0)
            continue;
        return wordsValid(six, 2) ? 1 : I2cBridge::kCrcMismatch;
    }
    return I2cBridge::kFailed;
}

int SensirionSensor::singleShot(QByteArray &out, int length, int words)
{
    if (write({kSingleShot[0], kSingleShot[1]}) < 0)
        return I2cBridge::kTransferFailed;
    Clock::sleepMs(kConversionMs);
    selectAgain();
    if (read(out, length) < 0)
        return I2cBridge::kTransferFailed;
    return wordsValid(out, words) ? 1 : I2cBridge::kCrcMismatch;
}
