#pragma once

#include "bus/wiremaster.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>
#include <array>

// A bus master of the Linux kernel (w1-gpio, a DS2482, a DS2490 with the
// kernel's driver), reached through sysfs, which every user may read.
//
// sysfs offers no time slots, so this master follows the byte sequences the
// drivers send and carries out what they mean there:
// - a reset lists the master's directory: those devices are on the bus, and
//   the ROM search walks their ROMs (the CRC byte computed) bit by bit;
// - Match ROM, Skip ROM or a search along one ROM selects, as on the wire;
// - Read Scratchpad of a thermometer serves the nine bytes of its w1_slave
//   file, so the drivers' own checks and conversions apply;
// - Convert T to every device (Skip ROM) writes `trigger` to the master's
//   therm_bulk_read where the process may, so the kernel converts the whole
//   bus once and the w1_slave reads that follow take the results; elsewhere
//   a conversion is left to the read, since reading w1_slave converts;
// - a DS18B20's resolution and Copy Scratchpad go to w1_slave ("12", "0")
//   where the process may write it.
// Every other function command needs raw access to the bus, which sysfs does
// not give: the device answers all ones, as one that does not answer, and
// the log says once which device went unread and why.
class W1Master : public WireMaster
{
public:
    // `selector`: a master's name (w1_bus_master2, or just 2), or empty for
    // the one master present.
    explicit W1Master(const QString &selector = QString());

    // The master's name, or empty when none could be chosen.
    QString name() const { return m_name; }
    // Why the bus cannot be used, for the operator; empty when it can.
    QString problem() const;
    // Why the device with this ROM cannot be read through sysfs (it needs
    // raw access to the bus); empty for a thermometer the kernel reads.
    QString deviceProblem(const uint8_t rom[8]) const;

    // What the kernel was asked since the last call, one line each
    // ("read 28-00000a1b2c3d/w1_slave", "write therm_bulk_read trigger"):
    // the operations a test or the bench counts.
    QStringList takeOperations();

    bool defaultPort(short *portNum, short *portType) const override;
    bool connected() const override;
    bool setUp() override;
    int reset() override;
    int touchBit(int bit) override;
    int touchByte(int byte) override;
    void setOverdriveTiming(bool on) override;
    bool overdriveTiming() const override;
    void setStrongPullup(bool armed) override;
    int searchTriplets(const uint8_t path[8], uint8_t rom[8], uint8_t discrepancies[8]) override;
    // The kernel's sysfs offers no Alarm Search.
    bool searchesAlarms() const override { return false; }

private:
    using Rom = std::array<uint8_t, 8>;
    enum class Phase { RomCommand, Matching, Function, Reading, WritingScratchpad, Idle };

    bool listDevices();
    QString devicePath(const Rom &rom) const;
    void functionCommand(uint8_t command);
    void readScratchpad();
    void triggerBulk();
    void writeScratchpadDone();
    void copyScratchpad();
    bool writeAttribute(const QString &path, const QByteArray &text);
    void unreachable(const Rom &rom, uint8_t command);
    void record(const QString &operation);

    QString m_name;
    QString m_selectError;
    bool m_present = false;
    bool m_overdrive = false;
    QVector<Rom> m_roms;
    Phase m_phase = Phase::Idle;
    bool m_searchWalks = false; // a Search ROM byte came since the last reset
    QByteArray m_matched;
    bool m_all = false;  // Skip ROM: every device selected
    int m_selected = -1; // index into m_roms, -1 none
    QByteArray m_toRead;
    QByteArray m_written;
    // The last scratchpad read of each device (by sysfs name), and what a
    // Write Scratchpad made of it, which a read before the next conversion
    // or copy answers (as the chip's scratchpad would) instead of starting
    // a conversion through w1_slave.
    QHash<QString, QByteArray> m_lastScratchpad;
    QHash<QString, QByteArray> m_writtenScratchpad;
    QSet<QString> m_warned;
    bool m_bulkRefused = false;
    QStringList m_operations;
};
