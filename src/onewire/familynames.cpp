#include "onewire/familynames.h"

namespace {

struct Family
{
    int code;
    const char *description;
};

const Family kFamilies[] = {
    {0x01, "DS1990 - SerialNumber or DS2401 - Memory"},
    {0x02, "DS1991 - MultiKey"},
    {0x04, "DS1992 - Memory"},
    {0x06, "DS1993 - Memory"},
    {0x08, "DS1994 - Memory"},
    {0x09, "DS1982, DS2502, DS1422 - Memory"},
    {0x0A, "DS1995 - Memory"},
    {0x0B, "DS2505 or DS1985 - Memory"},
    {0x0C, "DS1996 - Memory"},
    {0x0F, "DS2506 or DS1986 - Memory"},
    {0x10, "DS1820 or DS1920 - Thermometer"},
    {0x14, "DS2430 or DS1971 - EEPROM"},
    {0x18, "DS1962 Memory iButton"},
    {0x19, "DS28E17 bridge iButton - I2C"},
    {0x1A, "DS1963 memory iButton"},
    {0x1B, "DS2436- Battery Monitor /ID"},
    {0x1C, "DS2422 RAM and Counter"},
    {0x1D, "DS2423 RAM and Counter"},
    {0x1E, "DS2437 Battery Monitor"},
    {0x20, "DS2450 ADC"},
    {0x21, "DS1921 - Termochron"},
    {0x22, "DS1822 - Thermometer"},
    {0x23, "DS2433 or DS1973-EEPROM"},
    {0x26, "DS2438 - Multifunctional battery management"},
    {0x28, "DS18B20 - Thermometer"},
    {0x33, "DS1961S memory iButton with SHA-1"},
    {0x3B, "MAX31850 temperature sensor"},
    {0x41, "DS1923 or DS1922 - Hydrohrone"},
    {0x81, "DS1420 - Serial number"},
    {0x82, "DS1425 - Multi iButton"},
    {0x84, "DS1427 - Time Button"},
};

} // namespace

QString FamilyNames::describe(int familyCode)
{
    for (const Family &f : kFamilies) {
        if (f.code == familyCode)
            return QLatin1String(f.description);
    }
    return QStringLiteral("Unknown device");
}
