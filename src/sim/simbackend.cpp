#include "sim/simbackend.h"

#include "base/clock.h"
#include "sim/simdevice.h"

#include <QStringList>

namespace {

QString hex(int value)
{
    return QStringLiteral("0x") + QString::number(value & 0xFFFF, 16).toUpper().rightJustified(2, QLatin1Char('0'));
}

QByteArray romBytes(const uint8_t rom[8])
{
    return QByteArray(reinterpret_cast<const char *>(rom), 8);
}

} // namespace

QString TrafficEntry::text() const
{
    QStringList parts;
    for (int a : args)
        parts << hex(a);
    QString line = call + QLatin1Char('(') + parts.join(QStringLiteral(", ")) + QStringLiteral(") -> ")
                   + QString::number(result);
    if (!rom.isEmpty()) {
        QStringList bytes;
        for (short b : rom)
            bytes << QString::number(b & 0xFF, 16).toUpper().rightJustified(2, QLatin1Char('0'));
        line += QStringLiteral(" [") + bytes.join(QLatin1Char(' ')) + QLatin1Char(']');
    }
    return line;
}

SimBackend::SimBackend()
    : WireBackend(&m_bus)
{
}

SimBackend::~SimBackend() = default;

void SimBackend::reportTwice(SimDevice *device, int passes)
{
    if (device)
        m_twicePasses.insert(device->rom(), passes);
}

void SimBackend::failRomReads(SimDevice *device, int count)
{
    if (device)
        m_failRomCounts.insert(device->rom(), count);
}

QByteArray SimBackend::touchedBytes(int from) const
{
    QByteArray bytes;
    for (int i = qMax(0, from); i < m_traffic.size(); ++i) {
        const TrafficEntry &e = m_traffic.at(i);
        if (e.call == QLatin1String("TMTouchByte") && !e.args.isEmpty())
            bytes.append(char(e.args.at(0)));
    }
    return bytes;
}

int SimBackend::callCount(const QString &call) const
{
    int count = 0;
    for (const TrafficEntry &e : m_traffic)
        count += e.call == call ? 1 : 0;
    return count;
}

QString SimBackend::trafficText(int from) const
{
    QStringList lines;
    for (int i = qMax(0, from); i < m_traffic.size(); ++i)
        lines << m_traffic.at(i).text();
    return lines.join(QLatin1Char('\n'));
}

int SimBackend::log(const char *call, QVector<int> args, int result)
{
    if (m_logging) {
        TrafficEntry e;
        e.call = QLatin1String(call);
        e.args = std::move(args);
        e.result = result;
        e.timeUs = Clock::tickUs();
        m_traffic.append(e);
    }
    return result;
}

short SimBackend::readDefaultPort(short *portNum, short *portType)
{
    return short(log("TMReadDefaultPort", {}, WireBackend::readDefaultPort(portNum, portType)));
}

int32_t SimBackend::extendedStartSession(short portNum, short portType, void *options)
{
    const int32_t session = WireBackend::extendedStartSession(portNum, portType, options);
    m_freshSession = session > 0;
    return log("TMExtendedStartSession", {portNum, portType}, session);
}

short SimBackend::validSession(int32_t session)
{
    return short(log("TMValidSession", {}, WireBackend::validSession(session)));
}

short SimBackend::setup(int32_t session)
{
    short result = WireBackend::setup(session);
    if (result == 1 && m_freshSession)
        result = m_setupAfterStart;
    m_freshSession = false;
    return short(log("TMSetup", {}, result));
}

short SimBackend::autoOverDrive(int32_t session, void *state, short mode)
{
    return short(log("TMAutoOverDrive", {mode}, WireBackend::autoOverDrive(session, state, mode)));
}

short SimBackend::endSession(int32_t session)
{
    return short(log("TMEndSession", {}, WireBackend::endSession(session)));
}

short SimBackend::touchReset(int32_t session)
{
    return short(log("TMTouchReset", {}, WireBackend::touchReset(session)));
}

short SimBackend::touchByte(int32_t session, short outByte)
{
    return short(log("TMTouchByte", {outByte & 0xFF}, WireBackend::touchByte(session, outByte)));
}

