#include "bus/w1master.h"

#include "base/logging.h"
#include "bus/crc.h"
#include "bus/romcommands.h"
#include "bus/w1sysfs.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <cstring>

namespace {

const uint8_t kConvertT = 0x44;
const uint8_t kReadScratchpad = 0xBE;
const uint8_t kWriteScratchpad = 0x4E;
const uint8_t kCopyScratchpad = 0x48;
const uint8_t kReadPowerSupply = 0xB4;
const uint8_t kDs18s20Family = 0x10;
const uint8_t kDs28e17Family = 0x19;
const int kScratchpadSize = 9;
// The power probe's commands for one device: reset, Read Power Supply, its
// slot; reset, Read Scratchpad, its nine bytes.
const int kProbeCommands = 6;
// The kernel's w1 masters have no port numbers; one bus, port 0.
const short kPortType = 0;
// Bounds the operations kept when nobody takes them.
const int kOperationsKept = 4096;

QByteArray readFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

} // namespace

W1Master::W1Master(const QString &selector)
{
    const QStringList present = W1Sysfs::masters();
    if (selector.isEmpty()) {
        if (present.size() == 1)
            m_name = present.first();
        else if (present.isEmpty())
            m_selectError = QStringLiteral("no kernel 1-Wire master in %1 (load the w1-gpio overlay, ds2482 or ds2490, "
                                           "and w1_therm)")
                                .arg(W1Sysfs::devicesDir());
        else
            m_selectError = QStringLiteral("%1 kernel 1-Wire masters (%2): choose one with w1:MASTER")
                                .arg(present.size())
                                .arg(present.join(QStringLiteral(", ")));
    } else {
        bool number = false;
        selector.toInt(&number);
        m_name = number ? QStringLiteral("w1_bus_master") + selector : selector;
    }
    if (!m_name.isEmpty())
        m_present = listDevices();
    // The kernel names a master after its id, which the connector takes.
    static const QRegularExpression numbered(QStringLiteral("^w1_bus_master(\\d+)$"));
    const QRegularExpressionMatch match = numbered.match(m_name);
    if (match.hasMatch())
        m_masterId = match.captured(1).toUInt();
}

QString W1Master::netlinkProblem() const
{
    if (m_netlinkTried)
        return m_netlinkProblem;
    m_netlinkTried = true;
    if (m_masterId == 0) {
        m_netlinkProblem = m_name.isEmpty() ? QStringLiteral("no kernel 1-Wire master chosen")
                                            : QStringLiteral("%1 is not a numbered kernel master").arg(m_name);
        return m_netlinkProblem;
    }
    auto netlink = std::make_unique<W1Netlink>();
    QString why;
    if (!netlink->open(&why)) {
        m_netlinkProblem = why;
    } else if (!netlink->masters().contains(m_masterId)) {
        m_netlinkProblem = QStringLiteral("the kernel's w1 connector does not list %1").arg(m_name);
    } else {
        m_netlink = std::move(netlink);
        m_netlinkProblem.clear();
    }
    if (!m_netlinkProblem.isEmpty())
        qCInfo(logInfo()).noquote() << QStringLiteral("w1: %1: no raw access through netlink: %2").arg(m_name, m_netlinkProblem);
    return m_netlinkProblem;
}

QString W1Master::problem() const
{
    if (!m_selectError.isEmpty())
        return m_selectError;
    if (!m_present)
        return QStringLiteral("no kernel 1-Wire master %1 in %2").arg(m_name, W1Sysfs::devicesDir());
    return QString();
}

