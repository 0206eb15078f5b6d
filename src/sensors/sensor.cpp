#include "sensors/sensor.h"

#include "base/logging.h"
#include "i2c/i2cbridge.h"
#include "i2c/i2csensortypes.h"
#include "onewire/adapter.h"
#include "onewire/familynames.h"
#include "onewire/tmex.h"
#include "base/clock.h"
#include "base/cpumeter.h"
#include "bus/busbackend.h"
#include "bus/crc.h"
#include "sensors/ds1822.h"
#include "sensors/ds1825.h"
#include "sensors/ds18b20.h"
#include "sensors/ds18s20.h"
#include "sensors/ds2408.h"
#include "sensors/ds2413.h"
#include "sensors/ds2423.h"
#include "sensors/ds2438.h"
#include "sensors/ds2450.h"
#include "sensors/ds28ea00.h"
#include "sensors/max31850.h"

#include <QCoreApplication>
#include <QScopedValueRollback>
#include <QSet>
#include <QTime>
#include <algorithm>
#include <cmath>

namespace {

// One DS18x20 read: the first thermometer of a cycle broadcasts the
// conversion, which then serves every other one. -1 when the device could
// not be selected (its channel untouched), else 1 with the channel filled.
template <typename Driver>
int readThermometer(Sensor::ReadContext &r, SensorDevice &device)
{
    Driver driver(r.tmex, r.session, r.state, r.rom);
    double value = 0;
    int result;
    if (r.broadcastDone) {
        result = driver.convertAndRead(&value, Ds18x20::ReadOnly);
    } else {
        result = driver.convertAndRead(&value, Ds18x20::ConvertAll);
        if (result != -1)
            r.broadcastDone = true;
    }
    if (result == -1) {
        r.failure = QStringLiteral(QT_TRANSLATE_NOOP("Sensor", "нет ответа"));
        return -1;
    }
    if (result == Ds18x20::kBadScratchpad)
        r.failure = QStringLiteral(QT_TRANSLATE_NOOP("Sensor", "ошибка CRC"));
    else if (result == Ds18x20::kPowerOnValue)
        r.failure = QStringLiteral(QT_TRANSLATE_NOOP("Sensor", "нет преобразования (значение при включении)"));
    driver.fillChannels(device);
    return 1;
}

// Why a thermocouple read gave no temperature, from the last attempt's code
// and the chip's fault bits (scratchpad byte 2: open, short to GND, to VCC).
QString thermocoupleFailure(int result, const QByteArray &scratchpad)
{
    if (result == Max31850::kBadScratchpad)
        return QStringLiteral(QT_TRANSLATE_NOOP("Sensor", "ошибка CRC"));
    if (result != Max31850::kNoTemperature)
        return QStringLiteral(QT_TRANSLATE_NOOP("Sensor", "нет ответа"));
    if (scratchpad.size() >= 4 && (scratchpad.at(0) & 0x01)) {
        const int faults = scratchpad.at(2) & 0x07;
        if (faults & 0x01)
            return QStringLiteral(QT_TRANSLATE_NOOP("Sensor", "обрыв термопары"));
        if (faults & 0x02)
            return QStringLiteral(QT_TRANSLATE_NOOP("Sensor", "замыкание термопары на землю (GND)"));
        if (faults & 0x04)
            return QStringLiteral(QT_TRANSLATE_NOOP("Sensor", "замыкание термопары на питание (VCC)"));
        return QStringLiteral(QT_TRANSLATE_NOOP("Sensor", "неисправность термопары"));
    }
    return QStringLiteral(QT_TRANSLATE_NOOP("Sensor", "напряжение термопары вне таблицы"));
}

// Up to 4 reads, each failure logged, then the fill (failed or not).
int readThermocouple(Sensor::ReadContext &r, SensorDevice &device)
{
    Max31850 driver(r.tmex, r.session, r.state, r.rom);
    driver.setPt100Mode(r.sensor->pt100Mode());
    driver.setNotices(&r.sensor->notices());
    double hot = 0, cold = 0;
    int result = Max31850::kNotSelected;
    for (int call = 1; call <= 4; ++call) {
        result = driver.convertAndRead(&hot, &cold);
        if (result == 1) {
            if (call > 1)
                qDebug() << "ErrorReadValue ThisOK --- " << Clock::now().toString(QStringLiteral("hh:mm:ss:zzz"))
                         << "; " << 4 - call;
            driver.fillChannels(device);
            return result;
        }
        Clock::processEvents();
        Clock::sleepMs(10);
        if (call < 4)
            qDebug() << "ErrorReadValue " << Clock::now().toString(QStringLiteral("hh:mm:ss:zzz")) << "; "
                     << 3 - call;
    }
    r.failure = thermocoupleFailure(result, driver.scratchpad());
    driver.fillChannels(device);
    return -1;
}

// Family 0x3B is a MAX31850 (or a Pt100 emulator answering like one) or a
// DS1825: the configuration byte of a scratchpad with a good CRC tells them
// apart, once; the device keeps the answer. Until one does, the read is the
// MAX31850's, as for every 0x3B device before the DS1825 was known.
int readFamily3B(Sensor::ReadContext &r, SensorDevice &device)
{
    for (int attempt = 0; attempt < 4 && !device.chip; ++attempt) {
        if (!r.tmex.selectDevice(*r.session, r.state, r.rom))
            continue;
        QByteArray run = QByteArray(1, char(0xBE)) + QByteArray(9, char(0xFF));
        if (r.tmex.blockIO(*r.session, run) != run.size() || Crc::dallas8(run.mid(1)) != 0)
            continue;
        switch (Ds1825::chipOf(run.mid(1))) {
        case Ds1825::Chip::Ds1825:
            device.chip = &Ds1825::kTraits;
            break;
        case Ds1825::Chip::Max31850:
            device.chip = &Max31850::kTraits;
            break;
        case Ds1825::Chip::Unknown:
            break;
        }
    }
    if (device.chip == &Ds1825::kTraits)
        return readThermometer<Ds1825>(r, device);
    return readThermocouple(r, device);
}

// The outcome of a read of one of the other chips: -1 when it did not
// answer (its channels untouched), else 1 with them filled, NaN after a
// failed check.
int readOutcome(Sensor::ReadContext &r, int result, int notSelected)
{
    if (result == notSelected) {
        r.failure = QStringLiteral(QT_TRANSLATE_NOOP("Sensor", "нет ответа"));
        return -1;
    }
    if (result != 1)
        r.failure = QStringLiteral(QT_TRANSLATE_NOOP("Sensor", "ошибка CRC"));
    return 1;
}

template <typename Driver>
int readChip(Sensor::ReadContext &r, SensorDevice &device)
{
    Driver driver(r.tmex, r.session, r.state, r.rom);
    const int outcome = readOutcome(r, driver.convertAndRead(), Driver::kNotSelected);
    if (outcome == 1)
        driver.fillChannels(device);
    return outcome;
}

int readBatteryMonitor(Sensor::ReadContext &r, SensorDevice &device)
{
    Ds2438 driver(r.tmex, r.session, r.state, r.rom);
    driver.setHumidity(r.sensor->humidityOn(device));
    const int outcome = readOutcome(r, driver.convertAndRead(), Ds2438::kNotSelected);
    if (outcome == 1)
        driver.fillChannels(device);
    return outcome;
}

int readConverter(Sensor::ReadContext &r, SensorDevice &device)
{
    Ds2450 driver(r.tmex, r.session, r.state, r.rom);
    const int result = driver.convertAndRead();
    const int outcome = readOutcome(r, result, Ds2450::kNotSelected);
    if (result == Ds2450::kNoPullup)
        r.failure = QStringLiteral(QT_TRANSLATE_NOOP("Sensor", "нет сильной подтяжки для преобразования (питание от линии данных)"));
    if (outcome == 1)
        driver.fillChannels(device);
    return outcome;
}

int readCounter(Sensor::ReadContext &r, SensorDevice &device)
{
    Ds2423 driver(r.tmex, r.session, r.state, r.rom);
    const int outcome = readOutcome(r, driver.convertAndRead(), Ds2423::kNotSelected);
    if (outcome == 1 && driver.fillChannels(device))
        r.failure = QStringLiteral(QT_TRANSLATE_NOOP("Sensor", "счётчик пошёл назад"));
    return outcome;
}

// Everything behind a DS28E17, hub channel by hub channel; the read can be
// stopped from outside (Sensor::requestStop).
int readBridge(Sensor::ReadContext &r, SensorDevice &device)
{
    I2cBridge bridge(r.tmex, r.session, r.state, r.rom, r.sensor);
    r.activeBridge = &bridge;
    bridge.readSensors(device);
    r.activeBridge = nullptr;
    return 1;
}

// The families read, by family code; a family without `read` is recognised
// (it counts as read) and has no channels.
const QVector<Sensor::Family> &families()
{
    static const QVector<Sensor::Family> table{
        {0x10, &Ds18s20::kTraits, &readThermometer<Ds18s20>},
        {0x28, &Ds18b20::kTraits, &readThermometer<Ds18b20>},
        {0x22, &Ds1822::kTraits, &readThermometer<Ds1822>},
        {0x42, &Ds28ea00::kTraits, &readThermometer<Ds28ea00>},
        {0x3B, &Max31850::kTraits, &readFamily3B, &Ds1825::kTraits},
        {0x26, &Ds2438::kTraits, &readBatteryMonitor},
        {0x20, &Ds2450::kTraits, &readConverter},
        {0x1D, &Ds2423::kTraits, &readCounter},
        {0x3A, &Ds2413::kTraits, &readChip<Ds2413>},
        {0x29, &Ds2408::kTraits, &readChip<Ds2408>},
        {0x19, nullptr, &readBridge}, // its channels are the I2C sensors' (i2cSensorTypes)
        {0x21, nullptr, nullptr},
        {0x41, nullptr, nullptr},
    };
    return table;
}

} // namespace

