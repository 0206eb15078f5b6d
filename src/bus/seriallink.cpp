#include "bus/seriallink.h"

#include "base/clock.h"

#include <QFile>
#include <QFileInfo>

#include <linux/serial.h>
#include <sys/ioctl.h>
#include <termios.h>

namespace {

const int kWriteTimeoutMs = 1000;
// Two characters' time at 4800 baud.
const int kSlowNulSettleMs = 4;

// Where a USB-serial converter's driver (ftdi_sio) offers its latency timer.
QString latencyTimerFile(const QString &path)
{
    const QString device = QFileInfo(QFileInfo(path).canonicalFilePath()).fileName();
    if (device.isEmpty())
        return QString();
    return QStringLiteral("/sys/bus/usb-serial/devices/%1/latency_timer").arg(device);
}

} // namespace

SerialLink::SerialLink() = default;

SerialLink::~SerialLink()
{
    close();
}

QString SerialLink::missingPortText(const QString &path)
{
    return QStringLiteral("%1: no such port (is the adapter plugged in?)").arg(path);
}

bool SerialLink::open(const QString &path, QString *error)
{
    close();
    m_lost = false;
    m_port.setPortName(path);
    // QSerialPort locks the port (a lock file and TIOCEXCL): a second program
    // on the same adapter gets "busy" instead of garbling both conversations.
    if (!m_port.open(QIODevice::ReadWrite)) {
        if (error) {
            switch (m_port.error()) {
            case QSerialPort::PermissionError:
                *error = QStringLiteral("%1: permission denied or the port is in use; a user must be in the "
                                        "\"dialout\" group to open serial ports (sudo usermod -aG dialout $USER, "
                                        "then log in again)")
                             .arg(path);
                break;
            case QSerialPort::DeviceNotFoundError:
                *error = missingPortText(path);
                break;
            default:
                *error = QStringLiteral("%1: %2").arg(path, m_port.errorString());
                break;
            }
        }
        return false;
    }
    const bool configured = m_port.setBaudRate(QSerialPort::Baud9600) && m_port.setDataBits(QSerialPort::Data8)
                            && m_port.setParity(QSerialPort::NoParity) && m_port.setStopBits(QSerialPort::OneStop)
                            && m_port.setFlowControl(QSerialPort::NoFlowControl);
    if (!configured) {
        if (error)
            *error = QStringLiteral("%1: cannot set 9600 baud 8N1: %2").arg(path, m_port.errorString());
        m_port.close();
        return false;
    }
    m_port.clear();
    askLowLatency(path);
    return true;
}

int SerialLink::latencyTimerMs(const QString &path)
{
    const QString name = latencyTimerFile(path);
    QFile file(name);
    if (name.isEmpty() || !file.open(QIODevice::ReadOnly))
        return -1;
    bool ok = false;
    const int ms = file.readAll().trimmed().toInt(&ok);
    return ok ? ms : -1;
}

// Each is a request: where the driver or the permissions refuse, the port
// works as it is, only slower (the udev rule in packaging/udev sets the timer
// for good).
void SerialLink::askLowLatency(const QString &path)
{
    const int fd = int(m_port.handle());
    struct serial_struct serial;
    if (fd >= 0 && ioctl(fd, TIOCGSERIAL, &serial) == 0 && !(serial.flags & ASYNC_LOW_LATENCY)) {
        serial.flags |= ASYNC_LOW_LATENCY;
        ioctl(fd, TIOCSSERIAL, &serial);
    }
    const QString name = latencyTimerFile(path);
    if (name.isEmpty() || latencyTimerMs(path) <= 1)
        return;
    QFile file(name);
    if (file.open(QIODevice::WriteOnly))
        file.write("1");
}

void SerialLink::close()
{
    if (m_port.isOpen())
        m_port.close();
}

bool SerialLink::isOpen() const
{
    return m_port.isOpen() && !m_lost;
}

