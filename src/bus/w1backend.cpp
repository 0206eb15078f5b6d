#include "bus/w1backend.h"

#include "bus/w1netlink.h"
#include "bus/w1sysfs.h"

#include <QFile>

W1Backend::W1Backend(const QString &selector)
    : WireBackend(&m_master)
    , m_master(selector)
{
}

W1Backend::~W1Backend() = default;

QString W1Backend::description() const
{
    return QStringLiteral("kernel 1-Wire master %1").arg(m_master.name());
}

QString W1Backend::problem() const
{
    return m_master.problem();
}

QString W1Backend::deviceProblem(const uint8_t rom[8]) const
{
    return m_master.deviceProblem(rom);
}

MasterEntry W1Backend::masterEntry()
{
    MasterEntry entry;
    entry.prefix = QStringLiteral("w1");
    entry.forms = {{QStringLiteral("w1"), QStringLiteral("the Linux kernel's 1-Wire master when it has exactly one")},
                   {QStringLiteral("w1:MASTER"),
                    QStringLiteral("the kernel's 1-Wire master MASTER (w1_bus_master2, or 2)")}};
    entry.open = [](const QString &selector, QString *) -> std::unique_ptr<BusBackend> {
        return std::make_unique<W1Backend>(selector);
    };
    // Per master: w1:NAME, its device count, whether this process may
    // trigger the bulk conversion and whether it has raw access through the
    // kernel's w1 connector. Not reached through a serial port.
    entry.survey = [](const QStringList &ports) {
        QVector<MasterEntry::Found> found;
        if (!ports.isEmpty())
            return found;
        const QStringList masters = W1Sysfs::masters();
        W1Netlink netlink;
        QString noNetlink;
        if (!masters.isEmpty())
            netlink.open(&noNetlink);
        for (const QString &master : masters) {
            QStringList names;
            W1Sysfs::deviceNames(master, &names);
            const QString bulk = W1Sysfs::masterDir(master) + QStringLiteral("/therm_bulk_read");
            QString line = QStringLiteral("w1:%1  kernel 1-Wire master  %2 device(s)").arg(master).arg(names.size());
            if (QFile::exists(bulk))
                line += W1Sysfs::writable(bulk) ? QStringLiteral("  bulk conversion")
                                                : QStringLiteral("  bulk conversion for root only");
            const uint32_t id = master.mid(int(qstrlen("w1_bus_master"))).toUInt();
            if (!noNetlink.isEmpty())
                line += QStringLiteral("  no netlink raw access (%1)").arg(noNetlink);
            else if (!netlink.masters().contains(id))
                line += QStringLiteral("  no netlink raw access (the kernel's w1 connector does not list it)");
            else
                line += QStringLiteral("  netlink raw access");
            found.append({line, true});
        }
        return found;
    };
    entry.defaultPlace = 3;
    entry.defaultUsage = QString::fromLatin1(QT_TRANSLATE_NOOP("Orvexctl", "the kernel's 1-Wire master when it has exactly one"));
    // The kernel drives a bus only where someone set one up (an overlay, a
    // module): with one master that is the bus meant.
    entry.choose = [](QString *) -> std::unique_ptr<BusBackend> {
        if (W1Sysfs::masters().size() == 1)
            return std::make_unique<W1Backend>();
        return nullptr;
    };
    return entry;
}
