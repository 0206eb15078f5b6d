#pragma once

#include "model/sensortraits.h"

#include <QByteArray>
#include <QDateTime>
#include <cstdint>

struct SensorDevice;

// The bus procedure the DS18S20 and DS18B20 drivers share: selection,
// conversion under strong pull-up, scratchpad read, retries, and the fill of
// the device's one channel. What differs between the chips (scratchpad checks,
// temperature arithmetic, the DS18B20's resolution correction) comes in a
// Family description from the derived driver. Built on the stack for one read.
class Tmex;

class Ds18x20
{
public:
    // Conversion modes of convertAndRead.
    enum Mode {
        ConvertThis = 0,     // select this device and convert it alone
        ConvertAll = 1,      // broadcast Convert T to the whole bus, then read this one
        ReadOnly = 2,        // a broadcast conversion has already run in this cycle
    };

    // The conversion wait under the strong pull-up (12 bits: 750 ms, with
    // a margin) and the EEPROM wait after Copy Scratchpad (up to 10 ms).
    static constexpr int kConversionMs = 1000;
    static constexpr int kCopyMs = 100;

    // Status codes besides 1 (success).
    static constexpr int kNotSelected = -1;   // the device could not be selected or addressed
    static constexpr int kPowerOnValue = -5;  // the +85 °C reset value: no conversion has happened
    static constexpr int kSuspectCount = -6;  // DS18S20: COUNT_PER_C - COUNT_REMAIN = 1, taken once more
    static constexpr int kBadScratchpad = -7; // CRC error (or a scratchpad that gives no temperature)
    // Outcomes of writeThresholds besides 1, kNotSelected and kBadScratchpad.
    static constexpr int kThresholdsOutOfRange = -8; // not within -55..+125 °C, or TL above TH
    static constexpr int kReadBackDiffers = -9;      // written, but the read back differs: nothing copied

    // What the alarm registers can hold that the chips can measure.
    static constexpr int kLowestThreshold = -55;
    static constexpr int kHighestThreshold = 125;

    struct Family
    {
        const char *channelType;
        // 0 when the scratchpad may be used, else the status of the attempt.
        // `previousStatus` is the status the previous attempt ended with.
        int (*check)(Tmex &tmex, const QByteArray &scratchpad, int previousStatus);
        // Temperature in °C from a scratchpad that passed the check.
        double (*temperature)(const QByteArray &scratchpad);
        // The device is set to 12-bit resolution when it reports another.
        bool forcesTwelveBits;
        // Write Scratchpad takes the configuration byte after TH and TL.
        bool hasConfiguration;
        // What the chip can measure, °C: a value outside is a garbled scratchpad.
        double minCelsius;
        double maxCelsius;
        // The configuration byte's fixed bits (byte 4 & mask == fixed); the
        // DS18S20, which has none, reads FFh there.
        uint8_t configurationMask;
        uint8_t configurationFixed;
        // Its channel's description (SensorTraits of the derived driver).
        const SensorTraits *traits;
        // Bits 3..0 of the configuration byte are address pins, told in the
        // channel's type.
        bool addressPins;
    };

    void setWait(int ms) { m_waitMs = ms; }

    // Reads the temperature, converting first as `mode` says; at most 4
    // attempts. Returns 1, or the status of the last attempt; *out gets the
    // temperature, NaN on failure.
    int convertAndRead(double *out, int mode);

    // Sets the device's own alarm thresholds, whole °C: Write Scratchpad with
    // TH, TL (and the configuration byte the device has), a read back that
    // must give them with a good CRC, then Copy Scratchpad into the EEPROM
    // under the strong pull-up (parasite power) with the copy wait.
    // Returns 1 when copied; kThresholdsOutOfRange (nothing sent),
    // kNotSelected, kBadScratchpad (the scratchpad read first failed its
    // checks: nothing written) or kReadBackDiffers (nothing copied; the
    // scratchpad holds what the read back showed until the next power-on or
    // Recall E2). Needs the ROM buffer to hold the device's ROM.
    int writeThresholds(int highCelsius, int lowCelsius);
    // The register byte of a whole-degree threshold (two's complement).
    static uint8_t thresholdByte(int celsius) { return uint8_t(int8_t(celsius)); }

    // Writes the result into the device's single channel record (cutting a
    // longer vector to its last record, adding one to an empty vector).
    void fillChannels(SensorDevice &device);

    double value() const { return m_value; }
    QDateTime time() const { return m_time; }
    // The 9 bytes of the last attempt that read them; empty before.
    QByteArray scratchpad() const { return m_scratchpad; }

    // An alarm register byte as °C: 0xFF is the factory "no alarm" value 125.
    static double alarmCelsius(uint8_t byte);

protected:
    Ds18x20(const Family &family, Tmex &tmex, int32_t *session, uint8_t *state, short *romBuffer);

private:
    // Convert T with the strong pull-up on during the conversion wait.
    void convert();
    // Read Scratchpad after selecting the device; false when it cannot be selected.
    bool readScratchpad();
    // Reads the scratchpad once more: *agree tells whether it came back the
    // same as the read before. False when the device cannot be selected.
    bool readAgreeing(bool *agree);
    // The 12-bit configuration with this scratchpad's TH and TL, once a
    // second read agrees: Write Scratchpad, a read back, then Copy
    // Scratchpad. False when the device cannot be selected; true also when
    // nothing was copied (reads that disagree, a read back that differs).
    bool storeTwelveBits();
    void waitWhileBusy(int ms);
    // Copy Scratchpad to the selected device, with the strong pull-up over
    // the EEPROM wait.
    void copyScratchpad();
    // The scratchpad just read passes its CRC, and its fixed bytes hold or a
    // second read agrees with it.
    bool scratchpadSound();

    const Family &m_family;
    Tmex &m_tmex;
    int32_t *m_session;
    uint8_t *m_state;
    short *m_romBuffer;
    int m_waitMs = kConversionMs;
    QByteArray m_scratchpad;
    double m_value;
    QDateTime m_time;
};
