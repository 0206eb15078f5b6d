#include "support/serialfixture.h"

#include "onewire/adapter.h"
#include "onewire/tmex.h"
#include "platform/clock.h"

SerialFixture::SerialFixture(std::unique_ptr<SimBackend> bus)
    : m_bus(std::move(bus))
    , m_chip(&m_bus->bus())
    , m_port(&m_chip)
{
    if (!Clock::isVirtual())
        Clock::setVirtual();
    QString error;
    const QString link = m_dir.filePath(QStringLiteral("ttyDS2480"));
    if (!m_port.open(link, &error))
        qFatal("pseudo-terminal: %s", qPrintable(error));
    m_backend = std::make_unique<SerialBackend>(link);
    // Short enough that a missing answer costs little real time in a test.
    m_backend->master().setReadTimeoutMs(100);
    Tmex::setBackend(m_backend.get());
    Adapter::instance().forgetSession();
}

SerialFixture::~SerialFixture()
{
    Tmex::setBackend(nullptr);
    Adapter::instance().forgetSession();
}

int SerialFixture::open()
{
    const int result = Adapter::instance().open();
    session = Adapter::instance().sessionHandle();
    return result;
}