short SimBackend::blockIO(int32_t session, unsigned char *buffer, short length)
{
    return BusBackend::blockIO(session, buffer, length);
}

short SimBackend::blockThenReadBit(int32_t session, unsigned char *buffer, short length)
{
    return BusBackend::blockThenReadBit(session, buffer, length);
}

short SimBackend::touchBit(int32_t session, short outBit)
{
    return short(log("TMTouchBit", {outBit}, WireBackend::touchBit(session, outBit)));
}

// Remembers when the search lands on the device that is to be reported twice.
void SimBackend::notePassResult(void *state, short result)
{
    uint8_t current[8];
    if (result != 1 || m_twicePasses.isEmpty() || !currentRom(state, current))
        return;
    const auto twice = m_twicePasses.find(romBytes(current));
    if (twice != m_twicePasses.end() && twice.value() > 0) {
        m_duplicatePending = true;
        --twice.value();
    }
}

short SimBackend::first(int32_t session, void *state)
{
    m_bus.beginSearchPass();
    m_duplicatePending = false;
    m_bus.setSearching(true);
    const short result = WireBackend::first(session, state);
    m_bus.setSearching(false);
    notePassResult(state, result);
    return short(log("TMFirst", {}, result));
}

short SimBackend::next(int32_t session, void *state)
{
    if (m_duplicatePending && sessionOk(session)) {
        // The driver reports the same device again, as a glitching adapter does.
        m_duplicatePending = false;
        return short(log("TMNext", {}, 1));
    }
    m_bus.setSearching(true);
    const short result = WireBackend::next(session, state);
    m_bus.setSearching(false);
    notePassResult(state, result);
    return short(log("TMNext", {}, result));
}

short SimBackend::firstAlarm(int32_t session, void *state)
{
    return short(log("TMFirstAlarm", {}, WireBackend::firstAlarm(session, state)));
}

short SimBackend::nextAlarm(int32_t session, void *state)
{
    return short(log("TMNextAlarm", {}, WireBackend::nextAlarm(session, state)));
}

short SimBackend::rom(int32_t session, void *state, short *romBuffer)
{
    QVector<int> args;
    for (int i = 0; romBuffer && i < 8; ++i)
        args << (romBuffer[i] & 0xFF);
    short result = -1;
    uint8_t current[8];
    if (romBuffer && romBuffer[0] == 0 && !m_failRomCounts.isEmpty() && sessionOk(session)
        && currentRom(state, current)) {
        const auto fail = m_failRomCounts.find(romBytes(current));
        if (fail != m_failRomCounts.end() && fail.value() > 0) {
            --fail.value();
            result = 0;
        }
    }
    if (result != 0)
        result = WireBackend::rom(session, state, romBuffer);
    log("TMRom", args, result);
    if (m_logging && romBuffer) {
        for (int i = 0; i < 8; ++i)
            m_traffic.last().rom << romBuffer[i];
    }
    return result;
}

short SimBackend::strongAccess(int32_t session, void *state)
{
    return short(log("TMStrongAccess", {}, WireBackend::strongAccess(session, state)));
}

short SimBackend::strongAccessThenBlock(int32_t session, void *state, unsigned char *buffer, short length)
{
    return BusBackend::strongAccessThenBlock(session, state, buffer, length);
}

short SimBackend::access(int32_t session, void *state)
{
    return short(log("TMAccess", {}, WireBackend::access(session, state)));
}

short SimBackend::oneWireLevel(int32_t session, short operation, short levelType, short primed)
{
    return short(log("TMOneWireLevel", {operation, levelType, primed},
                     WireBackend::oneWireLevel(session, operation, levelType, primed)));
}

short SimBackend::crc(short length, unsigned char *buffer, unsigned short seed, short crcType)
{
    return short(log("TMCRC", {length, seed, crcType}, WireBackend::crc(length, buffer, seed, crcType)));
}

QString SimBackend::description() const
{
    return QStringLiteral("simulated bus, %1 devices").arg(const_cast<SimBackend *>(this)->bus().deviceCount());
}

QStringList SimBackend::deviceOptions(const uint8_t rom[8]) const
{
    const SimDevice *device = m_bus.findDevice(QByteArray(reinterpret_cast<const char *>(rom), 8));
    return device ? device->options() : QStringList();
}
