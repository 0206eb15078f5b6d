#include "support/serialfixture.h"

#include "onewire/tmex.h"

#include <QtTest>

SerialFixture::SerialFixture(std::unique_ptr<SimBackend> bus)
    : SimFixture(std::move(bus))
    , m_chip(&SimFixture::backend().bus())
    , m_port(&m_chip)
{
    QString error;
    const QString link = m_dir.filePath(QStringLiteral("ttyDS2480"));
    if (!m_port.open(link, &error))
        qFatal("pseudo-terminal: %s", qPrintable(error));
    m_backend = std::make_unique<SerialBackend>(link);
    // Short enough that a missing answer costs little real time in a test.
    m_backend->master().setReadTimeoutMs(100);
    tmex.setBackend(m_backend.get());
}

SerialFixture::~SerialFixture()
{
    // Whatever a test did, the master kept to the datasheet.
    QTest::qVerify(m_chip.violations().isEmpty(), "chip().violations().isEmpty()",
                   qPrintable(m_chip.violations().join(QStringLiteral("; "))), __FILE__, __LINE__);
}

QByteArray SerialFixture::lines()
{
    const QByteArray text = m_chip.hostBytes().toHex().toUpper() + " / " + m_chip.answerBytes().toHex().toUpper();
    m_chip.clearLog();
    return text;
}