QString W1Master::deviceProblem(const uint8_t rom[8]) const
{
    Rom device;
    std::memcpy(device.data(), rom, 8);
    const QString dir = devicePath(device);
    const bool therm = W1Sysfs::thermFamily(rom[0]);
    // Asked of a device whose read failed: a thermometer w1_therm reads has
    // no such problem; every other one (a thermometer without w1_slave, a
    // bridge, a switch, a counter, an A/D converter) needs raw access. A
    // device whose folder is gone has left: no access is missing.
    if (m_name.isEmpty() || !QFile::exists(dir) || (therm && QFile::exists(dir + QStringLiteral("/w1_slave"))))
        return QString();
    if (rom[0] == kDs28e17Family) {
        // The kernel's own w1_ds28e17 driver makes the bridge an I2C bus of
        // its own (an i2c-N entry, the speed and stretch attributes).
        const QStringList buses = QDir(dir).entryList({QStringLiteral("i2c-*")}, QDir::Dirs | QDir::System);
        if (!buses.isEmpty() || QFile::exists(dir + QStringLiteral("/stretch")))
            return QStringLiteral("held by the kernel's w1_ds28e17 driver%1; its I2C sensors are the kernel's to read")
                .arg(buses.isEmpty() ? QString() : QStringLiteral(" (") + buses.first() + QLatin1Char(')'));
    }
    const QString netlink = netlinkProblem();
    if (!netlink.isEmpty())
        return QCoreApplication::translate("W1Master", "нет доступа к netlink: %1").arg(netlink);
    return therm ? powerProblem(device) : QString();
}

QString W1Master::powerProblem(const Rom &rom) const
{
    if (m_power.value(W1Sysfs::nameFromRom(rom.data())) != Power::Parasite)
        return QString();
    return QCoreApplication::translate("W1Master", "питание от линии данных: %1")
        .arg(QStringLiteral("the kernel's w1 connector has no strong pull-up to convert it; "
                            "w1_therm, which has, does not drive it"));
}

QStringList W1Master::takeOperations()
{
    QStringList taken;
    taken.swap(m_operations);
    return taken;
}

void W1Master::record(const QString &operation)
{
    if (m_operations.size() >= kOperationsKept)
        m_operations.removeFirst();
    m_operations << operation;
}

bool W1Master::defaultPort(short *portNum, short *portType) const
{
    *portNum = 0;
    *portType = kPortType;
    return !m_name.isEmpty();
}

bool W1Master::connected() const
{
    return m_present;
}

bool W1Master::setUp()
{
    m_present = !m_name.isEmpty() && listDevices();
    return m_present;
}

bool W1Master::listDevices()
{
    QStringList names;
    if (!W1Sysfs::deviceNames(m_name, &names))
        return false;
    m_roms.clear();
    for (const QString &name : names) {
        Rom rom;
        if (W1Sysfs::romFromName(name, rom.data()))
            m_roms << rom;
    }
    // A device no longer listed, or whose folder is back, is said again
    // when its folder goes the next time.
    for (auto it = m_goneFolders.begin(); it != m_goneFolders.end();) {
        if (!names.contains(*it) || QFile::exists(W1Sysfs::masterDir(m_name) + QLatin1Char('/') + *it))
            it = m_goneFolders.erase(it);
        else
            ++it;
    }
    return true;
}

QString W1Master::devicePath(const Rom &rom) const
{
    return W1Sysfs::masterDir(m_name) + QLatin1Char('/') + W1Sysfs::nameFromRom(rom.data());
}

int W1Master::reset()
{
    m_phase = Phase::Idle;
    m_searchWalks = false;
    m_all = false;
    m_selected = -1;
    m_toRead.clear();
    m_pending.clear();
    m_readAhead.clear();
    m_conversionFinished = false;
    if (m_name.isEmpty())
        return -1;
    // The directory is the kernel's own account of the bus: a master that has
    // gone is an adapter unplugged.
    m_present = listDevices();
    if (!m_present)
        return -1;
    // The kernel drives the line at standard speed only: no device answers a
    // reset at overdrive timing, so the overdrive probe ends at standard speed.
    if (m_overdrive || m_roms.isEmpty())
        return 0;
    probePower();
    m_phase = Phase::RomCommand;
    return 1;
}

int W1Master::touchBit(int bit)
{
    if (!m_present)
        return -1;
    if (m_phase == Phase::Raw) {
        if (bit)
            return rawBlock(nullptr, 0, true);
        // The connector moves whole bytes: a lone write slot of 0 cannot be
        // made, and nothing this program drives needs one.
        qCDebug(logWarning()) << "w1:" << m_name << "a single write slot cannot go through netlink";
        return 0;
    }
    // The kernel's reads and conversions are done when the file operation
    // returns, so a busy poll finds the device done; otherwise the line
    // stays high for a read slot, as with no device pulling it down.
    return bit ? 1 : 0;
}

