#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

class QJsonObject;
class QLockFile;

// The messages waiting for the broker's acknowledgement, in the order they
// were made, kept in a folder so that a crash or a power cut of the program
// loses none of them. The folder holds "queue.log", one JSON object per line
// (a message, an acknowledgement, a dropped or a reported count), "target",
// the broker and prefix its messages are for, and a lock that keeps a second
// program away from it (the folder itself is locked too, which takes no room
// on the disk). Every line reaches the file before append() or acknowledge()
// returns, and the disk at the next sync(); the file is emptied whenever no
// message is left and rewritten when acknowledged lines outweigh the rest.
//
// A disk without room is no reason to stop: the queue then holds its
// messages in memory (unstored()) and catchUp() brings the folder and the
// file up to date once there is room again.
//
// The queue is bounded by `limit` readings: at the bound the oldest reading
// not yet sent is dropped, and the number of dropped readings is kept (also
// across restarts) until reportedDropped() says it was published.
//
// Context: one thread (the GUI thread); nothing here waits for anything but
// the local file system.
class PublishQueue
{
public:
    struct Message
    {
        uint64_t seq = 0;     // increasing in the order of append()
        QByteArray topic;
        QByteArray payload;
        bool retain = false;
        bool reading = false; // a reading may be dropped at the bound; other messages never are
        bool stored = false;  // its line is in the file (a restart would find it)
    };

    // `target` names the broker and prefix; empty: not checked.
    PublishQueue(const QString &folder, int limit, const QString &target = QString());
    ~PublishQueue();

    // Creates the folder if needed, takes the lock and takes over what an
    // earlier run left (a torn last line of a crash is skipped), then writes
    // the file anew. False, with a message in *error, when the folder cannot
    // be used, another running program holds it (heldElsewhere()) or it holds
    // messages for another target. What only wants room on the disk (the
    // folder, the lock file's few bytes, the files) does not fail the open:
    // the queue works in memory with problemText() set, and catchUp() tries
    // again. While even the folder is missing nothing is handed out, so that
    // what a program may have left there later still goes first.
    bool open(QString *error);
    bool heldElsewhere() const { return m_heldElsewhere; }

    // Queues a message and returns its sequence number. A message whose line
    // could not be written is still queued, in memory only (problemText(),
    // unstored()), until a later write succeeds: that one writes the whole
    // file anew.
    uint64_t append(const QByteArray &topic, const QByteArray &payload, bool retain, bool reading);

    // The oldest message not yet handed out by takeNext() in this run, or null.
    // It stays queued until acknowledge(); a new run hands out everything again.
    const Message *takeNext();
    // The broker has the message: it leaves the queue for good.
    void acknowledge(uint64_t seq);
    // The message handed out last goes back: takeNext() hands it out again.
    void giveBack(uint64_t seq);
    // The message can never be sent (the protocol cannot carry it): it
    // leaves the queue for good, counted in rejectedThisRun().
    void reject(uint64_t seq);
    uint64_t rejectedThisRun() const { return m_rejectedThisRun; }
    // Puts what was written since the last call on the disk itself, so a
    // power cut loses none of it. False (problemText()) when that fails: the
    // messages whose lines went to the file since the last good sync then
    // count as unstored, and the next write makes the file anew.
    bool sync();

    // Messages queued (sent or not) and readings among them.
    int size() const { return int(m_messages.size()); }
    // Messages queued in memory only: their lines could not be written
    // (problemText()), so a restart would not find them.
    int unstored() const { return m_unstored; }
    // Tries once more to bring the folder, its lock and the file up to the
    // queue after a full disk or failed writes; true when the file holds
    // every queued message.
    bool catchUp();
    int readings() const { return m_readings; }
    int limit() const { return m_limit; }
    // Readings dropped at the bound and not yet reported; readings dropped by this run.
    uint64_t droppedUnreported() const { return m_droppedUnreported; }
    uint64_t droppedThisRun() const { return m_droppedThisRun; }
    // `count` of the dropped readings have been announced to the broker.
    void reportedDropped(uint64_t count);
    // Whether the last append() had to drop a reading.
    bool atLimit() const { return m_atLimit; }
    // The last problem with the folder or the file: a write's, else a
    // sync's; empty when the last write and the last sync went well.
    QString problemText() const { return m_writeProblem.isEmpty() ? m_syncProblem : m_writeProblem; }

private:
    // The pieces of open(): the folder's lock, the file's messages, the target check.
    bool takeLock(QString *error);
    void releaseLock();
    bool load(QString *error);
    // One line of the file applied to the queue; false for a line not understood.
    bool replay(const QJsonObject &object);
    bool claimTarget(QString *error);
    void writeTarget();
    // The rest of open() once the folder is there.
    bool openFolder(QString *error);
    // open() again for a folder that could not be made: what was queued
    // meanwhile follows what the folder holds.
    bool openLater();

    // `seq`: the message the line stands for (0: none).
    bool writeLine(const QByteArray &line, uint64_t seq = 0);
    bool rewrite();
    void noteDead(int lines);
    void dropOldestReading();

    bool forget(uint64_t seq, const char *key);

    QString m_folder;
    int m_limit;
    QString m_target;
    bool m_heldElsewhere = false;
    bool m_unsynced = false;
    uint64_t m_rejectedThisRun = 0;
    std::unique_ptr<QLockFile> m_lock;
    int m_folderLock = -1; // the folder, open and flock()ed
    // open() left these for catchUp(): the folder could not be made (nothing
    // is loaded or handed out then), the lock file or the target not written.
    bool m_folderPending = false;
    bool m_lockFilePending = false;
    bool m_targetPending = false;
    QFile m_file;
    std::map<uint64_t, Message> m_messages;
    uint64_t m_nextSeq = 1;
    uint64_t m_sentUpTo = 0;
    int m_readings = 0;
    int m_deadLines = 0; // lines of the file that no longer stand for a queued message
    uint64_t m_droppedUnreported = 0;
    uint64_t m_droppedThisRun = 0;
    bool m_atLimit = false;
    int m_unstored = 0;
    bool m_fileBehind = false; // a line was not written: the file no longer matches the queue
    // Messages whose lines were written since the last good sync.
    std::vector<uint64_t> m_sinceSync;
    QString m_writeProblem;
    QString m_syncProblem;
};
