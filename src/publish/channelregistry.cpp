#include "publish/channelregistry.h"

#include "base/logging.h"
#include "publish/channelmessages.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

ChannelRegistry::ChannelRegistry(const QString &path)
    : m_path(path)
{
}

void ChannelRegistry::load()
{
    m_entries.clear();
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QJsonObject channels = QJsonDocument::fromJson(file.readAll()).object();
    for (auto it = channels.constBegin(); it != channels.constEnd(); ++it) {
        const QJsonObject entry = it.value().toObject();
        Entry e;
        e.configTopic = entry.value(QLatin1String("config")).toString().toUtf8();
        e.stateTopic = entry.value(QLatin1String("state")).toString().toUtf8();
        e.lastSeen = QDateTime::fromString(entry.value(QLatin1String("lastSeen")).toString(), Qt::ISODateWithMs);
        e.withdrawn = entry.value(QLatin1String("withdrawn")).toBool();
        if (!e.configTopic.isEmpty() && e.lastSeen.isValid())
            m_entries.insert(it.key(), e);
    }
}

void ChannelRegistry::seen(const QString &id, const QByteArray &configTopic, const QByteArray &stateTopic,
                           const QDateTime &now)
{
    auto it = m_entries.find(id);
    if (it == m_entries.end()) {
        m_entries.insert(id, Entry{configTopic, stateTopic, now, false});
        m_listChanged = true;
        return;
    }
    if (it->configTopic != configTopic || it->stateTopic != stateTopic || it->withdrawn) {
        it->configTopic = configTopic;
        it->stateTopic = stateTopic;
        it->withdrawn = false;
        m_listChanged = true;
    }
    it->lastSeen = now;
    m_timesChanged = true;
}

QByteArrayList ChannelRegistry::topics(const Entry &entry)
{
    QByteArrayList list;
    if (!entry.stateTopic.isEmpty())
        list << entry.stateTopic;
    return list << entry.configTopic;
}

QMap<QString, QByteArrayList> ChannelRegistry::forget(const QDateTime &cutoff)
{
    QMap<QString, QByteArrayList> topics;
    for (auto it = m_entries.begin(); it != m_entries.end(); ++it) {
        if (!it->withdrawn && it->lastSeen < cutoff) {
            it->withdrawn = true;
            topics.insert(it.key(), ChannelRegistry::topics(*it));
            m_listChanged = true;
        }
    }
    return topics;
}

QMap<QString, QByteArrayList> ChannelRegistry::withdrawals() const
{
    QMap<QString, QByteArrayList> topics;
    for (auto it = m_entries.constBegin(); it != m_entries.constEnd(); ++it) {
        if (it->withdrawn)
            topics.insert(it.key(), ChannelRegistry::topics(*it));
    }
    return topics;
}

void ChannelRegistry::confirmWithdrawal(const QString &id)
{
    const auto it = m_entries.find(id);
    if (it != m_entries.end() && it->withdrawn) {
        m_entries.erase(it);
        m_listChanged = true;
    }
}

void ChannelRegistry::save(const QDateTime &now, int everySecs, bool force)
{
    const bool due = m_listChanged
                     || (m_timesChanged && (force || !m_lastSave.isValid() || m_lastSave.secsTo(now) >= everySecs));
    if (!due)
        return;
    QJsonObject channels;
    for (auto it = m_entries.constBegin(); it != m_entries.constEnd(); ++it) {
        QJsonObject entry{{QStringLiteral("config"), QString::fromUtf8(it->configTopic)},
                          {QStringLiteral("lastSeen"), ChannelMessages::isoTime(it->lastSeen)}};
        if (!it->stateTopic.isEmpty())
            entry.insert(QStringLiteral("state"), QString::fromUtf8(it->stateTopic));
        if (it->withdrawn)
            entry.insert(QStringLiteral("withdrawn"), true);
        channels.insert(it.key(), entry);
    }
    QSaveFile file(m_path);
    const QByteArray text = QJsonDocument(channels).toJson();
    // commit() misses a failure to write out what it still buffers (a full
    // disk) and would put a short file in place of the list.
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.flush() || !file.commit()) {
        qCDebug(logCritical()) << "MQTT: cannot write" << m_path << file.errorString();
        return;
    }
    m_listChanged = false;
    m_timesChanged = false;
    m_lastSave = now;
}
