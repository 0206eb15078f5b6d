#pragma once

#include "chart/trendchannel.h"
#include "model/outputentry.h"
#include "model/readingsink.h"

#include <QHash>
#include <QObject>
#include <QVector>
#include <memory>

struct SensorDevice;

// Every reading the sensor table has shown since the window opened, per
// channel, for the charts: an output of the measurement session, fed whether
// or not recording is on and whether or not a chart is open. Channels are
// never dropped, so a chart can show a channel that has left the table.
// Memory per channel is bounded (TrendSeries).
class TrendArchive : public QObject, public ReadingSink
{
    Q_OBJECT
public:
    TrendArchive() = default;

    // Its registration among the outputs ("chart"): the window's charts
    // read it; orvexctl has none.
    static OutputEntry outputEntry();

    // Every channel in the order of its first reading.
    QVector<std::shared_ptr<TrendChannel>> channels() const { return m_channels; }
    // The channel with this key (ChannelId::text), or null.
    std::shared_ptr<TrendChannel> channel(const QString &key) const { return m_byKey.value(key); }
    // Bytes held for the readings of every channel.
    qint64 memoryBytes() const;

    // Keeps the reading now in channel `index` of `device`. A channel's type
    // and unit follow its latest reading. Does not process events.
    void takeReading(const SensorDevice &device, int index) override;

signals:
    // A reading was added to the channel with this key.
    void readingAdded(const QString &key);

private:
    QVector<std::shared_ptr<TrendChannel>> m_channels;
    QHash<QString, std::shared_ptr<TrendChannel>> m_byKey;
};
