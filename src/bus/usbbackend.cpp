#include "bus/usbbackend.h"

UsbBackend::UsbBackend(const QString &selector)
    : WireBackend(&m_master)
    , m_master(selector)
{
}

UsbBackend::~UsbBackend() = default;

QString UsbBackend::description() const
{
    return m_master.name();
}

QString UsbBackend::problem() const
{
    return m_master.problem();
}
