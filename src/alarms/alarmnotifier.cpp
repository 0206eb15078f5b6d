#include "alarms/alarmnotifier.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QFileInfo>
#include <QVariantMap>
#include <atomic>

namespace {

QString sessionBusAddress()
{
    const QString given = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    if (!given.isEmpty())
        return given;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QFileInfo::exists(runtime + QStringLiteral("/bus")))
        return QStringLiteral("unix:path=") + runtime + QStringLiteral("/bus");
    return QString();
}

} // namespace

AlarmNotifier::AlarmNotifier()
{
    const QString address = sessionBusAddress();
    if (address.isEmpty())
        return;
    static std::atomic<int> serial{0};
    m_name = QStringLiteral("orvex-alarms-%1").arg(++serial);
    m_connected = QDBusConnection::connectToBus(address, m_name).isConnected();
}

AlarmNotifier::~AlarmNotifier()
{
    if (!m_name.isEmpty())
        QDBusConnection::disconnectFromBus(m_name);
}

void AlarmNotifier::notify(const QString &summary, const QString &body, bool urgent)
{
    if (!m_connected)
        return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    QVariantMap hints;
    // Urgency: 1 normal, 2 critical.
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(urgent ? 2 : 1)));
    // The program's name as the window says it: the application name is the
    // settings' and stays Russian in every language.
    call << QCoreApplication::translate("MainWindow", "Орвекс") << uint(0) << QStringLiteral("orvex") << summary << body
         << QStringList() << hints << int(urgent ? 0 : -1);
    QDBusConnection(m_name).send(call);
}
