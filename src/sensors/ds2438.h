#pragma once

#include "model/sensortraits.h"

#include <QByteArray>
#include <QDateTime>
#include <cstdint>

struct SensorDevice;
class Tmex;

// Driver of the DS2438 battery monitor (family 0x26), the chip inside most
// 1-Wire humidity, light and battery sensors. Channels: the temperature,
// the supply voltage VDD, the A/D input VAD, the current-sense voltage
// (the current register, 0.2441 mV a step) and, switched on per device, the
// relative humidity of an HIH-4000 whose output drives VAD. Page 0 holds
// them all; Convert V measures the input the AD bit of its
// status/configuration byte selects, so one read converts one input, flips
// the bit with a Write Scratchpad (never copied to EEPROM, which would wear
// it every read) and converts the other. Built on the stack for one read.
class Ds2438
{
public:
    // Temperature and voltage conversion times (the datasheet's maximum).
    static constexpr int kConversionMs = 10;
    static const SensorTraits kTraits;

    static constexpr int kNotSelected = -1;
    static constexpr int kBadPage = -7; // CRC or a fixed bit wrong, or the AD bit did not flip

    Ds2438(Tmex &tmex, int32_t *session, uint8_t *state, short *romBuffer);

    // The HIH-4000 humidity channel (off until set).
    void setHumidity(bool on) { m_humidity = on; }

    // Converts temperature and both voltages and reads them, at most 4
    // attempts: 1, or the last attempt's code.
    int convertAndRead();
    // Writes the channel records (4, or 5 with humidity), NaN after a failure.
    void fillChannels(SensorDevice &device);

    // Relative humidity, %, of an HIH-4000 on VAD supplied from VDD at
    // `celsius`: the data sheet's typical first-order fit
    // VAD = VDD · (0.0062 · RH + 0.16), compensated by 1.0546 − 0.00216·T.
    static double humidityPercent(double vad, double vdd, double celsius);

private:
    // The device's selection and `bytes` (a command and its bytes); false
    // when it was not selected. `writes`: the command changes what another
    // device would mind, so it waits for the selection to be confirmed.
    bool send(const QByteArray &bytes, bool writes = false);
    // Recall Memory and Read Scratchpad of page 0: its 8 bytes, CRC and
    // fixed bits checked; empty when they fail, null when not selected.
    bool readPage0(QByteArray *page);
    // readPage0, read again while the page says a conversion runs.
    bool readConvertedPage0(QByteArray *page);
    void waitConverted();

    Tmex &m_tmex;
    int32_t *m_session;
    uint8_t *m_state;
    short *m_romBuffer;
    bool m_humidity = false;
    double m_celsius;
    double m_vdd;
    double m_vad;
    double m_senseVolts;
    QDateTime m_time;
};
