#pragma once

#include "sim/simmax31850.h"

// A Pt100 emulator: answers like a MAX31850 and keeps a calibration offset
// and a resistance-thermometer sub-type, served by four more function
// commands:
//   0xFC read offset:  D0 D1 D2 D3 ~D0 ~D1 ~D2 ~D3 (IEEE-754 single, least significant byte first)
//   0xFE write offset: D3 D2 D1 D0 ~D3 ~D2 ~D1 ~D0 (most significant byte first)
//   0xFA read sub-type code, then its complement; 0xFB writes them.
// A write whose complements do not match is ignored. Sub-type codes: 0
// Pt100, 1 100П, anything else unknown. The measured temperature plus the
// offset is reported as a type K voltage from a 0 °C junction, so the
// driver's table gives it back; the cold-junction field is the measured
// board temperature.
class SimPt100Emulator : public SimMax31850
{
public:
    explicit SimPt100Emulator(const QByteArray &rom, double celsius = 20.0, float offsetCelsius = 0.0f,
                              uint8_t subtypeCode = 0);
    QString kind() const override { return QStringLiteral("Pt100 emulator"); }

    float offset() const { return m_offset; }
    uint8_t subtypeCode() const { return m_subtypeCode; }
    void setSubtypeCode(uint8_t code) { m_subtypeCode = code; }
    int offsetWrites() const { return m_offsetWrites; }
    // Fault: the next `count` answers to 0xFC are all zero bytes (neither an
    // emulator's answer nor a plain MAX31850's).
    void failCalibrationReads(int count) { m_badCalibrationReads = count; }

    // A bus-file entry: the MAX31850 keys, "offset" (°C), "subtypeCode"
    // (0..255) and "badCalibrationReads".
    static std::unique_ptr<SimDevice> fromJson(const QByteArray &rom, const QJsonObject &entry, QString *error);

protected:
    double reportedCelsius(double hotCelsius, double coldCelsius) const override;
    bool startExtraCommand(uint8_t command) override;
    uint8_t extraCommandByte(uint8_t fromMaster) override;

private:
    uint8_t m_command = 0;
    QByteArray m_bytes; // answer to send, or bytes received
    int m_index = 0;
    float m_offset;
    uint8_t m_subtypeCode;
    int m_offsetWrites = 0;
    int m_badCalibrationReads = 0;
};