int W1Master::touchByte(int byte)
{
    uint8_t value = uint8_t(byte);
    return block(&value, 1, false) < 0 ? -1 : value;
}

int W1Master::touchBlock(uint8_t *bytes, int length)
{
    return block(bytes, length, false);
}

int W1Master::touchBlockThenReadBit(uint8_t *bytes, int length)
{
    return block(bytes, length, true);
}

int W1Master::block(uint8_t *bytes, int length, bool thenReadBit)
{
    if (!m_present)
        return -1;
    int at = 0;
    while (at < length && m_phase != Phase::Raw) {
        bytes[at] = uint8_t(emulatedByte(bytes[at]));
        ++at;
    }
    // The rest of the run after the command that went raw goes in the same
    // request as its reset and selection.
    if (m_phase == Phase::Raw) {
        const int bit = rawBlock(bytes + at, length - at, thenReadBit);
        return thenReadBit ? bit : length;
    }
    return thenReadBit ? touchBit(1) : length;
}

int W1Master::emulatedByte(uint8_t value)
{
    switch (m_phase) {
    case Phase::RomCommand:
        if (value == RomCommand::kMatch) {
            m_matched.clear();
            m_phase = Phase::Matching;
        } else if (value == RomCommand::kSkip) {
            m_all = true;
            m_phase = Phase::Function;
        } else if (value == RomCommand::kRead && m_roms.size() == 1) {
            m_selected = 0;
            m_toRead = QByteArray(reinterpret_cast<const char *>(m_roms.first().data()), 8);
            m_phase = Phase::Reading;
        } else if (value == RomCommand::kSearch) {
            // searchTriplets walks the ROMs; nothing to do for the byte itself.
            m_searchWalks = true;
        } else {
            // Overdrive Skip, Resume, Alarm Search: nothing the kernel offers.
            m_phase = Phase::Idle;
        }
        return value;
    case Phase::Matching:
        m_matched.append(char(value));
        if (m_matched.size() == 8) {
            m_selected = -1;
            for (int i = 0; i < m_roms.size(); ++i) {
                if (std::memcmp(m_roms.at(i).data(), m_matched.constData(), 8) == 0)
                    m_selected = i;
            }
            m_phase = m_selected >= 0 ? Phase::Function : Phase::Idle;
        }
        return value;
    case Phase::Function:
        functionCommand(value);
        return value;
    case Phase::Reading:
        if (m_toRead.isEmpty())
            return value;
        {
            const uint8_t next = uint8_t(m_toRead.at(0));
            m_toRead.remove(0, 1);
            // The line is the wired-AND of what the master sends and the device.
            return value & next;
        }
    case Phase::WritingScratchpad:
        m_written.append(char(value));
        if (m_written.size() == (m_roms.at(m_selected).at(0) == kDs18s20Family ? 2 : 3))
            writeScratchpadDone();
        return value;
    case Phase::Raw:
    case Phase::Idle:
        break;
    }
    return value;
}

void W1Master::functionCommand(uint8_t command)
{
    m_phase = Phase::Idle;
    if (command == kConvertT && m_all) {
        // A conversion replaces what a Write Scratchpad left.
        m_writtenScratchpad.clear();
        // Those the connector converts are still converting when it answers.
        m_conversionFinished = triggerBulk() && !convertRawThermometers();
        return;
    }
    if (m_all) {
        // Other broadcasts (a hub's channels switched off, a bridge's speed)
        // go raw; a lone device's scratchpad is still its own.
        if (command != kReadScratchpad || m_roms.size() != 1) {
            if (netlinkProblem().isEmpty()) {
                beginRaw(command);
                return;
            }
            const QString key = QStringLiteral("broadcast %1").arg(command);
            if (!m_warned.contains(key)) {
                m_warned << key;
                qCDebug(logInfo()).noquote()
                    << QStringLiteral("w1: broadcast command 0x%1 needs raw access; not sent").arg(command, 2, 16, QLatin1Char('0'));
            }
            return;
        }
        m_selected = 0;
    }
    if (m_selected < 0)
        return;
    const Rom rom = m_roms.at(m_selected);
    if (!needsRaw(rom, command)) {
        if (command == kConvertT) {
            // One device: its w1_slave read converts it.
            m_writtenScratchpad.clear();
        } else if (command == kReadScratchpad) {
            readScratchpad();
        } else if (command == kWriteScratchpad) {
            m_written.clear();
            m_phase = Phase::WritingScratchpad;
        } else if (command == kCopyScratchpad) {
            copyScratchpad();
        }
        return;
    }
    // A thermometer the connector would convert without the strong pull-up
    // it may need is not converted: its power source must be known. (The
    // DS2438's Convert T, powered from its VDD, needs none.)
    const bool unpowered = command == kConvertT && W1Sysfs::thermFamily(rom.at(0))
                           && m_power.value(W1Sysfs::nameFromRom(rom.data())) != Power::External;
    if (deviceProblem(rom.data()).isEmpty() && netlinkProblem().isEmpty() && !unpowered)
        beginRaw(command);
    else
        unreachable(rom, command);
}

