#include "sensors/sensor.h"

#include "base/logging.h"
#include "i2c/i2cbridge.h"
#include "onewire/adapter.h"
#include "base/clock.h"
#include "base/cpumeter.h"
#include "sensors/ds18b20.h"
#include "sensors/ds18s20.h"
#include "sensors/max31850.h"

#include <QScopedValueRollback>
#include <QTime>

namespace {

// One DS18x20 read: the first thermometer of a cycle broadcasts the
// conversion, which then serves every other one. -1 when the device could
// not be selected (its channel untouched), else 1 with the channel filled.
int readThermometer(Ds18x20 &driver, SensorDevice &device, bool &broadcastDone)
{
    driver.setWait(1000);
    double value = 0;
    int result;
    if (broadcastDone) {
        result = driver.convertAndRead(&value, Ds18x20::ReadOnly);
    } else {
        result = driver.convertAndRead(&value, Ds18x20::ConvertAll);
        if (result != -1)
            broadcastDone = true;
    }
    if (result == -1)
        return -1;
    driver.fillChannels(device);
    return 1;
}

} // namespace

Sensor::Sensor()
    : QObject(nullptr)
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
    if (rom.size() != 8)
        return 0;
    uint64_t key = 0;
    for (short element : rom)
        key = (key << 8) | uint64_t(element & 0xFF);
    return key;
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
    int32_t session = Adapter::instance().sessionHandle();
    short unusedRom[8] = {0, 0, 0, 0, 0, 0, 0, 0};
    I2cBridge bridges(&session, Adapter::instance().accessStateBuffer(), unusedRom, nullptr);
    Clock::keepResponsive();
    bridges.sendSleepCommand();
}

int Sensor::startCycle()
{
    m_cursor = 0;
    m_broadcastDone = false;
    m_lastFamily = -1;
    if (m_devices.isEmpty())
        return -1;
    for (SensorDevice *device : m_devices) {
        for (SensorChannel &channel : device->channels)
            channel.writtenThisCycle = false;
    }
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

    int32_t session = Adapter::instance().sessionHandle();
    uint8_t *state = Adapter::instance().accessStateBuffer();
    switch (device.family) {
    case 0x10:
    case 0x28: {
        m_lastFamily = device.family;
        if (device.family == 0x10) {
            Ds18s20 driver(&session, state, romBuffer);
            return readThermometer(driver, device, m_broadcastDone);
        }
        Ds18b20 driver(&session, state, romBuffer);
        return readThermometer(driver, device, m_broadcastDone);
    }
    case 0x3B: {
        m_lastFamily = device.family;
        Max31850 driver(&session, state, romBuffer);
        double hot = 0, cold = 0;
        for (int call = 1; call <= 4; ++call) {
            const int result = driver.convertAndRead(&hot, &cold);
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
        driver.fillChannels(device);
        return -1;
    }
    case 0x19: {
        m_lastFamily = device.family;
        I2cBridge bridge(&session, state, romBuffer, this);
        m_activeBridge = &bridge;
        bridge.readSensors(device);
        m_activeBridge = nullptr;
        return 1;
    }
    case 0x21:
    case 0x26:
    case 0x41:
        m_lastFamily = device.family;
        return 1;
    default:
        m_lastFamily = -1;
        return 0;
    }
}

void Sensor::requestStop()
{
    if (m_activeBridge)
        m_activeBridge->requestStop();
}
