#include "session/measurementsession.h"

#include "base/appsettings.h"
#include "base/clock.h"
#include "base/logging.h"
#include "bus/busbackend.h"
#include "model/alarmboard.h"
#include "model/readingsink.h"
#include "model/sensordevice.h"
#include "i2c/i2cbridge.h"
#include "onewire/tmex.h"
#include "sensors/ds18x20.h"
#include "sensors/sensor.h"
#include "session/recordersettings.h"
#include "table/recorder.h"
#include "table/tableman.h"

#include <QCoreApplication>
#include <QDebug>
#include <QScopedValueRollback>
#include <QThread>
#include <cmath>
#include <exception>

namespace {

// A master's kind as the word outputs hand on (CycleSummary::busKinds).
QString kindKey(BusBackend::Kind kind)
{
    switch (kind) {
    case BusBackend::Kind::SerialAdapter:
        return QStringLiteral("serial");
    case BusBackend::Kind::UsbAdapter:
        return QStringLiteral("usb");
    case BusBackend::Kind::KernelMaster:
        return QStringLiteral("kernel");
    case BusBackend::Kind::Simulated:
        return QStringLiteral("simulated");
    case BusBackend::Kind::Driver:
        break;
    }
    return QStringLiteral("driver");
}

} // namespace

class MeasurementSession::Bus
{
public:
    explicit Bus(BusBackend *backend)
        : tmex(backend)
        , adapter(std::make_unique<Adapter>(tmex))
        , sensor(std::make_unique<Sensor>(*adapter))
        , acquisition(*adapter, sensor.get())
    {
    }

    Tmex tmex;
    std::unique_ptr<Adapter> adapter; // its state buffers are large
    std::unique_ptr<Sensor> sensor;
    Acquisition acquisition;
    Acquisition::Result result;
    int openResult = 1; // the last open(): 1 the adapter is there
    int alarmResult = 0; // the last Sensor::searchAlarms()

    // Open the adapter and, when it is there, search.
    void refresh()
    {
        result = acquisition.refresh();
        openResult = result.openResult;
    }
};

MeasurementSession::MeasurementSession(BusBackend *backend, QObject *parent)
    : QObject(parent)
{
    m_buses.push_back(std::make_unique<Bus>(backend));
    build();
}

MeasurementSession::MeasurementSession(std::vector<std::unique_ptr<BusBackend>> backends, QObject *parent)
    : QObject(parent)
    , m_ownedBackends(std::move(backends))
{
    for (const std::unique_ptr<BusBackend> &backend : m_ownedBackends)
        m_buses.push_back(std::make_unique<Bus>(backend.get()));
    if (m_buses.empty())
        m_buses.push_back(std::make_unique<Bus>(nullptr));
    build();
}

void MeasurementSession::build()
{
    // The run starts now: %DATE% and %TIME% of the file names give this time.
    m_recorder = std::make_unique<Recorder>(Clock::now());
    m_alarms = std::make_unique<AlarmBoard>();
    m_table = std::make_unique<TableMan>(m_recorder.get());
    m_table->setAlarmBoard(m_alarms.get());
    connect(m_table.get(), &TableMan::updated, this, &MeasurementSession::deliverNew);
    m_table->init(m_buses.size() == 1 ? m_buses.front()->sensor->devices() : &m_allDevices);
}

std::unique_ptr<MeasurementSession> MeasurementSession::fromDescription(SessionDescription description, QString *error)
{
    std::unique_ptr<MeasurementSession> session;
    if (description.buses.empty() && description.bus)
        session = std::make_unique<MeasurementSession>(description.bus);
    else
        session = std::make_unique<MeasurementSession>(std::move(description.buses));
    for (const std::unique_ptr<Bus> &bus : session->m_buses) {
        bus->sensor->setScanAllChannel(description.scanAllChannel);
        bus->sensor->setScanAllType(description.scanAllType);
        bus->sensor->setHumidityDevices(storedHumidityDevices(appSettings()));
    }
    loadRecorderSettings(appSettings(), session->recorder());
    if (!description.nameTemplate.isEmpty())
        session->recorder().setNameTemplate(description.nameTemplate);
    session->keepTable(description.keepTable);
    session->setRecordingFolder(description.recordingFolder);

    description.host.recordingFolder = description.recordingFolder;
    description.host.alarms = session->m_alarms.get();
    description.host.firstSplit = session->recorder().firstSplit();
    description.host.lastSplit = session->recorder().lastSplit();
    QStringList problems;
    for (SessionDescription::PlannedOutput &planned : description.outputs) {
        QString problem;
        std::unique_ptr<ReadingSink> output = planned.plan->start(description.host, &problem);
        if (!output) {
            problems << problem;
            continue;
        }
        session->addSink(output.get());
        session->m_outputs.emplace_back(planned.name, std::move(output));
    }
    if (error)
        *error = problems.join(QLatin1Char('\n'));
    return session;
}

