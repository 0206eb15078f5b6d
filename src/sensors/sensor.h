#pragma once

#include "base/operatornotices.h"
#include "i2c/bridgecontext.h"
#include "i2c/heaterschedule.h"
#include "model/sensortraits.h"
#include "onewire/romid.h"
#include "model/sensordevice.h"

#include <QHash>
#include <QObject>
#include <QStringList>
#include <QVector>
#include <functional>

class Adapter;
class I2cBridge;
class Tmex;

// The program's model of the bus: one SensorDevice per ROM the search found,
// each with the channels its family driver fills; the upkeep after each
// search and the measurement cycle that reads every device by family,
// through the adapter session it is given (which must outlive it).
// Owns its devices and the SHT3x heater plans; gives its bridge reads what
// they need of it as their BridgeContext. GUI thread only.
class Sensor : public QObject, public BridgeContext
{
    Q_OBJECT
public:
    explicit Sensor(Adapter &adapter);
    ~Sensor() override;

    // The window's scan options ("Settings/ScanAllChannel", "Settings/ScanAllType"),
    // pushed by the window whenever they change so every device read sees the
    // current values; both true until set (as without a window).
    void setScanAllChannel(bool on) { m_scanAllChannel = on; }
    void setScanAllType(bool on) { m_scanAllType = on; }
    // The window's "-pt100" and "-sht" switches; both off until set (as in orvexctl).
    void setPt100Mode(bool on) { m_pt100Mode = on; }
    bool pt100Mode() const { return m_pt100Mode; }
    void setShtMode(bool on) { m_shtMode = on; }
    // Where the drivers' warnings for the operator go (standard error until
    // the window takes them).
    OperatorNotices &notices() { return m_notices; }
    QVector<SensorDevice *> *devices() { return &m_devices; }

    bool scanAllChannelSetting() const override { return m_scanAllChannel; }
    bool scanAllTypeSetting() const override { return m_scanAllType; }
    bool shtModeSetting() const override { return m_shtMode; }

    int lastI2cAddress() const override { return m_lastI2cAddress; }
    void setLastI2cAddress(int address) override { m_lastI2cAddress = address; }
    HeaterSchedules &heaterSchedules() override { return m_heaterSchedules; }

    // Device-list upkeep, once per search pass: ageAll, addOrMark per ROM, purge.
    void clear();
    void ageAll();
    // 0 for a known device, else the new device count.
    int addOrMark(const RomId &rom);
    // Removes devices missing from two passes and channels not filled in two
    // passes; returns the number of devices removed.
    int purge();

    // The device key of a ROM in bus order; 0 unless it has 8 elements.
    static uint64_t keyOf(const RomId &rom);

    // One measurement cycle: every device read in list order, stopping after
    // the current device once `stop` returns true, then the bridges' speed and
    // sleep broadcast. The table update is the caller's.
    void measureAll(const std::function<bool()> &stop = std::function<bool()>());

    // After a cycle in which a thermometer broadcast its conversion: one
    // Alarm Search on the bus, and every DS18S20/DS18B20 channel marked as in
    // hardware alarm exactly when its device answered it. Returns how many
    // devices answered; 0 without a conversion this cycle (nothing searched);
    // Adapter's negative code when the search failed (the marks stay as the
    // last search that came to its end left them: a failure says nothing of
    // the thermometers) or the bus cannot run one (the marks are cleared:
    // nothing is ever known of them there).
    int searchAlarms();
    // Whether the dispatch reads devices of this family with a DS18x20 driver.
    static bool isThermometerFamily(uint8_t family);
    // Whether it reads this device with one (also a DS1825 among the 0x3B).
    static bool isThermometer(const SensorDevice &device);

    // The DS2438s with an HIH-4000 on their VAD input, by ROM text as the
    // table shows it ("*": every one); the bus's own description may name
    // more (a simulated chip's "hih4000").
    void setHumidityDevices(const QStringList &roms);
    bool humidityOn(const SensorDevice &device) const;
    // Writes TH/TL into the thermometer `device` (Ds18x20::writeThresholds'
    // result); on success its channel shows them at once. kNotThermometer
    // for a device of another family.
    static constexpr int kNotThermometer = -30;
    int writeThresholds(SensorDevice &device, int highCelsius, int lowCelsius);

    // 1 if the first device read returned 0 or more, 0 if it failed, -1 without devices.
    int startCycle();
    // As startCycle for the next device; -1 past the last one.
    int readNext();
    // 1 read or recognised, 0 skipped or unknown family, -1 read failed.
    // Every channel the read filled with a failed reading carries the time
    // of the attempt and the reason (SensorChannel::failure).
    int readDevice(SensorDevice &device);
    // Asks a bridge read in progress to stop (closing the program).
    void requestStop();

    // What one device read works with.
    struct ReadContext
    {
        Sensor *sensor;
        Tmex &tmex;
        int32_t *session;
        uint8_t *state;
        short *rom;                  // the device's ROM buffer
        bool &broadcastDone;         // a thermometer has broadcast this cycle's conversion
        I2cBridge *&activeBridge;    // the bridge being read, for requestStop
        QString &failure;            // why the read gave no value, for the operator ("" unknown)
    };
    // One family the dispatch knows.
    struct Family
    {
        uint8_t code;
        const SensorTraits *traits;  // null: no channels of its own
        int (*read)(ReadContext &, SensorDevice &); // null: recognised, not read
        // Another chip with the same family code, told apart by the read.
        const SensorTraits *sharedWith = nullptr;
    };
    // The family of a family code; null for one the dispatch does not know.
    static const Family *findFamily(uint8_t code);
    // How scan, the log, the window and MQTT name a device of this family:
    // the 1-Wire catalogue's description (onewire/familynames), else the
    // chip its driver's traits name, else "Unknown device".
    static QString describeFamily(int code);
    // A channel's failure (SensorChannel::failure, kept in the source
    // language as data) in the language the operator reads.
    static QString failureText(const QString &failure);

    // The drivers' traits, one place for whoever describes, charts or times
    // readings: every 1-Wire family's and every I2C sensor type's.
    static QVector<const SensorTraits *> allTraits();
    // The traits of the driver that fills a channel: the I2C sensor type at
    // `i2cAddress`, or with address 0 the family's; null when none does.
    static const SensorTraits *traitsOf(uint8_t family, uint8_t i2cAddress);
    // The first channel of any driver with this unit text; null for a unit
    // no driver writes.
    static const ChannelTraits *unitTraits(const QString &unit);

private:
    Adapter &m_adapter;
    QVector<SensorDevice *> m_devices;
    // The device of each key, so that marking the search's ROMs does not
    // walk the list per ROM; rebuilt whenever its size is not the list's.
    QHash<uint64_t, SensorDevice *> m_byKey;
    int32_t m_cursor = 0;
    bool m_broadcastDone = false;
    int32_t m_lastFamily = -1;
    int32_t m_lastI2cAddress = -1;
    bool m_scanAllChannel = true;
    bool m_scanAllType = true;
    bool m_pt100Mode = false;
    bool m_shtMode = false;
    QStringList m_humidityRoms;
    OperatorNotices m_notices;
    I2cBridge *m_activeBridge = nullptr;
    HeaterSchedules m_heaterSchedules;
};
