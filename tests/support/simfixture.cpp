#include "support/simfixture.h"

#include "bus/crc.h"
#include "onewire/tmex.h"
#include "base/clock.h"

SimFixture::SimFixture()
    : SimFixture(std::make_unique<SimBackend>())
{
}

SimFixture::SimFixture(std::unique_ptr<SimBackend> backend)
    : m_backend(std::move(backend))
    , tmex(m_backend.get())
    , adapter(tmex)
    , session(0)
{
    if (!Clock::isVirtual())
        Clock::setVirtual();
    m_backend->setTrafficLogging(true);
}

SimFixture::~SimFixture() = default;

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
