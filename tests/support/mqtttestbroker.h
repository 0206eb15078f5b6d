#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <memory>

// A real mosquitto broker for one test: its own folder, a generated
// configuration, a free port on 127.0.0.1 (and a second one for TLS when
// asked), started and stopped by the test, never a system service. Messages
// and sessions are kept across stop() and start() like a broker that restarts.
class MqttTestBroker
{
public:
    struct Options
    {
        bool tls = false;      // a TLS listener too, with a certificate from a generated CA
        QString user;          // non-empty: only this user with this password may connect
        QString password;
    };

    explicit MqttTestBroker(const Options &options);
    MqttTestBroker() : MqttTestBroker(Options()) {}
    ~MqttTestBroker();

    // The broker's program: on the PATH, else in /usr/sbin (Debian puts it
    // there, outside a normal user's PATH); empty when not installed.
    static QString executable();

    // Starts the broker and waits (real time, a few seconds at most) until it
    // listens. False with the reason in error().
    bool start();
    // Ends it cleanly (its sessions and retained messages are saved) and waits.
    void stop();
    bool isRunning() const;
    // Freezes the running broker (its connections stay open, nothing is
    // read or answered) or lets it go on.
    void freeze(bool frozen);
    QString error() const { return m_error; }

    int port() const { return m_port; }
    // "mqtt://127.0.0.1:<port>/<prefix>", or mqtts:// on the TLS port.
    QString url(const QString &prefix, bool tls = false) const;
    // The generated CA's certificate, and that of a CA unrelated to the broker.
    QString caFile() const { return m_dir.path() + QStringLiteral("/ca.crt"); }
    QString otherCaFile() const { return m_dir.path() + QStringLiteral("/other-ca.crt"); }

private:
    bool prepare();
    bool run(const QString &program, const QStringList &arguments);

    Options m_options;
    QTemporaryDir m_dir;
    int m_port = 0;
    int m_tlsPort = 0;
    bool m_prepared = false;
    std::unique_ptr<QProcess> m_process;
    QString m_error;
};