bool W1Master::rawThermometer(const Rom &rom) const
{
    const QString dir = devicePath(rom);
    return W1Sysfs::thermFamily(rom.at(0)) && !QFile::exists(dir + QStringLiteral("/w1_slave")) && QFile::exists(dir);
}

bool W1Master::needsRaw(const Rom &rom, uint8_t command) const
{
    if (!W1Sysfs::thermFamily(rom.at(0)) || rawThermometer(rom))
        return true;
    // What w1_slave carries; the DS18S20 has no configuration to write.
    return !(command == kConvertT || command == kReadScratchpad || command == kCopyScratchpad
             || (command == kWriteScratchpad && rom.at(0) != kDs18s20Family));
}

void W1Master::beginRaw(uint8_t command)
{
    QByteArray selection;
    if (m_all) {
        selection += char(RomCommand::kSkip);
    } else {
        selection += char(RomCommand::kMatch);
        selection += QByteArray(reinterpret_cast<const char *>(m_roms.at(m_selected).data()), 8);
    }
    selection += char(command);
    m_pending = {{W1Netlink::Reset, QByteArray()}, {W1Netlink::Write, selection}};
    m_readAhead.clear();
    m_phase = Phase::Raw;
}

// Carries the rest of a raw transaction's run (and the reset and selection
// still pending) in one request. A transaction may take several requests
// (a busy poll, then the statuses); the kernel may use the bus between them
// (its own search, a w1_slave read), which the drivers' status and CRC
// checks catch like any disturbed exchange.
int W1Master::rawBlock(uint8_t *bytes, int length, bool thenReadBit)
{
    QVector<W1Netlink::Command> commands;
    commands.swap(m_pending);
    bool reading = length > 0;
    for (int i = 0; i < length; ++i)
        reading = reading && bytes[i] == 0xFF;
    // Read slots go first to what an earlier poll already read.
    int ahead = 0;
    int dataAt = -1, pollAt = -1;
    if (reading) {
        ahead = qMin(length, m_readAhead.size());
        std::memcpy(bytes, m_readAhead.constData(), size_t(ahead));
        m_readAhead.remove(0, ahead);
        if (length > ahead) {
            dataAt = commands.size();
            commands.append({W1Netlink::Read, QByteArray(length - ahead, char(0xFF))});
        }
    } else if (length > 0) {
        m_readAhead.clear();
        dataAt = commands.size();
        commands.append({W1Netlink::Touch, QByteArray(reinterpret_cast<const char *>(bytes), length)});
    }
    if (thenReadBit) {
        // The connector has no single read slot: a busy poll reads a byte,
        // which a device still busy answers with ones. Anything else is the
        // first byte the device had to give, kept for the read that follows.
        m_readAhead.clear();
        pollAt = commands.size();
        commands.append({W1Netlink::Read, QByteArray(1, char(0xFF))});
    }
    QVector<W1Netlink::Reply> replies;
    if (!commands.isEmpty() && !sendRaw(commands, &replies)) {
        // Answered as by a device gone silent: ones, and busy for ever.
        m_phase = Phase::Idle;
        m_readAhead.clear();
        if (reading)
            std::memset(bytes + ahead, 0xFF, size_t(length - ahead));
        return thenReadBit ? 1 : length;
    }
    if (dataAt >= 0)
        std::memcpy(bytes + ahead, replies.at(dataAt).data.constData(), size_t(length - ahead));
    if (pollAt >= 0) {
        const uint8_t poll = uint8_t(replies.at(pollAt).data.at(0));
        if (poll != 0xFF)
            m_readAhead.append(char(poll));
    }
    return thenReadBit ? (m_readAhead.isEmpty() ? 1 : 0) : length;
}

