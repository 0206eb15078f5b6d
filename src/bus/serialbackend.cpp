#include "bus/serialbackend.h"

SerialBackend::SerialBackend(const QString &path)
    : WireBackend(&m_master)
    , m_master(path)
{
}

SerialBackend::~SerialBackend() = default;

QString SerialBackend::description() const
{
    return QStringLiteral("DS2480B serial adapter on %1").arg(m_master.path());
}

QString SerialBackend::problem() const
{
    return m_master.problem();
}
