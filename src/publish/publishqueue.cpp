#include "publish/publishqueue.h"

#include "base/logging.h"

#include <QCoreApplication>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QSaveFile>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <iterator>
#include <sys/file.h>
#include <unistd.h>

namespace {

const char kLogName[] = "queue.log";
const char kLockName[] = "queue.lock";
const char kTargetName[] = "target";
// Acknowledged lines are cleared out once there are this many and more of
// them than queued messages, so a rewrite costs little per acknowledgement.
const int kRewriteAfterDeadLines = 1000;

QByteArray jsonLine(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

QByteArray messageLine(const PublishQueue::Message &message)
{
    return jsonLine({{QStringLiteral("seq"), double(message.seq)},
                     {QStringLiteral("topic"), QString::fromUtf8(message.topic)},
                     {QStringLiteral("payload"), QString::fromUtf8(message.payload)},
                     {QStringLiteral("retain"), message.retain},
                     {QStringLiteral("reading"), message.reading}});
}

QByteArray numberLine(const char *key, uint64_t value)
{
    return jsonLine({{QLatin1String(key), double(value)}});
}

// Why a write failed: the system's own words (errno, cleared before the
// attempt) come first, since Qt's text for a failed flush is often "Unknown error".
QString systemReason(const QFileDevice &file)
{
    return errno != 0 ? QString::fromLocal8Bit(strerror(errno)) : file.errorString();
}

// Whether a failure with `error` (errno) only wants room on the disk, which
// may come back while the program runs.
bool wantsRoom(int error)
{
    return error == ENOSPC || error == EDQUOT || error == EFBIG;
}

uint64_t number(const QJsonObject &object, const char *key)
{
    const double value = object.value(QLatin1String(key)).toDouble(-1);
    return value >= 0 ? uint64_t(value) : 0;
}

} // namespace

PublishQueue::PublishQueue(const QString &folder, int limit, const QString &target)
    : m_folder(folder)
    , m_limit(qMax(1, limit))
    , m_target(target)
{
}

PublishQueue::~PublishQueue()
{
    m_file.close();
    releaseLock();
}

bool PublishQueue::open(QString *error)
{
    m_file.setFileName(m_folder + QLatin1Char('/') + QLatin1String(kLogName));
    errno = 0;
    if (!QDir().mkpath(m_folder)) {
        if (!wantsRoom(errno)) {
            *error = QCoreApplication::translate("PublishQueue", "не удалось создать папку очереди %1").arg(m_folder);
            return false;
        }
        // A folder that is not there holds nothing yet: the messages wait
        // in memory until it can be made.
        m_writeProblem = QString::fromLocal8Bit(strerror(errno));
        qCDebug(logCritical()) << "MQTT queue: cannot make" << m_folder << m_writeProblem;
        m_folderPending = true;
        m_fileBehind = true;
        return true;
    }
    return openFolder(error);
}

bool PublishQueue::openFolder(QString *error)
{
    if (!takeLock(error))
        return false;
    if (!load(error) || !claimTarget(error)) {
        releaseLock();
        return false;
    }
    // Anew, so that a torn line cannot swallow the next one; on a full disk
    // the messages stay in memory and catchUp() writes them later.
    rewrite();
    return true;
}

bool PublishQueue::openLater()
{
    errno = 0;
    if (!QDir().mkpath(m_folder)) {
        m_writeProblem = QString::fromLocal8Bit(strerror(errno != 0 ? errno : ENOSPC));
        return false;
    }
    // Nothing was handed out meanwhile (takeNext()), so what came meanwhile
    // may take numbers after those the folder holds.
    std::map<uint64_t, Message> meanwhile;
    meanwhile.swap(m_messages);
    const uint64_t dropped = m_droppedUnreported;
    const uint64_t nextSeq = m_nextSeq;
    m_droppedUnreported = 0;
    m_readings = 0;
    m_nextSeq = 1;
    QString error;
    if (!takeLock(&error) || !load(&error) || !claimTarget(&error)) {
        releaseLock();
        m_messages.swap(meanwhile);
        m_droppedUnreported = dropped;
        m_nextSeq = nextSeq;
        m_readings = 0;
        for (const auto &entry : m_messages)
            m_readings += entry.second.reading ? 1 : 0;
        m_writeProblem = error;
        return false;
    }
    m_folderPending = false;
    for (auto &entry : meanwhile) {
        Message message = entry.second;
        message.seq = m_nextSeq++;
        message.stored = false;
        m_readings += message.reading ? 1 : 0;
        m_messages[message.seq] = message;
    }
    m_droppedUnreported += dropped;
    m_unstored = int(meanwhile.size());
    m_fileBehind = true;
    return true;
}

// The folder's own lock first: flock() needs no room on the disk. Then the
// lock file, which says who holds the folder; without room for its few
// bytes the folder's lock keeps others away until catchUp() writes it.
bool PublishQueue::takeLock(QString *error)
{
    m_heldElsewhere = false;
    const QByteArray folder = QFile::encodeName(m_folder);
    m_folderLock = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool folderLocked = m_folderLock >= 0 && ::flock(m_folderLock, LOCK_EX | LOCK_NB) == 0;
    const bool folderHeld = !folderLocked && m_folderLock >= 0 && errno == EWOULDBLOCK;
    m_lock = std::make_unique<QLockFile>(m_folder + QLatin1Char('/') + QLatin1String(kLockName));
    // Never stale by age: only a lock whose program is gone is taken over.
    m_lock->setStaleLockTime(0);
    if (folderLocked) {
        errno = 0;
        if (m_lock->tryLock(0))
            return true;
        if (m_lock->error() == QLockFile::UnknownError) {
            m_writeProblem = QString::fromLocal8Bit(strerror(errno != 0 ? errno : ENOSPC));
            qCDebug(logCritical()) << "MQTT queue: cannot write the lock file in" << m_folder << m_writeProblem;
            m_lockFilePending = true;
            return true;
        }
    }
    qint64 pid = 0;
    QString host, application;
    m_lock->getLockInfo(&pid, &host, &application);
    m_heldElsewhere = folderHeld || m_lock->error() == QLockFile::LockFailedError;
    *error = m_heldElsewhere
                 ? QCoreApplication::translate("PublishQueue", "очередь %1 занята другой программой (%2, pid %3)").arg(m_folder, application).arg(pid)
                 : QCoreApplication::translate("PublishQueue", "нет доступа к очереди %1").arg(m_folder);
    releaseLock();
    return false;
}

void PublishQueue::releaseLock()
{
    m_lock.reset();
    m_lockFilePending = false;
    if (m_folderLock >= 0)
        ::close(m_folderLock);
    m_folderLock = -1;
}

// Replays the file's lines: messages, and what became of them since.
bool PublishQueue::load(QString *error)
{
    if (m_file.exists()) {
        if (!m_file.open(QIODevice::ReadOnly)) {
            *error = QCoreApplication::translate("PublishQueue", "не удалось прочитать очередь %1: %2").arg(m_file.fileName(), m_file.errorString());
            return false;
        }
        int skipped = 0;
        while (!m_file.atEnd()) {
            if (!replay(QJsonDocument::fromJson(m_file.readLine()).object()))
                ++skipped; // the torn last line of a crash, or not ours
        }
        m_file.close();
        if (skipped > 0)
            qCDebug(logWarning()) << "MQTT queue: skipped" << skipped << "unreadable line(s) in" << m_file.fileName();
    }
    for (const auto &entry : m_messages)
        m_readings += entry.second.reading ? 1 : 0;
    if (!m_messages.empty() || m_droppedUnreported > 0)
        qCDebug(logInfo()) << "MQTT queue: taking over" << m_messages.size() << "message(s) from" << m_file.fileName();
    return true;
}

bool PublishQueue::replay(const QJsonObject &object)
{
    if (object.contains(QLatin1String("seq"))) {
        Message message;
        message.seq = number(object, "seq");
        message.topic = object.value(QLatin1String("topic")).toString().toUtf8();
        message.payload = object.value(QLatin1String("payload")).toString().toUtf8();
        message.retain = object.value(QLatin1String("retain")).toBool();
        message.reading = object.value(QLatin1String("reading")).toBool();
        message.stored = true;
        if (message.seq == 0 || message.topic.isEmpty())
            return false;
        m_nextSeq = qMax(m_nextSeq, message.seq + 1);
        m_messages[message.seq] = message;
    } else if (object.contains(QLatin1String("ack"))) {
        m_messages.erase(number(object, "ack"));
    } else if (object.contains(QLatin1String("reject"))) {
        m_messages.erase(number(object, "reject"));
    } else if (object.contains(QLatin1String("drop"))) {
        m_messages.erase(number(object, "drop"));
        ++m_droppedUnreported;
    } else if (object.contains(QLatin1String("dropped"))) {
        m_droppedUnreported += number(object, "dropped");
    } else if (object.contains(QLatin1String("reported"))) {
        m_droppedUnreported -= qMin(m_droppedUnreported, number(object, "reported"));
    } else {
        return false;
    }
    return true;
}

// Its messages name their broker's prefix in every topic: they are for that
// broker and no other. Notes the target for the next run.
bool PublishQueue::claimTarget(QString *error)
{
    if (m_target.isEmpty())
        return true;
    QFile target(m_folder + QLatin1Char('/') + QLatin1String(kTargetName));
    const QString before = target.open(QIODevice::ReadOnly) ? QString::fromUtf8(target.readAll()).trimmed() : QString();
    target.close();
    if (!before.isEmpty() && before != m_target && !m_messages.empty()) {
        *error = QCoreApplication::translate("PublishQueue", "очередь %1 хранит %2 сообщ. для %3; укажите для %4 другую папку очереди")
                     .arg(m_folder)
                     .arg(m_messages.size())
                     .arg(before, m_target);
        return false;
    }
    if (before != m_target)
        writeTarget();
    return true;
}

// The folder is ours by now: a failure wants only room, and catchUp() tries again.
void PublishQueue::writeTarget()
{
    QSaveFile file(m_folder + QLatin1Char('/') + QLatin1String(kTargetName));
    const QByteArray text = m_target.toUtf8() + '\n';
    errno = 0;
    m_targetPending = !file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.flush() || !file.commit();
    if (m_targetPending)
        m_writeProblem = systemReason(file);
}

uint64_t PublishQueue::append(const QByteArray &topic, const QByteArray &payload, bool retain, bool reading)
{
    m_atLimit = false;
    if (reading && m_readings >= m_limit)
        dropOldestReading();
    Message message;
    message.seq = m_nextSeq++;
    message.topic = topic;
    message.payload = payload;
    message.retain = retain;
    message.reading = reading;
    Message &queued = m_messages[message.seq] = message;
    m_readings += reading ? 1 : 0;
    if (writeLine(messageLine(message), message.seq))
        queued.stored = true;
    else
        ++m_unstored;
    return message.seq;
}

// The oldest reading not handed out yet: one already handed to the link may
// be on its way and cannot be called back.
void PublishQueue::dropOldestReading()
{
    for (auto it = m_messages.upper_bound(m_sentUpTo); it != m_messages.end(); ++it) {
        if (!it->second.reading)
            continue;
        const uint64_t seq = it->first;
        m_unstored -= it->second.stored ? 0 : 1;
        m_messages.erase(it);
        --m_readings;
        ++m_droppedUnreported;
        ++m_droppedThisRun;
        m_atLimit = true;
        writeLine(numberLine("drop", seq));
        noteDead(2);
        return;
    }
}

const PublishQueue::Message *PublishQueue::takeNext()
{
    if (m_folderPending)
        return nullptr;
    const auto it = m_messages.upper_bound(m_sentUpTo);
    if (it == m_messages.end())
        return nullptr;
    m_sentUpTo = it->first;
    return &it->second;
}

void PublishQueue::acknowledge(uint64_t seq)
{
    forget(seq, "ack");
}

void PublishQueue::reject(uint64_t seq)
{
    if (forget(seq, "reject"))
        ++m_rejectedThisRun;
}

bool PublishQueue::forget(uint64_t seq, const char *key)
{
    const auto it = m_messages.find(seq);
    if (it == m_messages.end())
        return false;
    m_readings -= it->second.reading ? 1 : 0;
    m_unstored -= it->second.stored ? 0 : 1;
    m_messages.erase(it);
    writeLine(numberLine(key, seq));
    noteDead(2);
    return true;
}

void PublishQueue::giveBack(uint64_t seq)
{
    if (seq != m_sentUpTo || seq == 0)
        return;
    const auto it = m_messages.lower_bound(seq);
    m_sentUpTo = it == m_messages.begin() ? 0 : std::prev(it)->first;
}

bool PublishQueue::sync()
{
    if (!m_unsynced || !m_file.isOpen())
        return m_syncProblem.isEmpty();
    m_unsynced = false;
    if (::fdatasync(m_file.handle()) != 0) {
        m_syncProblem = QString::fromLocal8Bit(strerror(errno));
        qCDebug(logCritical()) << "MQTT queue: cannot sync" << m_file.fileName() << m_syncProblem;
        // The kernel may have dropped what it could not write: a later sync
        // would not say so again. Those messages are not kept until the
        // file has been written anew and synced.
        for (uint64_t seq : m_sinceSync) {
            const auto it = m_messages.find(seq);
            if (it != m_messages.end() && it->second.stored) {
                it->second.stored = false;
                ++m_unstored;
            }
        }
        m_sinceSync.clear();
        m_fileBehind = true;
        return false;
    }
    m_sinceSync.clear();
    m_syncProblem.clear();
    return true;
}

void PublishQueue::reportedDropped(uint64_t count)
{
    count = qMin(count, m_droppedUnreported);
    if (count == 0)
        return;
    m_droppedUnreported -= count;
    writeLine(numberLine("reported", count));
    noteDead(1);
}

// `lines` more lines of the file stand for nothing queued any more.
void PublishQueue::noteDead(int lines)
{
    m_deadLines += lines;
    if (m_messages.empty() && m_droppedUnreported == 0) {
        if (m_file.isOpen() && m_file.resize(0))
            m_deadLines = 0;
    } else if (m_deadLines > kRewriteAfterDeadLines && m_deadLines > int(m_messages.size())) {
        rewrite();
    }
}

bool PublishQueue::catchUp()
{
    if (m_folderPending && !openLater())
        return false;
    if (m_lockFilePending && m_lock->tryLock(0))
        m_lockFilePending = false;
    if (m_targetPending)
        writeTarget();
    return m_fileBehind ? rewrite() : m_unstored == 0;
}

bool PublishQueue::writeLine(const QByteArray &line, uint64_t seq)
{
    // Nowhere to write before the folder is there: catchUp() makes it.
    if (m_folderPending)
        return false;
    // Appending after a lost line would leave a file that a restart reads as
    // another queue: a message missing, an acknowledged one back.
    if (m_fileBehind)
        return rewrite();
    errno = 0;
    if (!m_file.isOpen() && !m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        m_writeProblem = systemReason(m_file);
        m_fileBehind = true;
        return false;
    }
    // Unbuffered: a line either reaches the file now or fails now, with the
    // system's reason.
    if (m_file.write(line) != line.size()) {
        m_writeProblem = systemReason(m_file);
        qCDebug(logCritical()) << "MQTT queue: cannot write" << m_file.fileName() << m_writeProblem;
        m_file.close();
        m_fileBehind = true;
        return false;
    }
    m_writeProblem.clear();
    m_unsynced = true;
    if (seq != 0)
        m_sinceSync.push_back(seq);
    return true;
}

// Writes every queued message and the unreported count into a fresh file
// that replaces the old one in one step.
bool PublishQueue::rewrite()
{
    if (m_folderPending)
        return false;
    m_file.close();
    QSaveFile file(m_file.fileName());
    errno = 0;
    if (file.open(QIODevice::WriteOnly)) {
        bool written = true;
        for (const auto &entry : m_messages)
            written = written && file.write(messageLine(entry.second)) >= 0;
        if (m_droppedUnreported > 0)
            written = written && file.write(numberLine("dropped", m_droppedUnreported)) >= 0;
        // commit() misses a failure to write out what it still buffers (a
        // full disk) and would put a short file in place of the queue.
        if (written && file.flush() && file.commit()) {
            m_deadLines = 0;
            m_fileBehind = false;
            m_writeProblem.clear();
            // The whole file is new: none of it is on the disk for sure
            // before the next sync.
            m_sinceSync.clear();
            for (auto &entry : m_messages) {
                entry.second.stored = true;
                m_sinceSync.push_back(entry.first);
            }
            m_unstored = 0;
            m_unsynced = true;
            return m_file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);
        }
    }
    m_fileBehind = true;
    m_writeProblem = systemReason(file);
    qCDebug(logCritical()) << "MQTT queue: cannot rewrite" << m_file.fileName() << m_writeProblem;
    return false;
}