bool W1Master::sendRaw(const QVector<W1Netlink::Command> &commands, QVector<W1Netlink::Reply> *replies)
{
    if (!netlinkProblem().isEmpty())
        return false;
    QStringList names;
    for (const W1Netlink::Command &command : commands) {
        switch (command.code) {
        case W1Netlink::Reset:
            names << QStringLiteral("reset");
            break;
        case W1Netlink::Write:
            names << QStringLiteral("write");
            break;
        case W1Netlink::Touch:
            names << QStringLiteral("touch");
            break;
        case W1Netlink::Read:
            names << QStringLiteral("read");
            break;
        default:
            names << QString::number(command.code);
            break;
        }
    }
    record(QStringLiteral("netlink ") + names.join(QLatin1Char(' ')));
    QString error;
    if (m_netlink->masterCommand(m_masterId, commands, replies, &error)) {
        for (int i = 0; i < commands.size() && error.isEmpty(); ++i) {
            const uint8_t status = replies->at(i).status;
            // A reset nobody answered: the device left, and its reads give ones.
            if (status != 0 && !(commands.at(i).code == W1Netlink::Reset && status == W1Netlink::kNoPresence))
                error = QStringLiteral("command %1 of the request failed with status %2").arg(names.at(i)).arg(status);
        }
        if (error.isEmpty())
            return true;
    }
    qCDebug(logWarning()).noquote() << QStringLiteral("w1: %1: netlink: %2").arg(m_name, error);
    replies->clear();
    return false;
}

void W1Master::probePower()
{
    QVector<Rom> unknown;
    for (const Rom &rom : qAsConst(m_roms)) {
        if (rawThermometer(rom) && !m_power.contains(W1Sysfs::nameFromRom(rom.data())))
            unknown << rom;
    }
    if (unknown.isEmpty() || !netlinkProblem().isEmpty())
        return;
    // Read Power Supply: a parasite-powered device pulls the read slot low.
    // A device that is not there leaves it high too, as one with its own
    // power does, so the same request reads its scratchpad: only a chip
    // whose nine bytes pass their CRC has answered, and only its answer is
    // kept. Until then it counts as unknown, is not converted and is asked
    // again at the next reset.
    QVector<W1Netlink::Command> commands;
    for (const Rom &rom : qAsConst(unknown)) {
        const QByteArray select =
            char(RomCommand::kMatch) + QByteArray(reinterpret_cast<const char *>(rom.data()), 8);
        commands.append({W1Netlink::Reset, QByteArray()});
        commands.append({W1Netlink::Write, select + char(kReadPowerSupply)});
        commands.append({W1Netlink::Read, QByteArray(1, char(0xFF))});
        commands.append({W1Netlink::Reset, QByteArray()});
        commands.append({W1Netlink::Write, select + char(kReadScratchpad)});
        commands.append({W1Netlink::Read, QByteArray(kScratchpadSize, char(0xFF))});
    }
    QVector<W1Netlink::Reply> replies;
    if (!sendRaw(commands, &replies))
        return;
    for (int i = 0; i < unknown.size(); ++i) {
        const int at = kProbeCommands * i;
        if (replies.at(at).status == W1Netlink::kNoPresence || replies.at(at + 3).status == W1Netlink::kNoPresence)
            continue;
        const QByteArray scratchpad = replies.at(at + 5).data;
        // A line held low reads zeros, whose CRC is zero as well.
        if (Crc::dallas8(scratchpad.left(8)) != uint8_t(scratchpad.at(8)) || scratchpad.count('\0') == kScratchpadSize)
            continue;
        const QString name = W1Sysfs::nameFromRom(unknown.at(i).data());
        const bool external = uint8_t(replies.at(at + 2).data.at(0)) & 1;
        m_power.insert(name, external ? Power::External : Power::Parasite);
        if (!external)
            qCInfo(logCritical()).noquote() << QStringLiteral("w1: %1: %2").arg(name, powerProblem(unknown.at(i)));
    }
}

