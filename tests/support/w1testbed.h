#pragma once

#include <QByteArray>
#include <QString>

class SimBus;
struct _UMockdevTestbed;

// The kernel's w1 tree in a umockdev test bed: masters under
// /sys/bus/w1/devices, their devices below them, the thermometers' w1_slave
// files with the text the kernel prints and the masters' therm_bulk_read.
// The program reads and writes these files through umockdev's preload
// library as it would the kernel's; the test changes them between reads
// and reads back what the program wrote. Needs the preload library:
// UsbTestBed::ensurePreload(argv) first thing in main().
class W1TestBed
{
public:
    W1TestBed();
    ~W1TestBed();

    // A master `name` (w1_bus_master1); `bulk`: with therm_bulk_read ("0").
    void addMaster(const QString &name, bool bulk = true);
    void removeMaster(const QString &name);
    // A device below `master` named as the kernel names it; `slaveText`:
    // its w1_slave, or a null array for a family w1_therm does not drive.
    void addDevice(const QString &master, const QString &name, const QByteArray &slaveText = QByteArray());
    void removeDevice(const QString &master, const QString &name);

    // Every device of a simulated bus below `master`, as the kernel would
    // show it: each thermometer converted and read through the simulated
    // wire (with the strong pull-up a parasite-powered one needs), its
    // w1_slave the text of that read; the other devices without one.
    // Needs the virtual clock (the conversions take their time on it).
    void addSimBus(const QString &master, SimBus &bus);
    // The w1_slave text the kernel prints for nine scratchpad bytes.
    static QByteArray slaveText(const QByteArray &scratchpad);

    // A file below /sys/bus/w1/devices ("w1_bus_master1/therm_bulk_read").
    QByteArray file(const QString &relative) const;
    void setFile(const QString &relative, const QByteArray &contents);
    // The file's permission bits (0444: only root's to write, as for a
    // process that is not root).
    void setMode(const QString &relative, int mode);

    // Where the file is in the test bed's own tree, for the test's hands.
    QString hostPath(const QString &relative) const;

private:

    _UMockdevTestbed *m_testbed = nullptr;
    QString m_root;
};
