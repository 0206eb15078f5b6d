#pragma once

#include "bus/w1netlink.h"
#include "bus/wiremaster.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QVector>
#include <array>
#include <memory>

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
// Every other function command (a bridge's packets, a hub's broadcasts, a
// Pt100 emulator's calibration, a thermometer w1_therm does not drive) needs
// raw access to the bus, which the kernel's w1 connector gives (W1Netlink):
// the transaction is carried there from its reset and selection on, a run
// of bytes in one request. Without the connector the device answers all
// ones, as one that does not answer, and the log says once which device went
// unread and why. The connector has no strong pull-up, so a thermometer is
// converted through it only once it has answered Read Power Supply as a
// chip with its own power; one powered from the data line, or one whose
// answer failed or proved nothing, is not. A bridge the kernel's own
// w1_ds28e17 driver holds is left to it.
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
    // Why raw access through the kernel's w1 connector cannot be had; empty
    // when it can. Asks the kernel the first time.
    QString netlinkProblem() const;

    // What the kernel was asked since the last call, one line each
    // ("read 28-00000a1b2c3d/w1_slave", "write therm_bulk_read trigger",
    // "netlink reset write touch read": one request to the connector and
    // its commands): the operations a test or the bench counts.
    QStringList takeOperations();

    bool defaultPort(short *portNum, short *portType) const override;
    bool connected() const override;
    bool setUp() override;
    int reset() override;
    int touchBit(int bit) override;
    int touchByte(int byte) override;
    int touchBlock(uint8_t *bytes, int length) override;
    int touchBlockThenReadBit(uint8_t *bytes, int length) override;
    void setOverdriveTiming(bool on) override;
    bool overdriveTiming() const override;
    void setStrongPullup(bool armed) override;
    // The connector has none; w1_therm's own conversions have theirs.
    bool hasStrongPullup() const override { return false; }
    // After a Convert T to every device that the kernel's bulk conversion
    // carried out alone: writing `trigger` returns when the conversion is
    // done, so nobody need wait again.
    bool conversionFinished() const override { return m_conversionFinished; }
    int searchTriplets(const uint8_t path[8], uint8_t rom[8], uint8_t discrepancies[8]) override;
    // The kernel's sysfs offers no Alarm Search.
    bool searchesAlarms() const override { return false; }

private:
    using Rom = std::array<uint8_t, 8>;
    enum class Phase { RomCommand, Matching, Function, Reading, WritingScratchpad, Raw, Idle };
    enum class Power { Unknown, External, Parasite };

    bool listDevices();
    int emulatedByte(uint8_t value);
    int block(uint8_t *bytes, int length, bool thenReadBit);
    // A thermometer the kernel gives no w1_slave: read raw where it may be.
    bool rawThermometer(const Rom &rom) const;
    bool needsRaw(const Rom &rom, uint8_t command) const;
    void beginRaw(uint8_t command);
    int rawBlock(uint8_t *bytes, int length, bool thenReadBit);
    bool sendRaw(const QVector<W1Netlink::Command> &commands, QVector<W1Netlink::Reply> *replies);
    void probePower();
    // Whether any was sent a Convert T.
    bool convertRawThermometers();
    QString powerProblem(const Rom &rom) const;
    QString devicePath(const Rom &rom) const;
    void functionCommand(uint8_t command);
    void readScratchpad();
    // Whether the kernel converted the bus (its write returns when done).
    bool triggerBulk();
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
    // Listed devices whose folder was found gone, said once each.
    QSet<QString> m_goneFolders;
    bool m_bulkRefused = false;
    bool m_conversionFinished = false;
    QStringList m_operations;

    // The connector, opened the first time it is needed.
    mutable std::unique_ptr<W1Netlink> m_netlink;
    mutable bool m_netlinkTried = false;
    mutable QString m_netlinkProblem;
    uint32_t m_masterId = 0;
    // Of the raw transaction: the requests not yet sent (its reset and
    // selection), and bytes the line gave that a read takes next.
    QVector<W1Netlink::Command> m_pending;
    QByteArray m_readAhead;
    QHash<QString, Power> m_power;
};