bool W1Master::convertRawThermometers()
{
    QVector<W1Netlink::Command> commands;
    for (const Rom &rom : qAsConst(m_roms)) {
        if (!rawThermometer(rom) || m_power.value(W1Sysfs::nameFromRom(rom.data())) != Power::External)
            continue;
        QByteArray select(1, char(RomCommand::kMatch));
        select += QByteArray(reinterpret_cast<const char *>(rom.data()), 8);
        select += char(kConvertT);
        commands.append({W1Netlink::Reset, QByteArray()});
        commands.append({W1Netlink::Write, select});
    }
    // All in one request; the caller's wait covers them as it covers the
    // kernel's bulk conversion.
    QVector<W1Netlink::Reply> replies;
    if (!commands.isEmpty())
        sendRaw(commands, &replies);
    return !commands.isEmpty();
}

void W1Master::readScratchpad()
{
    const QString name = W1Sysfs::nameFromRom(m_roms.at(m_selected).data());
    const auto written = m_writtenScratchpad.constFind(name);
    if (written != m_writtenScratchpad.constEnd()) {
        m_toRead = written.value();
        m_phase = Phase::Reading;
        return;
    }
    const QString path = devicePath(m_roms.at(m_selected)) + QStringLiteral("/w1_slave");
    record(QStringLiteral("read %1/w1_slave").arg(name));
    QByteArray scratchpad;
    if (!QFile::exists(devicePath(m_roms.at(m_selected)))) {
        // Listed at the reset, its folder gone now: it answers nothing, as
        // on the wire. Said once until it is back.
        if (!m_goneFolders.contains(name)) {
            m_goneFolders << name;
            qCDebug(logInfo()).noquote()
                << QStringLiteral("w1: %1 %2: listed, but its folder is gone; not read").arg(m_name, name);
        }
    } else if (!QFile::exists(path)) {
        unreachable(m_roms.at(m_selected), kReadScratchpad);
    } else if (QString why; !W1Sysfs::scratchpadFromText(readFile(path), &scratchpad, &why)) {
        // Empty while a bulk conversion runs or after a failed read; cut
        // short when the device left mid-read; refused by the kernel's own
        // CRC check. The device answers nothing.
        qCDebug(logWarning()).noquote()
            << QStringLiteral("w1: %1 %2: w1_slave gave no scratchpad: %3").arg(m_name, name, why);
    }
    m_toRead = scratchpad.size() == kScratchpadSize ? scratchpad : QByteArray();
    if (!m_toRead.isEmpty())
        m_lastScratchpad.insert(name, m_toRead);
    m_phase = Phase::Reading;
}

bool W1Master::triggerBulk()
{
    const QString path = W1Sysfs::masterDir(m_name) + QStringLiteral("/therm_bulk_read");
    if (m_bulkRefused || !QFile::exists(path))
        return false;
    if (!W1Sysfs::writable(path) || !writeAttribute(path, QByteArrayLiteral("trigger\n"))) {
        // Only root may write it: each device then converts on its read.
        m_bulkRefused = true;
        qCInfo(logInfo()) << "w1:" << m_name << "therm_bulk_read may not be written; each thermometer converts on its read";
        return false;
    }
    record(QStringLiteral("write therm_bulk_read trigger"));
    return true;
}

void W1Master::writeScratchpadDone()
{
    m_phase = Phase::Idle;
    // The kernel sets the resolution from a number of bits; the alarm bytes
    // the drivers write back unchanged.
    const int bits = 9 + ((uint8_t(m_written.at(2)) >> 5) & 3);
    const Rom rom = m_roms.at(m_selected);
    const QString path = devicePath(rom) + QStringLiteral("/w1_slave");
    if (W1Sysfs::writable(path) && writeAttribute(path, QByteArray::number(bits) + '\n')) {
        const QString name = W1Sysfs::nameFromRom(rom.data());
        record(QStringLiteral("write %1/w1_slave %2").arg(name).arg(bits));
        // The written bytes are in the chip's scratchpad now: a read that
        // checks them is answered from here.
        QByteArray scratchpad = m_lastScratchpad.value(name);
        if (scratchpad.size() == kScratchpadSize) {
            scratchpad.replace(2, 3, m_written.left(3));
            scratchpad[8] = char(Crc::dallas8(scratchpad.left(8)));
            m_writtenScratchpad.insert(name, scratchpad);
        }
        return;
    }
    const QString key = W1Sysfs::nameFromRom(rom.data()) + QStringLiteral("/resolution");
    if (!m_warned.contains(key)) {
        m_warned << key;
        qCInfo(logInfo()) << "w1:" << W1Sysfs::nameFromRom(rom.data()) << "keeps its resolution:"
                          << "only root may write w1_slave; the readings are right at any resolution";
    }
}

