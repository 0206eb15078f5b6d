#pragma once

#include "sim/simconversion.h"
#include "sim/simdevice.h"
#include "sim/simtemperature.h"

#include <QJsonObject>
#include <memory>

// A DS2438 battery monitor (family 0x26), powered from VDD. Eight pages of
// eight bytes, each with a scratchpad page: Write Scratchpad 4Eh pp, Read
// Scratchpad BEh pp (8 bytes and their CRC-8), Copy Scratchpad 48h pp,
// Recall Memory B8h pp; Convert T 44h and Convert V B4h (10 ms each; read
// slots return 0 meanwhile, and the TB and ADB flags show). Page 0: the
// status/configuration byte (IAD CA EE AD in bits 0..3; power-on 0Fh, VDD
// selected), the 13-bit temperature, the 10-bit voltage of the input AD
// selects, the current register (the sense voltage in 0.2441 mV steps,
// measured on its own while IAD is set) and the threshold. A write of page
// 0's scratchpad takes its configuration bits at once. With an HIH-4000 on
// VAD, VAD follows the humidity: VDD · (0.0062 · RH · (1.0546 − 0.00216·T) + 0.16).
class SimDs2438 : public SimDevice
{
public:
    explicit SimDs2438(const QByteArray &rom);
    QString kind() const override { return QStringLiteral("DS2438"); }
    QStringList options() const override;

    void setTemperature(const SimTemperature &celsius) { m_celsius = celsius; }
    void setVdd(const SimTemperature &volts) { m_vdd = volts; }
    void setVad(const SimTemperature &volts) { m_vad = volts; }
    void setSenseVolts(double volts) { m_senseVolts = volts; }
    // An HIH-4000 on VAD at this relative humidity, %.
    void setHumidity(const SimTemperature &percent);
    // Fault: the next `count` Read Scratchpad answers carry a wrong CRC byte.
    void failCrc(int count) { m_crcErrors = count; }
    // Fault: the next `count` Read Scratchpad answers are garbled in a bit
    // that always reads 0 (the temperature's lowest) and their CRC byte
    // holds all the same, as one garbled answer in 256 does.
    void failFixedBits(int count) { m_fixedBitErrors = count; }
    // Fault: the next `count` Write Scratchpad commands change nothing.
    void loseWrites(int count) { m_lostWrites = count; }
    // Fault: the next `count` conversions take `extraUs` longer than the
    // data sheet's 10 ms, as a master's wait that ends early sees them.
    void slowConversions(int count, qint64 extraUs)
    {
        m_slowConversions = count;
        m_extraUs = extraUs;
    }

    // The 8 bytes of page 0 as they stand (conversions finished).
    QByteArray page0();
    int conversions() const { return m_conversions; }

    // A bus-file entry: "temperature", "vdd", "vad" (volts, numbers or
    // curves), "senseVolts", "humidity" (an HIH-4000 on VAD), "crcErrors".
    static std::unique_ptr<SimDevice> fromJson(const QByteArray &rom, const QJsonObject &entry, QString *error);

    uint8_t functionByte(uint8_t fromMaster) override;
    int functionBit(int fromMaster) override;
    void onReset() override;

private:
    enum class Phase { Command, Page, WriteScratchpad, ReadScratchpad, Busy, Idle };

    void finishConversions();
    qint64 conversionUs();
    double vadAt(qint64 ms) const;

    SimTemperature m_celsius;
    SimTemperature m_vdd;
    SimTemperature m_vad;
    SimTemperature m_humidity;
    bool m_hasHumidity = false;
    double m_senseVolts = 0.0;
    QByteArray m_memory;      // 8 pages of 8 bytes; page 0 the registers
    QByteArray m_scratchpad;  // the same, as the scratchpad pages hold it
    SimConversion m_temperatureConversion;
    SimConversion m_voltageConversion;
    uint8_t m_command = 0;
    int m_page = 0;
    int m_index = 0;
    Phase m_phase = Phase::Idle;
    bool m_writeLost = false;
    int m_crcErrors = 0;
    int m_fixedBitErrors = 0;
    int m_lostWrites = 0;
    int m_slowConversions = 0;
    qint64 m_extraUs = 0;
    int m_conversions = 0;
    QByteArray m_readout;
};