ReadingSink *MeasurementSession::output(const QString &name) const
{
    for (const auto &named : m_outputs) {
        if (named.first == name)
            return named.second.get();
    }
    return nullptr;
}

int MeasurementSession::finishOutputs()
{
    for (const auto &named : m_outputs)
        removeSink(named.second.get());
    int code = 0;
    for (const auto &named : m_outputs) {
        const int finished = named.second->finish();
        if (code == 0)
            code = finished;
    }
    return code;
}

// The outputs leave the sinks before they go; the table reads the sensors'
// device lists: it goes next, the buses' backends last.
MeasurementSession::~MeasurementSession()
{
    for (const auto &named : m_outputs)
        removeSink(named.second.get());
    m_outputs.clear();
    m_table.reset();
    m_buses.clear();
}

Adapter &MeasurementSession::adapter(int bus)
{
    return *m_buses.at(size_t(bus))->adapter;
}

Sensor &MeasurementSession::sensor(int bus)
{
    return *m_buses.at(size_t(bus))->sensor;
}

Acquisition &MeasurementSession::acquisition(int bus)
{
    return m_buses.at(size_t(bus))->acquisition;
}

BusBackend *MeasurementSession::backend(int bus) const
{
    return m_buses.at(size_t(bus))->tmex.backend();
}

QVector<SensorDevice *> MeasurementSession::allDevices() const
{
    if (m_buses.size() == 1)
        return *m_buses.front()->sensor->devices();
    QVector<SensorDevice *> all;
    for (const std::unique_ptr<Bus> &bus : m_buses)
        all += *bus->sensor->devices();
    return all;
}

const Acquisition::Result &MeasurementSession::busResult(int bus) const
{
    return m_buses.at(size_t(bus))->result;
}

int MeasurementSession::searchRoms(int bus, RomList &roms)
{
    return adapter(bus).search(roms);
}

void MeasurementSession::readBridge(int bus, const RomId &rom, SensorDevice &device)
{
    Adapter &busAdapter = adapter(bus);
    int32_t handle = busAdapter.sessionHandle();
    RomId buffer = rom;
    I2cBridge bridge(busAdapter.tmex(), &handle, busAdapter.accessStateBuffer(), buffer.data(), &sensor(bus));
    bridge.readSensors(device);
}

void MeasurementSession::setRecordingFolder(const QString &folder)
{
    m_recorder->setFolder(folder);
    m_table->setOutputFolder(folder);
}

QString MeasurementSession::recordingFolder() const
{
    return m_recorder->folder();
}

bool MeasurementSession::tableRuns() const
{
    return m_tableKept || !m_recorder->folder().isEmpty() || !m_sinks.isEmpty();
}

void MeasurementSession::addSink(ReadingSink *sink)
{
    if (!sink || m_sinks.contains(sink))
        return;
    m_sinks.append(sink);
    // A sink that is a Qt object leaves by itself when it is destroyed.
    if (auto *object = dynamic_cast<QObject *>(sink))
        connect(object, &QObject::destroyed, this, [this, sink] { removeSink(sink); });
}

void MeasurementSession::removeSink(ReadingSink *sink)
{
    m_sinks.removeAll(sink);
    m_failedSinks.removeAll(sink);
}

void MeasurementSession::forEachBus(const std::function<void(Bus &)> &work)
{
    if (m_buses.size() == 1) {
        work(*m_buses.front());
        return;
    }
    // Side by side: on a virtual clock every bus runs on a time line of its
    // own from the same start, and the clock then stands where the slowest
    // ended; buses whose masters allow it run in threads of their own, the
    // others in turn on this thread.
    qint64 endUs = Clock::tickUs();
    std::vector<qint64> laneEnds(m_buses.size(), endUs);
    std::vector<std::unique_ptr<QThread>> threads;
    for (size_t i = 0; i < m_buses.size(); ++i) {
        Bus *bus = m_buses[i].get();
        qint64 *laneEnd = &laneEnds[i];
        auto run = [&work, bus, laneEnd] {
            Clock::Lane lane;
            work(*bus);
            *laneEnd = lane.endUs();
        };
        const BusBackend *backend = bus->tmex.backend();
        if (backend && backend->runsInAnyThread()) {
            threads.emplace_back(QThread::create(run));
            threads.back()->start();
        } else {
            run();
        }
    }
    for (const std::unique_ptr<QThread> &thread : threads)
        thread->wait();
    for (qint64 laneEnd : laneEnds)
        endUs = qMax(endUs, laneEnd);
    Clock::joinLanes(endUs);
}

