#include "support/mqtttestbroker.h"

#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTextStream>
#include <csignal>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A port of 127.0.0.1 that nothing listens on at this moment.
int freeLoopbackPort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return 0;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    ::close(fd);
    return port;
}

QString findTool(const QString &name)
{
    const QString found = QStandardPaths::findExecutable(name);
    if (!found.isEmpty())
        return found;
    return QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin"),
                                                 QStringLiteral("/usr/bin")});
}

} // namespace

MqttTestBroker::MqttTestBroker(const Options &options)
    : m_options(options)
{
}

MqttTestBroker::~MqttTestBroker()
{
    stop();
}

QString MqttTestBroker::executable()
{
    return findTool(QStringLiteral("mosquitto"));
}

QString MqttTestBroker::url(const QString &prefix, bool tls) const
{
    return QStringLiteral("%1://127.0.0.1:%2/%3").arg(tls ? "mqtts" : "mqtt").arg(tls ? m_tlsPort : m_port).arg(prefix);
}

bool MqttTestBroker::run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.setWorkingDirectory(m_dir.path());
    process.start(findTool(program), arguments);
    if (!process.waitForFinished(30000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        m_error = program + QStringLiteral(" failed: ") + QString::fromLocal8Bit(process.readAllStandardError());
        return false;
    }
    return true;
}

// The configuration, and the certificates and password file it names.
bool MqttTestBroker::prepare()
{
    if (m_prepared)
        return true;
    if (executable().isEmpty()) {
        m_error = QStringLiteral("the mosquitto broker is not installed (tools/install-deps)");
        return false;
    }
    m_port = freeLoopbackPort();
    QString config;
    QTextStream out(&config);
    out << "per_listener_settings false\n"
        // Run as root (CI), it would otherwise switch to a user that cannot read this folder.
        << "user root\n"
        << "persistence true\npersistence_location " << m_dir.path() << "/\n"
        << "log_dest stderr\nlog_type error\nlog_type warning\nlog_type information\n"
        << "listener " << m_port << " 127.0.0.1\n";
    if (m_options.tls) {
        // Two CAs, and a certificate for the broker signed by the first.
        const QStringList key{"-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-days", "2"};
        if (!run("openssl", QStringList{"req", "-x509", "-keyout", "ca.key", "-out", "ca.crt", "-subj", "/CN=Orvex test CA"} + key)
            || !run("openssl", QStringList{"req", "-x509", "-keyout", "other-ca.key", "-out", "other-ca.crt", "-subj",
                                           "/CN=Unrelated CA"} + key)
            || !run("openssl", QStringList{"req", "-x509", "-CA", "ca.crt", "-CAkey", "ca.key", "-keyout", "server.key",
                                           "-out", "server.crt", "-subj", "/CN=127.0.0.1", "-addext",
                                           "subjectAltName=IP:127.0.0.1,DNS:localhost"} + key))
            return false;
        do
            m_tlsPort = freeLoopbackPort();
        while (m_tlsPort == m_port);
        out << "listener " << m_tlsPort << " 127.0.0.1\n"
            << "cafile " << caFile() << "\ncertfile " << m_dir.path() << "/server.crt\nkeyfile " << m_dir.path()
            << "/server.key\n";
    }
    if (m_options.user.isEmpty()) {
        out << "allow_anonymous true\n";
    } else {
        if (!run("mosquitto_passwd", {"-c", "-b", "passwords", m_options.user, m_options.password}))
            return false;
        out << "allow_anonymous false\npassword_file " << m_dir.path() << "/passwords\n";
    }
    out.flush();
    QFile file(m_dir.path() + QStringLiteral("/mosquitto.conf"));
    if (!file.open(QIODevice::WriteOnly) || file.write(config.toUtf8()) < 0)
        return false;
    m_prepared = true;
    return true;
}

bool MqttTestBroker::start()
{
    if (isRunning())
        return true;
    if (!prepare())
        return false;
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    m_process->start(executable(), {QStringLiteral("-c"), m_dir.path() + QStringLiteral("/mosquitto.conf")});
    QByteArray output;
    QElapsedTimer elapsed;
    elapsed.start();
    // It says "... running" once every listener is open.
    while (elapsed.elapsed() < 5000 && m_process->state() != QProcess::NotRunning) {
        m_process->waitForReadyRead(100);
        output += m_process->readAll();
        if (output.contains(" running"))
            return true;
    }
    m_error = QStringLiteral("mosquitto did not start: ") + QString::fromLocal8Bit(output);
    stop();
    return false;
}

void MqttTestBroker::stop()
{
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        freeze(false);
        m_process->terminate();
        if (!m_process->waitForFinished(5000)) {
            m_process->kill();
            m_process->waitForFinished(5000);
        }
    }
    m_process.reset();
}

void MqttTestBroker::freeze(bool frozen)
{
    if (m_process && m_process->state() == QProcess::Running)
        ::kill(pid_t(m_process->processId()), frozen ? SIGSTOP : SIGCONT);
}

bool MqttTestBroker::isRunning() const
{
    return m_process && m_process->state() == QProcess::Running;
}
