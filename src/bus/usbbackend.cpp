#include "bus/usbbackend.h"

#include "bus/usbadapters.h"

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

MasterEntry UsbBackend::masterEntry()
{
    MasterEntry entry;
    entry.prefix = QStringLiteral("usb");
    entry.forms = {{QStringLiteral("usb"), QStringLiteral("the first USB adapter with a DS2490 (04FA:2490)")},
                   {QStringLiteral("usb:SERIAL"), QStringLiteral("the USB adapter whose ID chip has this serial number")},
                   {QStringLiteral("usb:BUS-PORT"), QStringLiteral("the USB adapter at this USB position (1-2, 1-2.3)")}};
    entry.open = [](const QString &selector, QString *) -> std::unique_ptr<BusBackend> {
        return std::make_unique<UsbBackend>(selector);
    };
    // Per adapter: usb:BUS-PORT, its ID chip's serial number or why it could
    // not be read, and whether the kernel's driver holds it. Adapters have no
    // serial port, so naming ports leaves them out.
    entry.survey = [](const QStringList &ports) {
        QVector<MasterEntry::Found> found;
        if (!ports.isEmpty())
            return found;
        for (const UsbAdapters::Info &a : UsbAdapters::survey(true)) {
            QString line = QStringLiteral("usb:%1  DS2490").arg(a.position);
            if (!a.serial.isEmpty())
                line += QStringLiteral("  ID chip ") + a.serial;
            else
                line += QStringLiteral(": ") + (a.problem.isEmpty() ? QStringLiteral("no ID chip answers") : a.problem);
            if (a.kernelDriver)
                line += QStringLiteral("  (held by the kernel's ds2490 driver; detached while in use)");
            found.append({line, !a.serial.isEmpty()});
        }
        return found;
    };
    entry.defaultPlace = 2;
    entry.defaultUsage = QString::fromLatin1(QT_TRANSLATE_NOOP("Orvexctl", "the one USB adapter when exactly one is plugged in"));
    // One adapter and nothing chosen: the operator plugged it in to use it.
    // With two or more the choice is the operator's (usb:...).
    entry.choose = [](QString *) -> std::unique_ptr<BusBackend> {
        if (UsbAdapters::survey(false).size() == 1)
            return std::make_unique<UsbBackend>();
        return nullptr;
    };
    entry.usbIds << QStringLiteral("%1:%2")
                        .arg(UsbAdapters::kVendorId, 4, 16, QLatin1Char('0'))
                        .arg(UsbAdapters::kProductId, 4, 16, QLatin1Char('0'));
    return entry;
}