Sensor::Sensor(Adapter &adapter)
    : QObject(nullptr)
    , m_adapter(adapter)
{
}

Sensor::~Sensor()
{
    clear();
}

void Sensor::clear()
{
    qDeleteAll(m_devices);
    m_devices.clear();
    m_byKey.clear();
}

void Sensor::ageAll()
{
    for (SensorDevice *device : m_devices) {
        device->presence = uint8_t(device->presence << 1);
        for (SensorChannel &channel : device->channels)
            channel.updated = uint8_t(channel.updated << 1);
    }
}

uint64_t Sensor::keyOf(const RomId &rom)
{
    return romKey(rom, false);
}

int Sensor::addOrMark(const RomId &rom)
{
    const uint64_t key = keyOf(rom);
    if (m_byKey.size() != m_devices.size()) {
        // The first device of each key is the one found, as a walk would find it.
        m_byKey.clear();
        for (int i = m_devices.size() - 1; i >= 0; --i)
            m_byKey.insert(m_devices.at(i)->key, m_devices.at(i));
    }
    if (SensorDevice *device = m_byKey.value(key)) {
        device->presence = uint8_t((device->presence << 1) | 1);
        return 0;
    }
    auto *device = new SensorDevice;
    device->key = key;
    for (int i = 0; i < 8; ++i)
        device->rom << short((key >> (8 * i)) & 0xFF);
    device->family = rom.isEmpty() ? 0 : uint8_t(rom.at(0) & 0xFF);
    device->presence = 1;
    m_devices.append(device);
    m_byKey.insert(key, device);
    return m_devices.size();
}

