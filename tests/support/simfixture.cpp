#include "support/simfixture.h"

#include "bus/crc.h"
#include "onewire/tmex.h"
#include "base/clock.h"

SimFixture::SimFixture()
    : SimFixture(std::make_unique<SimBackend>())
{
}

SimFixture::SimFixture(std::unique_ptr<SimBackend> backend)
    : session(0)
    , m_backend(std::move(backend))
{
    if (!Clock::isVirtual())
        Clock::setVirtual();
    m_backend->setTrafficLogging(true);
    Tmex::setBackend(m_backend.get());
}

SimFixture::~SimFixture()
{
    Tmex::setBackend(nullptr);
}

int SimFixture::open()
{
    const int result = adapter.open();
    session = adapter.sessionHandle();
    return result;
}

QString SimFixture::busFile(const QString &name)
{
    return QStringLiteral(TEST_DATA_DIR "/buses/") + name;
}

QByteArray SimFixture::rom(uint8_t family, quint64 serial)
{
    QByteArray bytes(1, char(family));
    for (int i = 0; i < 6; ++i)
        bytes.append(char((serial >> (8 * i)) & 0xFF));
    bytes.append(char(Crc::dallas8(bytes)));
    return bytes;
}

RomId SimFixture::romId(const QByteArray &rom)
{
    RomId id;
    for (char c : rom)
        id << short(uchar(c));
    return id;
}
