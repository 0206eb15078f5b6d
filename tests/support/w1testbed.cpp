#include "support/w1testbed.h"

// First: glib's headers name a member "signals", which Qt defines as a word.
#include <umockdev.h>

#include "base/clock.h"
#include "bus/crc.h"
#include "bus/romcommands.h"
#include "bus/w1sysfs.h"
#include "sim/simbus.h"
#include "sim/simdevice.h"

#include <QDir>
#include <QFile>
#include <sys/stat.h>

namespace {

const uint8_t kConvertT = 0x44;
const uint8_t kReadScratchpad = 0xBE;
const int kConversionMs = 750;

// Reset and Match ROM on the simulated wire; false when nobody answered.
bool select(SimBus &bus, const QByteArray &rom)
{
    if (bus.reset() != 1)
        return false;
    QByteArray run = char(RomCommand::kMatch) + rom;
    return bus.touchBlock(reinterpret_cast<uint8_t *>(run.data()), run.size()) == run.size();
}

} // namespace

W1TestBed::W1TestBed()
{
    m_testbed = umockdev_testbed_new();
    gchar *root = umockdev_testbed_get_root_dir(m_testbed);
    m_root = QString::fromUtf8(root);
    g_free(root);
    QDir().mkpath(m_root + QStringLiteral("/sys/bus/w1/devices"));
}

W1TestBed::~W1TestBed()
{
    g_object_unref(m_testbed);
}

QString W1TestBed::hostPath(const QString &relative) const
{
    return m_root + QStringLiteral("/sys/bus/w1/devices/") + relative;
}

void W1TestBed::addMaster(const QString &name, bool bulk)
{
    // As the kernel lays it out: the device under /sys/devices, a link to it
    // among the bus's devices.
    const QString dir = m_root + QStringLiteral("/sys/devices/") + name;
    QDir().mkpath(dir);
    QFile::link(QStringLiteral("../../../devices/") + name, hostPath(name));
    setFile(name + QStringLiteral("/w1_master_name"), name.toLatin1() + '\n');
    if (bulk) {
        setFile(name + QStringLiteral("/therm_bulk_read"), "0\n");
        setMode(name + QStringLiteral("/therm_bulk_read"), 0644);
    }
}

void W1TestBed::removeMaster(const QString &name)
{
    QFile::remove(hostPath(name));
    QDir(m_root + QStringLiteral("/sys/devices/") + name).removeRecursively();
}

void W1TestBed::addDevice(const QString &master, const QString &name, const QByteArray &slaveText)
{
    QDir().mkpath(hostPath(master + QLatin1Char('/') + name));
    QFile::link(QStringLiteral("../../../devices/%1/%2").arg(master, name), hostPath(name));
    if (!slaveText.isNull()) {
        setFile(master + QLatin1Char('/') + name + QStringLiteral("/w1_slave"), slaveText);
        setMode(master + QLatin1Char('/') + name + QStringLiteral("/w1_slave"), 0644);
    }
}

void W1TestBed::removeDevice(const QString &master, const QString &name)
{
    QFile::remove(hostPath(name));
    QDir(hostPath(master + QLatin1Char('/') + name)).removeRecursively();
}

QByteArray W1TestBed::slaveText(const QByteArray &scratchpad)
{
    QByteArray hex;
    for (char byte : scratchpad)
        hex += QByteArray::number(uint8_t(byte), 16).rightJustified(2, '0') + ' ';
    const uint8_t crc = Crc::dallas8(reinterpret_cast<const uint8_t *>(scratchpad.constData()), 8);
    const bool good = scratchpad.size() == 9 && crc == uint8_t(scratchpad.at(8));
    const int16_t raw = int16_t(uint8_t(scratchpad.at(0)) | uint8_t(scratchpad.at(1)) << 8);
    return hex + ": crc=" + QByteArray::number(crc, 16).rightJustified(2, '0') + (good ? " YES\n" : " NO\n") + hex
        + "t=" + QByteArray::number(raw * 1000 / 16) + '\n';
}

void W1TestBed::addSimBus(const QString &master, SimBus &bus)
{
    for (int i = 0; i < bus.deviceCount(); ++i) {
        const QByteArray rom = bus.device(i)->rom();
        const QString name = W1Sysfs::nameFromRom(reinterpret_cast<const uint8_t *>(rom.constData()));
        if (!W1Sysfs::thermFamily(uint8_t(rom.at(0)))) {
            addDevice(master, name);
            continue;
        }
        // What w1_therm does for a read of w1_slave: convert (the strong
        // pull-up during the conversion), then read the scratchpad.
        QByteArray scratchpad(9, char(0xFF));
        if (select(bus, rom)) {
            bus.setStrongPullup(true);
            bus.touchByte(kConvertT);
            Clock::sleepMs(kConversionMs);
            bus.setStrongPullup(false);
        }
        if (select(bus, rom)) {
            QByteArray run = char(kReadScratchpad) + QByteArray(9, char(0xFF));
            bus.touchBlock(reinterpret_cast<uint8_t *>(run.data()), run.size());
            scratchpad = run.mid(1);
        }
        addDevice(master, name, slaveText(scratchpad));
    }
}

QByteArray W1TestBed::file(const QString &relative) const
{
    QFile f(hostPath(relative));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void W1TestBed::setFile(const QString &relative, const QByteArray &contents)
{
    QFile f(hostPath(relative));
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(contents) != contents.size())
        qFatal("cannot write %s", qPrintable(f.fileName()));
}

void W1TestBed::setMode(const QString &relative, int mode)
{
    ::chmod(QFile::encodeName(hostPath(relative)).constData(), mode_t(mode));
}
