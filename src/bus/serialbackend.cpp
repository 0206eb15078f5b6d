#include "bus/serialbackend.h"

#include "bus/serialports.h"

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

MasterEntry SerialBackend::masterEntry()
{
    MasterEntry entry;
    entry.prefix = QStringLiteral("serial");
    entry.forms = {{QStringLiteral("serial:PORT"),
                    QStringLiteral("a DS2480B serial adapter on the port PORT (/dev/ttyUSB0)")}};
    entry.open = [](const QString &port, QString *) -> std::unique_ptr<BusBackend> {
        return std::make_unique<SerialBackend>(port);
    };
    // Per port: the port, "DS2480B" or "no DS2480B: why", the USB-serial
    // converter's latency timer where it has one, and what the system says
    // about the port.
    entry.survey = [](const QStringList &ports) {
        const int kProbeTimeoutMs = 250;
        QVector<MasterEntry::Found> found;
        for (const SerialPorts::Report &r : SerialPorts::survey(ports, kProbeTimeoutMs)) {
            QString line = r.path + QStringLiteral("  ")
                + (r.ds2480b ? QStringLiteral("DS2480B") : QStringLiteral("no DS2480B: ") + r.problem);
            if (r.latencyMs >= 0)
                line += QStringLiteral("  latency %1 ms").arg(r.latencyMs);
            if (!r.description.isEmpty())
                line += QStringLiteral("  (%1)").arg(r.description);
            found.append({line, r.ds2480b});
        }
        return found;
    };
    return entry;
}
