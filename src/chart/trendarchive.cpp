#include "chart/trendarchive.h"

#include "base/clock.h"
#include "model/channelid.h"
#include "model/sensordevice.h"

#include <cmath>

qint64 TrendArchive::memoryBytes() const
{
    qint64 bytes = 0;
    for (const auto &channel : m_channels)
        bytes += channel->series->memoryBytes();
    return bytes;
}

void TrendArchive::takeReading(const SensorDevice &device, int index)
{
    if (index < 0 || index >= device.channels.size())
        return;
    const SensorChannel &reading = device.channels.at(index);
    TrendChannel identity = TrendChannel::describe(device, index);
    const QString key = ChannelId::of(device, index).text();
    std::shared_ptr<TrendChannel> &channel = m_byKey[key];
    if (!channel) {
        channel = std::make_shared<TrendChannel>(std::move(identity));
        m_channels.append(channel);
    } else {
        channel->type = identity.type;
        channel->unit = identity.unit;
    }
    // A failed reading may carry no time, or the time of the last good one:
    // its gap belongs to now.
    const bool failed = std::isnan(reading.value);
    const QDateTime time = (failed || !reading.time.isValid()) ? Clock::now() : reading.time;
    channel->series->append(time.toMSecsSinceEpoch(), reading.value);
    emit readingAdded(key);
}

namespace {

class ArchivePlan : public OutputPlan
{
public:
    std::unique_ptr<ReadingSink> start(const OutputHost &, QString *) override
    {
        return std::make_unique<TrendArchive>();
    }
};

std::unique_ptr<OutputPlan> archivePlan(QSettings &, QStringList *args, QString *)
{
    if (args)
        return nullptr;
    return std::make_unique<ArchivePlan>();
}

} // namespace

OutputEntry TrendArchive::outputEntry()
{
    OutputEntry entry;
    entry.name = QStringLiteral("chart");
    entry.plan = archivePlan;
    return entry;
}