// A failed read or write (the device node is gone, the line hung up) leaves
// the port useless until it is opened again.
void SerialLink::checkFailure()
{
    const QSerialPort::SerialPortError e = m_port.error();
    if (e == QSerialPort::ResourceError || e == QSerialPort::DeviceNotFoundError
        || e == QSerialPort::PermissionError || e == QSerialPort::NotOpenError) {
        m_lost = true;
        close();
    }
}

bool SerialLink::write(const QByteArray &bytes)
{
    if (!isOpen())
        return false;
    if (m_port.write(bytes) != bytes.size()) {
        m_lost = true;
        close();
        return false;
    }
    while (m_port.bytesToWrite() > 0) {
        if (!m_port.waitForBytesWritten(kWriteTimeoutMs)) {
            m_lost = true;
            close();
            return false;
        }
    }
    return true;
}

QByteArray SerialLink::read(int count, int timeoutMs)
{
    QByteArray data;
    if (!isOpen())
        return data;
    auto take = [&]() {
        if (m_port.bytesAvailable() > 0)
            data += m_port.read(count - data.size());
    };
    take();
    if (data.size() >= count)
        return data;
    Clock::waitForInput(
        [&](int sliceMs) {
            take();
            if (data.size() >= count)
                return true;
            if (!m_port.isOpen())
                return true;
            if (!m_port.waitForReadyRead(sliceMs)) {
                checkFailure();
                return m_lost;
            }
            take();
            return data.size() >= count;
        },
        timeoutMs);
    if (m_port.isOpen())
        checkFailure();
    return data;
}

int SerialLink::discardInput(int settleMs)
{
    // Lets the bytes still on their way arrive until the line has been quiet
    // for `settleMs`, then drops them all. Short waits with events run in
    // between, so an emulated adapter in this thread gets to answer.
    const int kSliceMs = 2;
    int quietMs = 0;
    int dropped = 0;
    while (isOpen() && quietMs < settleMs) {
        Clock::processEvents();
        if (m_port.bytesAvailable() > 0) {
            dropped += m_port.readAll().size();
            quietMs = 0;
        } else if (m_port.waitForReadyRead(kSliceMs)) {
            quietMs = 0;
        } else {
            checkFailure();
            quietMs += kSliceMs;
        }
    }
    if (isOpen())
        dropped += m_port.readAll().size();
    return dropped;
}

void SerialLink::dropInput()
{
    if (!isOpen())
        return;
    m_port.waitForReadyRead(0);
    m_port.readAll();
}

bool SerialLink::inputWaiting()
{
    if (!isOpen())
        return false;
    if (m_port.bytesAvailable() == 0)
        m_port.waitForReadyRead(0);
    return m_port.bytesAvailable() > 0;
}

bool SerialLink::inputWithinMs(int ms)
{
    if (!isOpen())
        return false;
    if (m_port.bytesAvailable() > 0)
        return true;
    Clock::waitForInput(
        [&](int sliceMs) {
            if (m_port.bytesAvailable() > 0)
                return true;
            m_port.waitForReadyRead(sliceMs);
            return m_port.bytesAvailable() > 0;
        },
        ms);
    return m_port.bytesAvailable() > 0;
}

void SerialLink::sendSlowNul()
{
    if (!isOpen())
        return;
    // Every byte must leave at the rate it was written at before the rate
    // changes: the output drains first, and, for an emulated chip that reads
    // the port's rate when it takes a byte, events run while the line stays
    // quiet for a moment.
    const int fd = int(m_port.handle());
    tcdrain(fd);
    discardInput(kSlowNulSettleMs);
    m_port.setBaudRate(QSerialPort::Baud4800);
    write(QByteArray(1, '\0'));
    tcdrain(fd);
    discardInput(kSlowNulSettleMs);
    if (isOpen())
        m_port.setBaudRate(QSerialPort::Baud9600);
}

void SerialLink::sendBreak(int ms)
{
    if (!isOpen())
        return;
    m_port.setBreakEnabled(true);
    Clock::holdLineMs(ms);
    m_port.setBreakEnabled(false);
}
