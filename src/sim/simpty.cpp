#include "sim/simpty.h"

#include "sim/simds2480b.h"
#include "base/clock.h"

#include <QFile>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

SimPty::SimPty(SimDs2480b *chip)
    : m_chip(chip)
{
}

SimPty::~SimPty()
{
    unplug();
    if (!m_link.isEmpty())
        QFile::remove(m_link);
}

QString SimPty::path() const
{
    return m_link.isEmpty() ? m_device : m_link;
}

bool SimPty::open(const QString &linkPath, QString *error)
{
    m_link = linkPath;
    return replug(error);
}

bool SimPty::replug(QString *error)
{
    unplug();
    auto fail = [&](const char *what) {
        if (error)
            *error = QStringLiteral("%1: %2").arg(QLatin1String(what), QString::fromLocal8Bit(std::strerror(errno)));
        unplug();
        return false;
    };
    m_master = posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0)
        return fail("posix_openpt");
    if (grantpt(m_master) != 0 || unlockpt(m_master) != 0)
        return fail("grantpt");
    const char *name = ptsname(m_master);
    if (!name)
        return fail("ptsname");
    m_device = QString::fromLocal8Bit(name);
    m_slave = ::open(name, O_RDWR | O_NOCTTY);
    if (m_slave < 0)
        return fail("open");
    // Raw bytes both ways, as on a serial line.
    termios t;
    if (tcgetattr(m_slave, &t) == 0) {
        cfmakeraw(&t);
        cfsetispeed(&t, B9600);
        cfsetospeed(&t, B9600);
        tcsetattr(m_slave, TCSANOW, &t);
    }
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);
    if (!m_link.isEmpty()) {
        QFile::remove(m_link);
        if (!QFile::link(m_device, m_link))
            return fail("symlink");
    }
    m_chip->powerOn();
    m_notifier = std::make_unique<QSocketNotifier>(m_master, QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this]() { readable(); });
    return true;
}

void SimPty::unplug()
{
    m_notifier.reset();
    if (m_master >= 0)
        ::close(m_master);
    if (m_slave >= 0)
        ::close(m_slave);
    m_master = -1;
    m_slave = -1;
    m_vanishAfter = -1;
    m_due.clear();
}

void SimPty::setLineTiming(bool on, int latencyUs)
{
    m_lineTiming = on;
    m_latencyUs = latencyUs;
    m_chip->setByteTimeUs(on ? kByteUs : 0);
}

void SimPty::setRealTimePacing(bool on)
{
    m_pacing = on;
    m_realStartUs = Clock::tickUs();
    m_real.start();
}

int SimPty::hostBaud() const
{
    // The master side's terminal calls reach the host's end on Linux.
    termios t;
    if (m_master < 0 || tcgetattr(m_master, &t) != 0)
        return 0;
    switch (cfgetospeed(&t)) {
    case B1200: return 1200;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    default: return 0;
    }
}

void SimPty::sendUnasked(const QByteArray &noise)
{
    send(noise);
}

void SimPty::sendWhenDue(const QByteArray &answer, qint64 dueUs)
{
    m_due.append({answer, dueUs});
    const qint64 realUs = m_real.nsecsElapsed() / 1000;
    const qint64 waitMs = std::max<qint64>(0, (dueUs - m_realStartUs - realUs + 999) / 1000);
    QTimer::singleShot(int(waitMs), Qt::PreciseTimer, &m_delayed, [this]() { sendDue(); });
}

void SimPty::sendDue()
{
    const qint64 nowUs = m_realStartUs + m_real.nsecsElapsed() / 1000;
    while (!m_due.isEmpty() && m_due.first().dueUs <= nowUs + 500)
        send(m_due.takeFirst().bytes);
}

void SimPty::readable()
{
    char buffer[4096];
    const ssize_t n = ::read(m_master, buffer, sizeof buffer);
    if (n <= 0)
        return;
    QByteArray bytes(buffer, int(n));
    bool vanish = false;
    if (m_vanishAfter >= 0 && bytes.size() >= m_vanishAfter) {
        bytes.truncate(m_vanishAfter);
        vanish = true;
    } else if (m_vanishAfter >= 0) {
        m_vanishAfter -= bytes.size();
    }
    m_bytesIn += bytes.size();
    const int baud = hostBaud();
    m_chip->setHostBaud(baud);
    if (m_lineTiming && baud > 0)
        m_chip->setByteTimeUs(byteUs(baud));
    if (m_pacing) {
        // The chip's clock never runs behind real time: what the host wrote
        // after a pause reaches a chip that has waited as long.
        const qint64 behindUs = m_realStartUs + m_real.nsecsElapsed() / 1000 - Clock::tickUs();
        if (behindUs > 0)
            Clock::spendUs(behindUs);
    }
    const QByteArray answer = m_chip->receive(bytes);
    if (vanish) {
        unplug();
        return;
    }
    if (answer.isEmpty())
        return;
    m_bytesOut += answer.size();
    ++m_turnarounds;
    // The answers run on the line while the host's bytes still come; the
    // last one follows the last byte of the host's, and the converter holds
    // it until its latency timer runs out.
    if (m_lineTiming)
        Clock::spendUs(byteUs(baud > 0 ? baud : 9600) + m_latencyUs);
    if (m_pacing)
        sendWhenDue(answer, Clock::tickUs());
    else if (m_delayMs > 0)
        QTimer::singleShot(m_delayMs, &m_delayed, [this, answer]() { send(answer); });
    else
        send(answer);
    if (m_trailing >= 0) {
        const QByteArray noise(1, char(m_trailing));
        m_trailing = -1;
        QTimer::singleShot(0, &m_delayed, [this, noise]() { send(noise); });
    }
}

void SimPty::send(const QByteArray &answer)
{
    if (m_master < 0)
        return;
    for (int done = 0; done < answer.size();) {
        const ssize_t w = ::write(m_master, answer.constData() + done, size_t(answer.size() - done));
        if (w <= 0) {
            if (errno == EAGAIN || errno == EINTR)
                continue;
            break;
        }
        done += int(w);
    }
}