int MeasurementSession::open()
{
    m_cycleStartUs = Clock::tickUs();
    {
        const QScopedValueRollback<int> driving(m_driving, m_driving + 1);
        forEachBus([](Bus &bus) { bus.openResult = bus.result.openResult = bus.acquisition.open(); });
    }
    for (const std::unique_ptr<Bus> &bus : m_buses) {
        if (bus->openResult != 1)
            return bus->openResult;
    }
    return 1;
}

Acquisition::Result MeasurementSession::search()
{
    {
        const QScopedValueRollback<int> driving(m_driving, m_driving + 1);
        forEachBus([](Bus &bus) { bus.result = bus.acquisition.update(); });
    }
    runPendingWrites();
    return m_buses.front()->result;
}

Acquisition::Result MeasurementSession::refresh()
{
    m_cycleStartUs = Clock::tickUs();
    {
        const QScopedValueRollback<int> driving(m_driving, m_driving + 1);
        forEachBus([](Bus &bus) { bus.refresh(); });
    }
    runPendingWrites();
    return m_buses.front()->result;
}

// Without the adapter no device is read, whatever its kind: the files get no
// lines and the table shows the last readings as they age. The Alarm Search
// (a reset and a few slots when nothing alarms, one search pass per alarming
// device) follows the reads, so the table shows its marks with them.
void MeasurementSession::measureBus(Bus &bus, const std::function<bool()> &stop)
{
    if (bus.openResult != 1)
        return;
    bus.sensor->measureAll(stop);
    if (stop && stop())
        return; // closing: the marks do not matter any more
    bus.alarmResult = bus.sensor->searchAlarms();
}

void MeasurementSession::measure(const std::function<bool()> &stop)
{
    if (m_cycleStartUs < 0)
        m_cycleStartUs = Clock::tickUs();
    {
        const QScopedValueRollback<int> driving(m_driving, m_driving + 1);
        forEachBus([this, &stop](Bus &bus) { measureBus(bus, stop); });
        updateTable();
        endCycle();
    }
    runPendingWrites();
}

void MeasurementSession::cycle()
{
    m_cycleStartUs = Clock::tickUs();
    {
        const QScopedValueRollback<int> driving(m_driving, m_driving + 1);
        forEachBus([this](Bus &bus) {
            bus.refresh();
            measureBus(bus, std::function<bool()>());
        });
        updateTable();
        endCycle();
    }
    runPendingWrites();
}

int MeasurementSession::alarmSearchResult(int bus) const
{
    return m_buses.at(size_t(bus))->alarmResult;
}

void MeasurementSession::writeThresholds(uint64_t deviceKey, int highCelsius, int lowCelsius, ThresholdsDone done)
{
    m_pendingWrites.append(PendingWrite{deviceKey, highCelsius, lowCelsius, std::move(done)});
    runPendingWrites();
}

void MeasurementSession::runPendingWrites()
{
    if (m_driving > 0)
        return;
    while (!m_pendingWrites.isEmpty()) {
        const PendingWrite write = m_pendingWrites.takeFirst();
        int result;
        {
            const QScopedValueRollback<int> driving(m_driving, m_driving + 1);
            result = writeThresholdsNow(write.deviceKey, write.highCelsius, write.lowCelsius);
        }
        qCDebug(logInfo()) << "Thresholds" << write.lowCelsius << write.highCelsius << "for device"
                           << QString::number(write.deviceKey, 16) << "gave" << result;
        if (result == 1)
            updateTable();
        if (write.done)
            write.done(result);
    }
}

int MeasurementSession::writeThresholdsNow(uint64_t deviceKey, int highCelsius, int lowCelsius)
{
    for (const std::unique_ptr<Bus> &bus : m_buses) {
        for (SensorDevice *device : qAsConst(*bus->sensor->devices())) {
            if (device->key != deviceKey || !Sensor::isThermometerFamily(device->family))
                continue;
            if (bus->openResult != 1)
                return kNoAdapter;
            // Only from a device whose last reading passed every check.
            if (!device->isPresent() || device->channels.isEmpty() || device->channels.first().missed
                || std::isnan(device->channels.first().value))
                return kLastReadingFailed;
            return bus->sensor->writeThresholds(*device, highCelsius, lowCelsius);
        }
    }
    return kNoSuchThermometer;
}

