#include "i2c/i2csensortypes.h"

#include "i2c/bmp280sensor.h"
#include "i2c/d6fsensor.h"
#include "i2c/hdc1080sensor.h"
#include "i2c/scd30sensor.h"
#include "i2c/sht3xsensor.h"
#include "i2c/sts3xsensor.h"

namespace {

template <typename Driver>
I2cSensorType typeOf()
{
    return {&Driver::kTraits, &I2cDriver::probeAndRead<Driver>};
}

} // namespace

const QVector<I2cSensorType> &i2cSensorTypes()
{
    static const QVector<I2cSensorType> types{
        typeOf<Hdc1080Sensor>(), typeOf<Sts3xSensor>(), typeOf<Sht3xSensor>(),
        typeOf<Bmp280Sensor>(),  typeOf<D6fSensor>(),   typeOf<Scd30Sensor>(),
    };
    return types;
}
