#pragma once

#include "model/sensortraits.h"

#include <QByteArray>
#include <QDateTime>
#include <cstdint>

class OperatorNotices;
struct SensorChannel;
struct SensorDevice;

// Driver of family 0x3B: MAX31850 thermocouple converters and the Pt100
// emulators that answer like one. Two channels per device: the hot junction,
// computed from the chip's value through the type K table, and the cold
// junction. Carries out the calibration and sub-type requests the table
// leaves in channel 0. Built on the stack for one read.
class Tmex;

class Max31850
{
public:
    // Its two channels (hot and cold junction) and its conversion wait.
    static constexpr int kConversionMs = 100;
    static const SensorTraits kTraits;

    // Status codes besides 1 (success).
    static constexpr int kNotSelected = -1;
    static constexpr int kNoTemperature = -6;   // fault bits set, or a voltage outside the table
    static constexpr int kBadScratchpad = -7;   // CRC error
    static constexpr int kUnknownAnswer = -14;  // the calibration answer is neither an emulator's nor all 0xFF

    // Largest offset, either way, an emulator accepts from the calibrate command.
    static constexpr double kMaxOffsetCelsius = 5.0;
    // Calibration targets at or below this mean "no reference sample".
    static constexpr float kNoSampleLimit = -32767.0f;

    Max31850(Tmex &tmex, int32_t *session, uint8_t *state, short *romBuffer);
    ~Max31850();

    // Converts and reads once, at most 4 attempts: 1, or the last attempt's
    // status (kNotSelected, kNoTemperature, kBadScratchpad). *hot, *cold get
    // the temperatures, NaN when not known.
    int convertAndRead(double *hot, double *cold);
    // Temperatures from a scratchpad: 1, or kNoTemperature (fault bits, or a
    // voltage outside the table; the cold junction is still given in the latter case).
    int toTemperature(const QByteArray &scratchpad, double *hot, double *cold);

    // Emulator function commands. Each selects the device first (4 tries),
    // returning kNotSelected when that fails.
    // 1 with *isEmulator set (emulator, *offset its offset) or clear (plain
    // MAX31850, offset 0); kUnknownAnswer after 4 answers that are neither.
    int readCalibration(float *offset, bool *isEmulator);
    int writeCalibration(float offset);
    // Sub-type 1 Pt100, 2 100П, 0 unknown; kNotSelected also after 4 invalid answers.
    int readSubtype(uint8_t *subtype);
    int writeSubtype(uint8_t subtype);

    // Writes both channel records (bringing the vector to exactly two) and
    // serves the pending calibration and sub-type requests of channel 0.
    void fillChannels(SensorDevice &device);

    QByteArray scratchpad() const { return m_scratchpad; }

    // The "-pt100" switch: an emulator's calibration and sub-type are read
    // and served, and its channel named by its sub-type. Off until set.
    void setPt100Mode(bool on) { m_pt100Mode = on; }
    // Where a refused calibration is told (null: standard error); must
    // outlive the driver.
    void setNotices(const OperatorNotices *notices) { m_notices = notices; }

private:
    // Up to 4 selections.
    bool select();
    void waitWhileConverting(int ms);
    void serveCalibrationRequest(const SensorChannel &channel);
    void warnOperator(const QString &text) const;

    Tmex &m_tmex;
    int32_t *m_session;
    uint8_t *m_state;
    short *m_romBuffer;
    QByteArray m_scratchpad;
    bool m_pt100Mode = false;
    const OperatorNotices *m_notices = nullptr;
    double m_hotValue;
    double m_coldValue;
    QDateTime m_hotTime;
    QDateTime m_coldTime;
};
