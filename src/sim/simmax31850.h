#pragma once

#include "sim/simconversion.h"
#include "sim/simdevice.h"
#include "sim/simtemperature.h"

#include <QJsonObject>
#include <memory>

// A MAX31850 thermocouple converter (family 0x3B) with a type K
// thermocouple, externally powered. Convert T 0x44 (100 ms), Read Scratchpad
// 0xBE, Read Power Supply 0xB4; every other function command is ignored, so
// its answer reads as 0xFF bytes. The chip's value assumes a linear type K slope from its cold
// junction: Tc + (E(Th) - E(Tc)) / 41.276 µV/°C, in 0.25 °C steps; the cold
// junction in 0.0625 °C steps. Before the first conversion both read 0.
class SimMax31850 : public SimDevice
{
public:
    enum Fault { NoFault = 0, OpenCircuit = 1, ShortToGnd = 2, ShortToVdd = 4 };

    explicit SimMax31850(const QByteArray &rom, double hotCelsius = 20.0, double coldCelsius = 25.0);
    QString kind() const override { return QStringLiteral("MAX31850"); }

    void setHotJunction(const SimTemperature &temperature) { m_hot = temperature; }
    void setColdJunction(const SimTemperature &temperature) { m_cold = temperature; }
    // Shown from the next conversion on (fault flag in byte 0, the kind in byte 2).
    void setFault(Fault fault) { m_fault = fault; }
    // Fixes the 8 register bytes; conversions no longer change them.
    void pinScratchpad(const QByteArray &eightBytes);
    // Fault: the next `count` Read Scratchpad answers carry a wrong CRC byte.
    void failCrc(int count) { m_crcErrors = count; }

    // The 9 bytes a Read Scratchpad would give now (faults not applied).
    QByteArray scratchpad();
    int conversionsStarted() const { return m_conversionsStarted; }

    // The chip's thermocouple reading in °C before quantisation.
    static double chipCelsius(double hotCelsius, double coldCelsius);

    // A bus-file entry: "temperature", "coldJunction", "fault", "address",
    // "scratchpad", "crcErrors".
    static std::unique_ptr<SimDevice> fromJson(const QByteArray &rom, const QJsonObject &entry, QString *error);

    uint8_t functionByte(uint8_t fromMaster) override;
    int functionBit(int fromMaster) override;
    void onReset() override;
    void onStrongPullup(bool on) override;

protected:
    bool configure(const QJsonObject &entry, QString *error);
    // The thermocouple value the chip reports, °C, for the temperatures of a conversion.
    virtual double reportedCelsius(double hotCelsius, double coldCelsius) const;
    // A function command this chip does not know; true when the derived chip serves it.
    virtual bool startExtraCommand(uint8_t command) { Q_UNUSED(command); return false; }
    // A byte of a command accepted by startExtraCommand.
    virtual uint8_t extraCommandByte(uint8_t fromMaster) { Q_UNUSED(fromMaster); return 0xFF; }

private:
    enum class Phase { Command, ReadScratchpad, Convert, ReadPowerSupply, Extra, Idle };

    void startCommand(uint8_t command);
    void finishConversion();

    SimTemperature m_hot;
    SimTemperature m_cold;
    SimConversion m_conversion;
    QByteArray m_registers;
    QByteArray m_pinned;
    QByteArray m_readout;
    Phase m_phase = Phase::Idle;
    int m_index = 0;
    Fault m_fault = NoFault;
    int m_crcErrors = 0;
    int m_conversionsStarted = 0;
};
