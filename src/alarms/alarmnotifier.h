#pragma once

#include <QDBusConnection>
#include <QString>

// Desktop notifications through the freedesktop notification service
// (org.freedesktop.Notifications) on the session bus. Without a session bus
// nothing is sent and nothing is said: a window outside a desktop session
// has no one to notify. Sending never waits for the service.
class AlarmNotifier
{
public:
    // The session bus of the environment (DBUS_SESSION_BUS_ADDRESS, else
    // $XDG_RUNTIME_DIR/bus when it exists); never autolaunches one.
    AlarmNotifier();
    ~AlarmNotifier();
    AlarmNotifier(const AlarmNotifier &) = delete;
    AlarmNotifier &operator=(const AlarmNotifier &) = delete;

    bool available() const { return m_connected; }
    // Shows `summary` with `body`; `urgent` notifications stay until dismissed.
    void notify(const QString &summary, const QString &body, bool urgent);

private:
    QString m_name;
    bool m_connected = false;
};