QString MeasurementSession::thresholdsResultText(int result)
{
    switch (result) {
    case 1:
        return QCoreApplication::translate("MeasurementSession", "Пороги записаны в датчик и сохранены в его EEPROM.");
    case kNoSuchThermometer:
    case Sensor::kNotThermometer:
        return QCoreApplication::translate("MeasurementSession", "Это не термометр DS18S20/DS18B20 на шине: пороги не записаны.");
    case kLastReadingFailed:
        return QCoreApplication::translate("MeasurementSession",
                                           "Последнее показание датчика не прошло проверку: пороги не записаны.");
    case kNoAdapter:
        return QCoreApplication::translate("MeasurementSession", "Преобразователь не найден: пороги не записаны.");
    case Ds18x20::kThresholdsOutOfRange:
        return QCoreApplication::translate(
            "MeasurementSession", "Пороги должны быть целыми градусами от −55 до +125 °C, нижний не выше верхнего: не записаны.");
    case Ds18x20::kNotSelected:
        return QCoreApplication::translate("MeasurementSession", "Датчик не ответил: пороги не записаны.");
    case Ds18x20::kBadScratchpad:
        return QCoreApplication::translate("MeasurementSession",
                                           "Память датчика прочитана с ошибкой (CRC): пороги не записаны.");
    case Ds18x20::kReadBackDiffers:
        return QCoreApplication::translate(
            "MeasurementSession", "Проверочное чтение не совпало с записанным: пороги не сохранены в EEPROM датчика.");
    default:
        return QCoreApplication::translate("MeasurementSession", "Пороги не записаны (код %1).").arg(result);
    }
}

void MeasurementSession::endCycle()
{
    const qint64 startUs = m_cycleStartUs;
    m_cycleStartUs = -1;
    if (m_sinks.isEmpty() || !tableRuns())
        return;
    CycleSummary summary;
    summary.durationMs = (Clock::tickUs() - startUs) / 1000;
    for (const std::unique_ptr<Bus> &bus : m_buses) {
        summary.busUp.append(bus->openResult == 1);
        const BusBackend *backend = bus->tmex.backend();
        summary.busKinds.append(kindKey(backend ? backend->kind() : BusBackend::Kind::Driver));
        summary.busDescriptions.append(backend ? backend->description() : QString());
        QVector<const SensorDevice *> devices;
        for (SensorDevice *device : qAsConst(*bus->sensor->devices()))
            devices.append(device);
        summary.devices.append(devices);
    }
    const QVector<ReadingSink *> sinks = m_sinks;
    for (ReadingSink *sink : sinks) {
        if (!m_sinks.contains(sink))
            continue;
        try {
            sink->cycleEnded(summary);
        } catch (const std::exception &e) {
            qCDebug(logCritical()) << "An output failed at the end of a cycle:" << e.what();
        }
    }
}

void MeasurementSession::updateTable()
{
    if (!tableRuns())
        return;
    if (m_buses.size() > 1)
        m_allDevices = allDevices();
    m_table->update();
}

void MeasurementSession::requestStop()
{
    for (const std::unique_ptr<Bus> &bus : m_buses)
        bus->sensor->requestStop();
}

void MeasurementSession::setChannelMask(uint8_t mask)
{
    m_channelMask = mask;
    m_table->setChannelMask(mask);
}

void MeasurementSession::deliverNew()
{
    const QVector<SensorDevice *> devices = allDevices();
    for (SensorDevice *device : devices) {
        if (!device || !device->isPresent() || device->beingRead)
            continue;
        for (int index = 0; index < device->channels.size(); ++index) {
            SensorChannel &channel = device->channels[index];
            if (!channel.isLive() || !SensorChannel::selectedBy(m_channelMask, channel.subchannel))
                continue;
            if (channel.reading <= channel.announcedReading)
                continue;
            channel.announcedReading = channel.reading;
            deliver(*device, index);
        }
    }
}

void MeasurementSession::deliver(const SensorDevice &device, int index)
{
    // A copy: a sink may remove itself or add another while it takes the reading.
    const QVector<ReadingSink *> sinks = m_sinks;
    for (ReadingSink *sink : sinks) {
        if (!m_sinks.contains(sink))
            continue;
        try {
            sink->takeReading(device, index);
        } catch (const std::exception &e) {
            if (!m_failedSinks.contains(sink)) {
                m_failedSinks.append(sink);
                qCDebug(logCritical()) << "An output failed and is skipped for this reading:" << e.what();
            }
        }
    }
    emit readingTaken(device, index);
}
