#pragma once

#include <QObject>
#include <QString>
#include <memory>

class QSocketNotifier;
class SimDs2480b;

// The serial port of an emulated adapter: a pseudo-terminal whose other end
// a program opens like /dev/ttyUSB0. Bytes the program writes go to the
// simulated DS2480B when events run; its answers go back at once. Unplugging
// closes the pseudo-terminal, so the program's port fails and the device node
// vanishes; replugging opens a new one. An optional symbolic link gives the
// port a name that stays the same across replugs, as a udev name does.
class SimPty
{
public:
    // The chip is not owned and must outlive the port.
    explicit SimPty(SimDs2480b *chip);
    ~SimPty();

    // Opens the pseudo-terminal; with a `linkPath`, the link there points at it.
    bool open(const QString &linkPath, QString *error);
    // The name to open: the link, or the pseudo-terminal itself.
    QString path() const;
    bool plugged() const { return m_master >= 0; }

    // The adapter is pulled out: the pseudo-terminal closes.
    void unplug();
    // Plugged in again: a new pseudo-terminal, the chip powered on afresh.
    bool replug(QString *error);
    // Fault: the port vanishes after the chip has taken `count` more bytes.
    void vanishAfter(int count) { m_vanishAfter = count; }
    // Fault: the chip's answers reach the program `ms` milliseconds (real
    // time) late; 0 at once.
    void setAnswerDelayMs(int ms) { m_delayMs = ms; }

    // Line timing, off until set: every byte the host sends costs its time
    // at 9600 baud (ten bits) on the clock, and every turnaround (a write of
    // the host's that the chip answers, after which the host waits) the
    // converter's latency and the last answer byte's time.
    // The chip charges the host's bytes as they arrive (SimDs2480b::setByteTimeUs).
    void setLineTiming(bool on, int latencyUs);
    static constexpr qint64 kByteUs = 1042; // ten bits at 9600 baud
    // What went over the line since the counts were cleared.
    qint64 turnarounds() const { return m_turnarounds; }
    qint64 bytesIn() const { return m_bytesIn; }
    qint64 bytesOut() const { return m_bytesOut; }
    void clearCounts() { m_turnarounds = m_bytesIn = m_bytesOut = 0; }

private:
    void readable();
    void send(const QByteArray &answer);

    SimDs2480b *m_chip;
    QString m_link;
    QString m_device;
    int m_master = -1;
    int m_slave = -1; // kept open so the terminal lives while no program has it open
    std::unique_ptr<QSocketNotifier> m_notifier;
    int m_vanishAfter = -1;
    int m_delayMs = 0;
    QObject m_delayed; // owns the late answers' timers: none fires after the port is gone
    bool m_lineTiming = false;
    int m_latencyUs = 0;
    qint64 m_turnarounds = 0;
    qint64 m_bytesIn = 0;
    qint64 m_bytesOut = 0;
};
