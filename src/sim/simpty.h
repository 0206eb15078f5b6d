#pragma once

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

private:
    void readable();

    SimDs2480b *m_chip;
    QString m_link;
    QString m_device;
    int m_master = -1;
    int m_slave = -1; // kept open so the terminal lives while no program has it open
    std::unique_ptr<QSocketNotifier> m_notifier;
    int m_vanishAfter = -1;
};
