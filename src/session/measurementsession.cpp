#include "session/measurementsession.h"

#include "base/clock.h"
#include "base/logging.h"
#include "model/readingsink.h"
#include "model/sensordevice.h"
#include "sensors/sensor.h"
#include "table/recorder.h"
#include "table/tableman.h"

#include <QDebug>
#include <exception>

MeasurementSession::MeasurementSession(QObject *parent)
    : QObject(parent)
    , m_adapter(std::make_unique<Adapter>())
    , m_sensor(std::make_unique<Sensor>(*m_adapter))
    , m_acquisition(*m_adapter, m_sensor.get())
    , m_recorder(std::make_unique<Recorder>(Clock::now()))
    , m_table(std::make_unique<TableMan>(m_recorder.get()))
{
    connect(m_table.get(), &TableMan::readingTaken, this, &MeasurementSession::deliver);
    m_table->init(m_sensor->devices());
}

// The table reads the sensor's device list: it goes first.
MeasurementSession::~MeasurementSession()
{
    m_table.reset();
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

int MeasurementSession::open()
{
    m_openResult = m_acquisition.open();
    return m_openResult;
}

Acquisition::Result MeasurementSession::search()
{
    return m_acquisition.update();
}

Acquisition::Result MeasurementSession::refresh()
{
    const Acquisition::Result result = m_acquisition.refresh();
    m_openResult = result.openResult;
    return result;
}

void MeasurementSession::measure(const std::function<bool()> &stop)
{
    // Without the adapter no device is read, whatever its kind: the files
    // get no lines and the table shows the last readings as they age.
    if (m_openResult == 1)
        m_sensor->measureAll(stop);
    if (tableRuns())
        m_table->update();
}

void MeasurementSession::requestStop()
{
    m_sensor->requestStop();
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
}
