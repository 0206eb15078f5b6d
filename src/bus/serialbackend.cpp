#include "bus/serialbackend.h"

SerialBackend::SerialBackend(const QString &path)
    : WireBackend(&m_master)
    , m_master(path)
{
}

SerialBackend::~SerialBackend() = default;

short SerialBackend::blockIO(int32_t session, unsigned char *buffer, short length)
{
    if (!sessionOk(session))
        return kInvalidSession;
    if (length < 0 || (!buffer && length > 0))
        return -1;
    return short(m_master.touchBlock(buffer, length));
}

QString SerialBackend::description() const
{
    return QStringLiteral("DS2480B serial adapter on %1").arg(m_master.path());
}

QString SerialBackend::problem() const
{
    return m_master.problem();
}
