#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QDateTime>
#include <QMap>
#include <QString>

// The channels this machine has announced to Home Assistant, each with its
// discovery topic and when it was last seen, kept in a JSON file beside the
// queue. A channel the table stops showing often comes back: a loose contact,
// a search pass that missed the chip, a read that failed twice, a sub-channel
// the operator hid for a while, a program that was not running. So a channel
// counts as gone for good only when no reading of it has been seen for a
// whole period, also across restarts; then its discovery entry is withdrawn.
// A withdrawal is kept (also across restarts) until the broker has it, and a
// channel seen again before that is simply known again.
//
// Times come from the caller (the program's clock).
class ChannelRegistry
{
public:
    explicit ChannelRegistry(const QString &path);

    // Reads the file; a missing or unreadable one gives an empty registry.
    void load();
    // A reading of channel `id` was seen at `now`.
    void seen(const QString &id, const QByteArray &configTopic, const QByteArray &stateTopic, const QDateTime &now);
    // Marks for withdrawal every channel last seen before `cutoff`; returns
    // the topics to clear by channel identifier, the discovery topic last.
    QMap<QString, QByteArrayList> forget(const QDateTime &cutoff);
    // Every withdrawal the broker has not confirmed yet, by channel identifier.
    QMap<QString, QByteArrayList> withdrawals() const;
    // The broker has the withdrawal of `id`: the channel is no longer known
    // (unless it was seen again meanwhile).
    void confirmWithdrawal(const QString &id);
    // Writes the file when channels came or went, or when times changed and
    // the last write is `everySecs` old; `force` writes any change now.
    void save(const QDateTime &now, int everySecs, bool force = false);

private:
    struct Entry
    {
        QByteArray configTopic;
        QByteArray stateTopic; // empty in a file of an earlier version
        QDateTime lastSeen;
        bool withdrawn = false;
    };

    static QByteArrayList topics(const Entry &entry);

    QString m_path;
    QMap<QString, Entry> m_entries;
    bool m_listChanged = false;
    bool m_timesChanged = false;
    QDateTime m_lastSave;
};