int Sensor::purge()
{
    int removed = 0;
    for (int i = 0; i < m_devices.size();) {
        SensorDevice *device = m_devices.at(i);
        if (!device->isPresent()) {
            m_byKey.remove(device->key);
            delete device;
            m_devices.remove(i);
            ++removed;
            i = 0; // the walk starts again from the first device
            continue;
        }
        for (int c = device->channels.size() - 1; c >= 0; --c) {
            if (!device->channels.at(c).isLive())
                device->channels.remove(c);
        }
        ++i;
    }
    return removed;
}

void Sensor::measureAll(const std::function<bool()> &stop)
{
    CpuMeter::Scope meter(CpuMeter::Reads);
    if (startCycle() >= 0) {
        while (readNext() != -1) {
            if (stop && stop())
                break;
        }
    }
    // All bridges at once (Skip ROM): back to 100 kHz, then to sleep until
    // the next reset; events get through before each broadcast, as between devices.
    Clock::keepResponsive();
    int32_t session = m_adapter.sessionHandle();
    short unusedRom[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    I2cBridge bridges(m_adapter.tmex(), &session, m_adapter.accessStateBuffer(), unusedRom, nullptr);
    Clock::keepResponsive();
    bridges.sendSleepCommand();
}

bool Sensor::isThermometerFamily(uint8_t family)
{
    return family == 0x10 || family == 0x28 || family == 0x22 || family == 0x42;
}

bool Sensor::isThermometer(const SensorDevice &device)
{
    return isThermometerFamily(device.family) || device.chip == &Ds1825::kTraits;
}

void Sensor::setHumidityDevices(const QStringList &roms)
{
    m_humidityRoms.clear();
    for (const QString &rom : roms)
        m_humidityRoms << rom.trimmed().toUpper();
}

bool Sensor::humidityOn(const SensorDevice &device) const
{
    if (m_humidityRoms.contains(QStringLiteral("*")) || m_humidityRoms.contains(romToText(device.rom, false).toUpper()))
        return true;
    BusBackend *backend = m_adapter.tmex().backend();
    if (!backend || device.rom.size() != 8)
        return false;
    uint8_t rom[8];
    for (int i = 0; i < 8; ++i)
        rom[i] = uint8_t(device.rom.at(7 - i));
    return backend->deviceOptions(rom).contains(QStringLiteral("hih4000"));
}

int Sensor::searchAlarms()
{
    if (!m_broadcastDone)
        return 0;
    RomList roms;
    const int result = m_adapter.alarmSearch(roms);
    QSet<uint64_t> alarming;
    if (result == 1) {
        for (const RomId &rom : qAsConst(roms))
            alarming.insert(keyOf(rom));
    } else {
        if (result != Adapter::kNoAlarmSearch) {
            qCDebug(logInfo()) << "Alarm search failed (" << result << "): the hardware-alarm marks stay as they were";
            return result;
        }
        qCDebug(logInfo()) << "Alarm search gave" << result;
    }
    for (SensorDevice *device : qAsConst(m_devices)) {
        if (!isThermometer(*device))
            continue;
        const bool on = alarming.contains(device->key);
        for (SensorChannel &channel : device->channels)
            channel.hardwareAlarm = on;
        if (on)
            qCDebug(logInfo()) << "Hardware alarm:" << romToText(device->rom, false);
    }
    return result == 1 ? roms.size() : result;
}

int Sensor::writeThresholds(SensorDevice &device, int highCelsius, int lowCelsius)
{
    if (!isThermometer(device) || device.rom.size() != 8)
        return kNotThermometer;
    short romBuffer[8];
    for (int i = 0; i < 8; ++i)
        romBuffer[i] = device.rom.at(7 - i);
    int32_t session = m_adapter.sessionHandle();
    auto write = [&](auto driver) { return driver.writeThresholds(highCelsius, lowCelsius); };
    Tmex &tmex = m_adapter.tmex();
    uint8_t *state = m_adapter.accessStateBuffer();
    int result;
    switch (device.family) {
    case 0x28:
        result = write(Ds18b20(tmex, &session, state, romBuffer));
        break;
    case 0x22:
        result = write(Ds1822(tmex, &session, state, romBuffer));
        break;
    case 0x42:
        result = write(Ds28ea00(tmex, &session, state, romBuffer));
        break;
    case 0x3B:
        result = write(Ds1825(tmex, &session, state, romBuffer));
        break;
    default:
        result = write(Ds18s20(tmex, &session, state, romBuffer));
        break;
    }
    if (result == 1) {
        for (SensorChannel &channel : device.channels) {
            channel.alarmHigh = Ds18x20::alarmCelsius(Ds18x20::thresholdByte(highCelsius));
            channel.alarmLow = Ds18x20::alarmCelsius(Ds18x20::thresholdByte(lowCelsius));
        }
    }
    return result;
}

int Sensor::startCycle()
{
    m_cursor = 0;
    m_broadcastDone = false;
    m_lastFamily = -1;
    if (m_devices.isEmpty())
        return -1;
    return readDevice(*m_devices.first()) >= 0 ? 1 : 0;
}

int Sensor::readNext()
{
    ++m_cursor;
    if (m_cursor >= m_devices.size())
        return -1;
    return readDevice(*m_devices.at(m_cursor)) >= 0 ? 1 : 0;
}

int Sensor::readDevice(SensorDevice &device)
{
    short romBuffer[8];
    for (int i = 0; i < 8; ++i)
        romBuffer[i] = device.rom.size() == 8 ? device.rom.at(7 - i) : 0;

    if (!m_scanAllType && m_lastFamily != -1 && device.family != m_lastFamily)
        return 0;

    Clock::processEvents();

    const QScopedValueRollback<bool> inProgress(device.beingRead, true);

    int32_t session = m_adapter.sessionHandle();
    const Family *family = findFamily(device.family);
    if (!family) {
        m_lastFamily = -1;
        return 0;
    }
    m_lastFamily = device.family;
    if (!family->read)
        return 1;
    // What the table and the files need of every attempt, whatever the
    // driver: a failed reading ("---") carries the time of the attempt and
    // why it failed. A channel the read did not fill keeps its record and is
    // marked missed (the table shows it missing until the list drops it).
    const QDateTime attempt = Clock::now();
    QVector<uint64_t> before;
    for (const SensorChannel &channel : qAsConst(device.channels))
        before << channel.reading;
    QString failure;
    ReadContext context{this, m_adapter.tmex(), &session, m_adapter.accessStateBuffer(), romBuffer, m_broadcastDone,
                        m_activeBridge, failure};
    const int result = family->read(context, device);
    // A device the master cannot reach at all (the kernel's bus without raw
    // access, a parasite device it cannot convert) fails for that reason,
    // which the table should show rather than a bare "no answer".
    BusBackend *backend = m_adapter.tmex().backend();
    const bool failed = std::any_of(device.channels.cbegin(), device.channels.cend(),
                                    [](const SensorChannel &channel) { return std::isnan(channel.value); });
    if (backend && failed) {
        uint8_t rom[8];
        for (int i = 0; i < 8; ++i)
            rom[i] = uint8_t(romBuffer[i]);
        const QString unreachable = backend->deviceProblem(rom);
        if (!unreachable.isEmpty())
            failure = unreachable;
    }
    for (int i = 0; i < device.channels.size(); ++i) {
        SensorChannel &channel = device.channels[i];
        channel.missed = i < before.size() && channel.reading == before.at(i);
        if (channel.missed)
            continue;
        if (!channel.time.isValid())
            channel.time = attempt;
        if (std::isnan(channel.value))
            channel.failure = failure.isEmpty() ? QStringLiteral(QT_TRANSLATE_NOOP("Sensor", "нет значения (причина в журнале)")) : failure;
        else
            channel.failure.clear();
    }
    return result;
}

QString Sensor::failureText(const QString &failure)
{
    return QCoreApplication::translate("Sensor", failure.toUtf8().constData());
}

const Sensor::Family *Sensor::findFamily(uint8_t code)
{
    for (const Family &family : families()) {
        if (family.code == code)
            return &family;
    }
    return nullptr;
}

QString Sensor::describeFamily(int code)
{
    const QString unknown = FamilyNames::describe(-1);
    const QString described = FamilyNames::describe(code);
    if (described != unknown || code < 0 || code > 0xFF)
        return described;
    const Family *family = findFamily(uint8_t(code));
    if (family && family->traits && family->traits->name)
        return QLatin1String(family->traits->name);
    return unknown;
}

QVector<const SensorTraits *> Sensor::allTraits()
{
    QVector<const SensorTraits *> all;
    for (const Family &family : families()) {
        if (family.traits)
            all << family.traits;
        if (family.sharedWith)
            all << family.sharedWith;
    }
    for (const I2cSensorType &type : i2cSensorTypes())
        all << type.traits;
    return all;
}

const SensorTraits *Sensor::traitsOf(uint8_t family, uint8_t i2cAddress)
{
    if (i2cAddress != 0) {
        for (const I2cSensorType &type : i2cSensorTypes()) {
            if (type.traits->address == i2cAddress)
                return type.traits;
        }
        return nullptr;
    }
    const Family *known = findFamily(family);
    return known ? known->traits : nullptr;
}

const ChannelTraits *Sensor::unitTraits(const QString &unit)
{
    static const QVector<const SensorTraits *> all = allTraits();
    for (const SensorTraits *traits : all) {
        for (int i = 0; i < traits->channelCount; ++i) {
            if (unit == QLatin1String(traits->channels[i].unit))
                return &traits->channels[i];
        }
    }
    return nullptr;
}

void Sensor::requestStop()
{
    if (m_activeBridge)
        m_activeBridge->requestStop();
}
