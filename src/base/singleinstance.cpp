#include "base/singleinstance.h"

#include <QSharedMemory>
#include <memory>

namespace {

// Kept until process exit, when its destructor detaches; the last copy to
// detach removes the segment.
std::unique_ptr<QSharedMemory> &segment()
{
    static std::unique_ptr<QSharedMemory> shm;
    return shm;
}

// This process created the segment and so is the running copy.
bool &owner()
{
    static bool created = false;
    return created;
}

// On Unix a segment outlives a copy that was killed, and attaching to it would
// refuse every later start. Attaching and detaching a probe removes such an
// orphan, because Qt removes a segment when its last user detaches; a segment
// that a live copy still has attached survives the probe.
void removeOrphan(const QString &key)
{
    QSharedMemory probe(key);
    if (probe.attach(QSharedMemory::ReadOnly))
        probe.detach();
}

} // namespace

QString SingleInstance::key()
{
    const QString custom = QString::fromLocal8Bit(qgetenv("ORVEX_INSTANCE_KEY"));
    return custom.isEmpty() ? QStringLiteral("Orvex") : custom;
}

bool SingleInstance::claim()
{
    if (owner())
        return true;
    removeOrphan(key());
    auto shm = std::make_unique<QSharedMemory>(key());
    if (shm->attach(QSharedMemory::ReadWrite)) {
        // Stays attached while this process lives; it is leaving anyway.
        segment() = std::move(shm);
        return false;
    }
    shm->create(1, QSharedMemory::ReadWrite);
    segment() = std::move(shm);
    owner() = true;
    return true;
}