void W1Master::copyScratchpad()
{
    const Rom rom = m_roms.at(m_selected);
    const QString path = devicePath(rom) + QStringLiteral("/w1_slave");
    m_writtenScratchpad.remove(W1Sysfs::nameFromRom(rom.data()));
    if (W1Sysfs::writable(path) && writeAttribute(path, QByteArrayLiteral("0\n")))
        record(QStringLiteral("write %1/w1_slave 0").arg(W1Sysfs::nameFromRom(rom.data())));
}

bool W1Master::writeAttribute(const QString &path, const QByteArray &text)
{
    QFile file(path);
    // One write: the kernel takes a sysfs attribute in one piece.
    return file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) && file.write(text) == text.size();
}

void W1Master::unreachable(const Rom &rom, uint8_t command)
{
    const QString name = W1Sysfs::nameFromRom(rom.data());
    if (m_warned.contains(name))
        return;
    m_warned << name;
    if (W1Sysfs::thermFamily(rom.at(0)) && QFile::exists(devicePath(rom) + QStringLiteral("/w1_slave"))) {
        // A probe beyond the scratchpad (the MAX31850 driver asks whether the
        // chip is a Pt100 emulator): answered as by a chip that has no such
        // command, and the device is still read.
        qCDebug(logInfo()).noquote() << QStringLiteral("w1: %1 command 0x%2 needs raw access; answered with ones")
                                            .arg(name)
                                            .arg(command, 2, 16, QLatin1Char('0'));
        return;
    }
    const QString why = deviceProblem(rom.data());
    qCInfo(logCritical()).noquote() << QStringLiteral("w1: %1 not read (command 0x%2): %3")
                                           .arg(name)
                                           .arg(command, 2, 16, QLatin1Char('0'))
                                           .arg(why.isEmpty() ? QStringLiteral("питание от линии данных: its power "
                                                                               "source could not be read, so it is not "
                                                                               "converted without the strong pull-up")
                                                              : why);
}

void W1Master::setOverdriveTiming(bool on)
{
    m_overdrive = on;
}

bool W1Master::overdriveTiming() const
{
    return m_overdrive;
}

void W1Master::setStrongPullup(bool)
{
    // The kernel applies the strong pull-up itself where a device needs it.
}

int W1Master::searchTriplets(const uint8_t path[8], uint8_t rom[8], uint8_t discrepancies[8])
{
    if (!m_present)
        return -1;
    m_phase = Phase::Idle;
    m_pending.clear();
    m_readAhead.clear();
    std::memset(rom, 0, 8);
    std::memset(discrepancies, 0, 8);
    // Only a Search ROM walks the list: after any other command (an Alarm
    // Search the kernel cannot run) no device answers.
    if (!m_searchWalks)
        return 0;
    m_searchWalks = false;
    QVector<int> taking;
    for (int i = 0; i < m_roms.size(); ++i)
        taking << i;
    for (int bit = 0; bit < 64; ++bit) {
        bool zero = false, one = false;
        for (int i : taking) {
            if (romBit(m_roms.at(i).data(), bit))
                one = true;
            else
                zero = true;
        }
        if (!zero && !one)
            return 0;
        int direction = one ? 1 : 0;
        if (zero && one) {
            setRomBit(discrepancies, bit, 1);
            direction = romBit(path, bit);
        }
        setRomBit(rom, bit, direction);
        QVector<int> staying;
        for (int i : taking) {
            if (romBit(m_roms.at(i).data(), bit) == direction)
                staying << i;
        }
        taking.swap(staying);
    }
    // At the end of a search the device found alone is selected.
    m_selected = taking.value(0, -1);
    m_all = false;
    m_phase = m_selected >= 0 ? Phase::Function : Phase::Idle;
    return 1;
}
