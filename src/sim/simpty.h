#pragma once

#include <QElapsedTimer>
#include <QList>
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
    // Fault: line noise that nobody asked for reaches the program now.
    void sendUnasked(const QByteArray &noise);
    // Fault: a noise byte follows the next answer, a moment after it (in a
    // later pass of the event loop), as a byte that trails an answer does.
    void trailNextAnswer(uint8_t noise) { m_trailing = int(noise); }
    // Real time: the answers go out when a chip would have sent them, the
    // clock being this process's own virtual one (see ds2480-emu); the clock
    // is kept up with real time before each write of the host's is taken.
    void setRealTimePacing(bool on);

    // Line timing, off until set: every byte the host sends costs its time
    // at the host's baud rate (ten bits) on the clock, and every turnaround (a write of
    // the host's that the chip answers, after which the host waits) the
    // converter's latency and the last answer byte's time.
    // The chip charges the host's bytes as they arrive (SimDs2480b::setByteTimeUs).
    void setLineTiming(bool on, int latencyUs);
    static constexpr qint64 kByteUs = 1042; // ten bits at 9600 baud
    // Ten bits at `baud`, in µs.
    static qint64 byteUs(int baud) { return (10000000 + baud / 2) / baud; }
    // What went over the line since the counts were cleared.
    qint64 turnarounds() const { return m_turnarounds; }
    qint64 bytesIn() const { return m_bytesIn; }
    qint64 bytesOut() const { return m_bytesOut; }
    void clearCounts() { m_turnarounds = m_bytesIn = m_bytesOut = 0; }

private:
    void readable();
    void send(const QByteArray &answer);
    // The host's baud rate as its end of the terminal is set now; 0 unknown.
    int hostBaud() const;
    // Sends `answer` when the clock says it is due (real-time pacing).
    void sendWhenDue(const QByteArray &answer, qint64 dueUs);
    void sendDue();

    SimDs2480b *m_chip;
    QString m_link;
    QString m_device;
    int m_master = -1;
    int m_slave = -1; // kept open so the terminal lives while no program has it open
    std::unique_ptr<QSocketNotifier> m_notifier;
    int m_vanishAfter = -1;
    int m_delayMs = 0;
    QObject m_delayed; // owns the late answers' timers: none fires after the port is gone
    int m_trailing = -1;
    bool m_pacing = false;
    qint64 m_realStartUs = 0;  // the clock when pacing began
    QElapsedTimer m_real;      // real time since then
    struct Due
    {
        QByteArray bytes;
        qint64 dueUs;
    };
    QList<Due> m_due;
    bool m_lineTiming = false;
    int m_latencyUs = 0;
    qint64 m_turnarounds = 0;
    qint64 m_bytesIn = 0;
    qint64 m_bytesOut = 0;
};
