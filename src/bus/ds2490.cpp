#include "bus/ds2490.h"

#include "base/logging.h"
#include "bus/crc.h"
#include "bus/romcommands.h"
#include "bus/usbadapters.h"

#include <libusb.h>

#include <cstring>

namespace {

// Every command is a vendor control transfer, host to device, to the device
// (bmRequestType 0x40); bRequest says which of the three command groups it is.
const uint8_t kVendorOut = 0x40;
const uint8_t kControlCmd = 0x00; // CONTROL: manage the chip and its command processing
const uint8_t kCommCmd = 0x01;    // COMM: 1-Wire communication, wValue with embedded bits
const uint8_t kModeCmd = 0x02;    // MODE: 1-Wire characteristics, wIndex the value

// CONTROL commands (wValue).
const uint16_t kCtlResetDevice = 0x0000; // software reset: modes to power-on defaults, FIFOs cleared
const uint16_t kCtlResumeExe = 0x0002;   // go on processing communication commands
const uint16_t kCtlHaltExeIdle = 0x0003; // halt when idle; also ends an infinite strong pull-up

// MODE commands (wValue; the new setting in wIndex).
const uint16_t kModPulseEnable = 0x0000;       // enable strong pull-up (bit 1) / programming pulse (bit 0)
const uint16_t kModSpeedChangeEnable = 0x0001; // allow the SE bit of a 1-Wire reset to change the speed
const uint16_t kModOneWireSpeed = 0x0002;      // 0 regular, 1 flexible, 2 overdrive
const uint16_t kModPullupDuration = 0x0003;    // strong pull-up time in 16 ms units, 0 infinite
const uint16_t kPulseSpue = 0x02;

// COMM commands: byte 1 (bits 7..0 of wValue) holds the command in its upper
// bits and the embedded bits IM (bit 0) and D/SE/SM (bit 3); byte 2 (bits
// 15..8) holds RST, ICP, NTF, F, SPU, DT and PS/CIB/RTS.
const uint16_t kCommBitIo = 0x0020;     // one time slot writing D, the bit read goes to EP3
const uint16_t kCommReset = 0x0042;     // 1-Wire reset; wIndex the speed from then on when SE = 1
const uint16_t kCommByteIo = 0x0052;    // eight slots writing wIndex, the byte read goes to EP3
const uint16_t kCommBlockIo = 0x0074;   // wIndex bytes from EP2 onto the bus, what came back to EP3
const uint16_t kCommSearchAccess = 0x00F4; // a Search ROM run by the chip along the ROM in EP2
const uint16_t kImmediate = 0x0001;     // IM: execute now (the data it needs is already in EP2)
const uint16_t kBitD = 0x0008;          // D: the bit value of BIT I/O
const uint16_t kBitSe = 0x0008;         // SE: a reset changes the speed to wIndex
const uint16_t kBitSm = 0x0008;         // SM: search only, report ROMs instead of selecting one
const uint16_t kBitRst = 0x0100;        // RST: a 1-Wire reset before the command
const uint16_t kBitNtf = 0x0400;        // NTF: a result byte even when there is no error
const uint16_t kBitF = 0x0800;          // F: clear the FIFOs when the previous command failed
const uint16_t kBitSpu = 0x1000;        // SPU: strong pull-up after the last bit
const uint16_t kBitRts = 0x4000;        // RTS: the search returns its discrepancy information

// Endpoints of interface 0.
const unsigned char kEpStatus = 0x81;   // EP1, interrupt IN: state and result registers
const unsigned char kEpDataOut = 0x02;  // EP2, bulk OUT: data for the 1-Wire bus
const unsigned char kEpDataIn = 0x83;   // EP3, bulk IN: data from the 1-Wire bus
const int kInterface = 0;
// Alternate setting 3: EP1 polled every millisecond, 64-byte bulk packets.
const int kAltSetting = 3;
const int kPacket = 64;
// The state registers (16 bytes) and up to 16 result bytes.
const int kStatusSize = 32;

// State register 0x08, the device status flags.
const uint8_t kStSpua = 0x01; // strong pull-up active
const uint8_t kStIdle = 0x20; // no command being processed
const uint8_t kStEp0f = 0x80; // EP0 FIFO overflowed: a setup packet was lost, needs CTL_RESET_DEVICE

// Result register bytes.
const uint8_t kRrDetect = 0xA5; // a device arrived (not a result)
const uint8_t kRrNrs = 0x01;    // no presence pulse after a reset
const uint8_t kRrSh = 0x02;     // the bus is shorted
// (0x04 APP, an alarming presence pulse, is a presence like any other.)
const uint8_t kRrEos = 0x80;    // the search found fewer devices than asked for

const uint16_t kSpeedRegular = 0x00;
const uint16_t kSpeedOverdrive = 0x02;

// TMEX's port type for a DS9490 USB adapter.
const short kPortType = 6;

// Enough polls for the longest command (a search at standard speed takes about 15 ms).
const int kMaxPolls = 500;

const char *errorText(int error)
{
    return libusb_strerror(libusb_error(error));
}

} // namespace

Ds2490::Ds2490(const QString &selector)
    : m_selector(selector)
{
}

Ds2490::~Ds2490()
{
    close();
}

QString Ds2490::name() const
{
    const QString where = !m_position.isEmpty() ? m_position : m_selector;
    if (where.isEmpty())
        return QStringLiteral("USB 1-Wire adapter (DS2490)");
    return QStringLiteral("USB 1-Wire adapter (DS2490) %1").arg(where);
}

void Ds2490::setProblem(const QString &text)
{
    if (text != m_problem && !text.isEmpty())
        qCDebug(logCritical()) << text;
    m_problem = text;
}

bool Ds2490::defaultPort(short *portNum, short *portType) const
{
    *portNum = 0;
    *portType = kPortType;
    return true;
}

bool Ds2490::connected() const
{
    // Looked for again on every set-up, so a session may always try.
    return true;
}

void Ds2490::releaseHandle()
{
    if (m_handle) {
        libusb_release_interface(m_handle, kInterface);
        if (m_reattach)
            libusb_attach_kernel_driver(m_handle, kInterface);
        libusb_close(m_handle);
        m_handle = nullptr;
    }
    m_reattach = false;
    m_pullupOn = false;
    m_armed = false;
}

void Ds2490::close()
{
    releaseHandle();
    m_searchSlotBySlot = false;
    if (m_context) {
        libusb_exit(m_context);
        m_context = nullptr;
    }
}

int Ds2490::fail(int libusbError, const char *what)
{
    QString remedy;
    switch (libusbError) {
    case LIBUSB_ERROR_NO_DEVICE:
        remedy = QStringLiteral("the adapter is gone (unplugged?); it is used again once it is back");
        break;
    case LIBUSB_ERROR_PIPE:
        remedy = QStringLiteral("the adapter stalled an endpoint; it is reset and opened again (plug it in "
                                "again if this keeps happening)");
        break;
    case LIBUSB_ERROR_TIMEOUT:
        remedy = QStringLiteral("the adapter did not answer in time; it is opened again (plug it in again if "
                                "this keeps happening)");
        break;
    default:
        remedy = QStringLiteral("%1 failed (%2); the adapter is opened again").arg(QLatin1String(what),
                                                                                 QLatin1String(errorText(libusbError)));
        break;
    }
    setProblem(QStringLiteral("%1: %2").arg(name(), remedy));
    releaseHandle();
    return -1;
}

int Ds2490::resync(const QString &why)
{
    setProblem(QStringLiteral("%1: %2; the adapter was reset").arg(name(), why));
    if (m_handle && !initialiseChip())
        return -1;
    return -1;
}

bool Ds2490::open()
{
    close();
    if (libusb_init(&m_context) != 0) {
        m_context = nullptr;
        setProblem(QStringLiteral("USB cannot be used here (libusb could not start)"));
        return false;
    }
    libusb_device **list = nullptr;
    const ssize_t count = libusb_get_device_list(m_context, &list);
    QString lastProblem;
    bool any = false;
    for (ssize_t i = 0; i < count && !m_handle; ++i) {
        libusb_device_descriptor descriptor;
        if (libusb_get_device_descriptor(list[i], &descriptor) != 0 || descriptor.idVendor != UsbAdapters::kVendorId
            || descriptor.idProduct != UsbAdapters::kProductId)
            continue;
        const QString where = UsbAdapters::position(list[i]);
        if (!selectsBySerial() && !m_selector.isEmpty() && where != m_selector)
            continue;
        any = true;
        m_position = where;
        if (!claim(list[i], &lastProblem))
            continue;
        if (!initialiseChip()) {
            lastProblem = m_problem;
            releaseHandle();
            continue;
        }
        if (selectsBySerial() && !idChipMatches())
            releaseHandle();
    }
    if (list)
        libusb_free_device_list(list, 1);
    if (m_handle) {
        setProblem(QString());
        return true;
    }
    m_position.clear();
    if (!lastProblem.isEmpty())
        setProblem(lastProblem);
    else if (!any && m_selector.isEmpty())
        setProblem(QStringLiteral("no USB 1-Wire adapter (DS2490, 04FA:2490) is plugged in"));
    else
        setProblem(QStringLiteral("%1: not plugged in").arg(name()));
    close();
    return false;
}

bool Ds2490::selectsBySerial() const
{
    return !m_selector.isEmpty() && !m_selector.contains(QLatin1Char('-'));
}

bool Ds2490::claim(libusb_device *device, QString *problem)
{
    int error = libusb_open(device, &m_handle);
    if (error != 0) {
        m_handle = nullptr;
        if (error == LIBUSB_ERROR_ACCESS)
            *problem = QStringLiteral("%1: permission denied; install the udev rule 60-orvex.rules (see the "
                                      "README) and plug the adapter in again").arg(name());
        else
            *problem = QStringLiteral("%1: cannot be opened (%2)").arg(name(), QLatin1String(errorText(error)));
        return false;
    }
    if (libusb_kernel_driver_active(m_handle, kInterface) == 1) {
        error = libusb_detach_kernel_driver(m_handle, kInterface);
        if (error == 0) {
            m_reattach = true;
            if (!m_detachSaid)
                qCInfo(logCritical()) << name() << "was held by the kernel's ds2490 driver; detached it for now, it"
                                      << "gets the adapter back when this program lets it go";
            m_detachSaid = true;
        }
    }
    error = libusb_claim_interface(m_handle, kInterface);
    if (error == 0)
        error = libusb_set_interface_alt_setting(m_handle, kInterface, kAltSetting);
    // A halted endpoint stays halted until the host clears it (after a stall).
    for (unsigned char endpoint : {kEpStatus, kEpDataOut, kEpDataIn}) {
        if (error == 0)
            error = libusb_clear_halt(m_handle, endpoint);
    }
    if (error == 0)
        return true;
    if (error == LIBUSB_ERROR_BUSY)
        *problem = QStringLiteral("%1: held by another program (owserver, another orvex?); close it and "
                                  "the adapter is used on the next tick").arg(name());
    else if (error == LIBUSB_ERROR_ACCESS)
        *problem = QStringLiteral("%1: permission denied; install the udev rule 60-orvex.rules (see the "
                                  "README) and plug the adapter in again").arg(name());
    else
        *problem = QStringLiteral("%1: cannot be claimed (%2)").arg(name(), QLatin1String(errorText(error)));
    if (m_reattach)
        libusb_attach_kernel_driver(m_handle, kInterface);
    m_reattach = false;
    libusb_close(m_handle);
    m_handle = nullptr;
    return false;
}

bool Ds2490::idChipMatches()
{
    // The ID chip's serial as the window shows it (CRC byte first) or in bus order.
    const QString reversed = idChipSerial();
    QString forward;
    for (int k = reversed.size() - 2; k >= 0; k -= 2)
        forward += reversed.mid(k, 2);
    return !reversed.isEmpty()
           && (reversed.compare(m_selector, Qt::CaseInsensitive) == 0
               || forward.compare(m_selector, Qt::CaseInsensitive) == 0);
}

bool Ds2490::initialiseChip()
{
    m_pullupOn = false;
    m_armed = false;
    // Power-on defaults, then: strong pull-up allowed, of infinite duration
    // (this master ends it), speed changes by a reset allowed, regular speed.
    if (!command(kControlCmd, kCtlResetDevice, 0) || !command(kModeCmd, kModPulseEnable, kPulseSpue)
        || !command(kModeCmd, kModPullupDuration, 0) || !command(kModeCmd, kModSpeedChangeEnable, 1)
        || !command(kModeCmd, kModOneWireSpeed, m_overdrive ? kSpeedOverdrive : kSpeedRegular))
        return false;
    Status status;
    return waitIdle(&status);
}

bool Ds2490::setUp()
{
    if (m_handle) {
        Status status;
        if (endPullup() && readStatus(&status))
            return true;
    }
    return open();
}

bool Ds2490::command(uint8_t request, uint16_t value, uint16_t index)
{
    if (!m_handle)
        return false;
    const int result = libusb_control_transfer(m_handle, kVendorOut, request, value, index, nullptr, 0,
                                               unsigned(m_timeoutMs));
    if (result < 0) {
        fail(result, "a control transfer");
        return false;
    }
    return true;
}

bool Ds2490::readStatus(Status *status)
{
    if (!m_handle)
        return false;
    unsigned char buffer[kStatusSize];
    int length = 0;
    const int result = libusb_interrupt_transfer(m_handle, kEpStatus, buffer, kStatusSize, &length,
                                                 unsigned(m_timeoutMs));
    if (result < 0) {
        fail(result, "reading the status");
        return false;
    }
    if (length < 16) {
        fail(LIBUSB_ERROR_IO, "reading the status");
        return false;
    }
    status->flags = buffer[8];
    status->waitingIn = buffer[13];
    for (int i = 16; i < length; ++i) {
        if (buffer[i] != kRrDetect)
            status->results.append(char(buffer[i]));
    }
    return true;
}

bool Ds2490::waitIdle(Status *status, bool pullupDone)
{
    *status = Status();
    for (int poll = 0; poll < kMaxPolls; ++poll) {
        Status now;
        if (!readStatus(&now))
            return false;
        status->flags = now.flags;
        status->waitingIn = now.waitingIn;
        status->results += now.results;
        if (now.flags & kStEp0f) {
            resync(QStringLiteral("a command was lost (EP0F)"));
            return false;
        }
        if ((now.flags & kStIdle) || (pullupDone && (now.flags & kStSpua)))
            return true;
    }
    fail(LIBUSB_ERROR_TIMEOUT, "waiting for the adapter");
    return false;
}

bool Ds2490::waitPullupEnded()
{
    for (int poll = 0; poll < kMaxPolls; ++poll) {
        Status now;
        if (!readStatus(&now))
            return false;
        if (now.flags & kStEp0f) {
            resync(QStringLiteral("a command was lost (EP0F)"));
            return false;
        }
        if (!(now.flags & kStSpua))
            return true;
    }
    fail(LIBUSB_ERROR_TIMEOUT, "waiting for the strong pull-up to end");
    return false;
}

bool Ds2490::readResult(uint8_t *data, int length, bool pullupDone)
{
    // EP3 is read only once the status says the bytes are there; what the
    // chip does with a read before is not documented. A zero-length packet
    // all the same is taken as "not yet" and the read tried again.
    for (int poll = 0; poll < kMaxPolls; ++poll) {
        Status status;
        if (!waitIdle(&status, pullupDone))
            return false;
        if (status.waitingIn < length)
            continue;
        int got = 0;
        if (!bulkIn(data, length, &got))
            return false;
        if (got == length)
            return true;
        if (got > 0)
            return resync(QStringLiteral("the adapter gave %1 of %2 bytes").arg(got).arg(length)) > 0;
    }
    fail(LIBUSB_ERROR_TIMEOUT, "waiting for data from the adapter");
    return false;
}

bool Ds2490::bulkOut(const uint8_t *data, int length)
{
    int done = 0;
    const int result = libusb_bulk_transfer(m_handle, kEpDataOut, const_cast<unsigned char *>(data), length, &done,
                                            unsigned(m_timeoutMs));
    if (result < 0) {
        fail(result, "writing data");
        return false;
    }
    if (done != length) {
        fail(LIBUSB_ERROR_IO, "writing data");
        return false;
    }
    return true;
}

bool Ds2490::bulkIn(uint8_t *data, int length, int *got)
{
    *got = 0;
    while (*got < length) {
        int done = 0;
        const int piece = std::min(kPacket, length - *got);
        const int result = libusb_bulk_transfer(m_handle, kEpDataIn, data + *got, piece, &done, unsigned(m_timeoutMs));
        if (result < 0) {
            fail(result, "reading data");
            return false;
        }
        if (done <= 0)
            return true;
        *got += done;
    }
    return true;
}

bool Ds2490::flushSearchCommand()
{
    if (!m_searchPending)
        return true;
    m_searchPending = false;
    // The command byte itself never carries an armed pull-up.
    const bool armed = m_armed;
    m_armed = false;
    uint8_t command = RomCommand::kSearch;
    const bool sent = touchBlock(&command, 1) == 1;
    m_armed = armed;
    return sent;
}

bool Ds2490::endPullup()
{
    if (!m_pullupOn)
        return true;
    m_pullupOn = false;
    // An infinite strong pull-up ends with HALT EXECUTION; RESUME EXECUTION
    // lets the chip take commands again.
    if (!command(kControlCmd, kCtlHaltExeIdle, 0) || !command(kControlCmd, kCtlResumeExe, 0))
        return false;
    // Over once SPUA has cleared (the chip may say IDLE before that).
    return waitPullupEnded();
}

int Ds2490::reset()
{
    m_searchPending = false;
    m_afterReset = false;
    if (!m_handle || !endPullup())
        return -1;
    m_armed = false;
    // NTF: a result byte every time, so presence is told apart from silence.
    const uint16_t value = kCommReset | kImmediate | kBitF | kBitNtf | kBitSe;
    if (!command(kCommCmd, value, m_overdrive ? kSpeedOverdrive : kSpeedRegular))
        return -1;
    Status status;
    if (!waitIdle(&status))
        return -1;
    if (status.results.isEmpty())
        return resync(QStringLiteral("a 1-Wire reset brought no result"));
    const uint8_t result = uint8_t(status.results.back());
    if (result & kRrSh) {
        setProblem(QStringLiteral("%1: the 1-Wire bus is shorted").arg(name()));
        return 0;
    }
    if (result & kRrNrs)
        return 0;
    m_afterReset = true;
    return 1;
}

int Ds2490::touchBit(int bit)
{
    if (!m_handle || !endPullup() || !flushSearchCommand())
        return -1;
    m_afterReset = false;
    if (!command(kCommCmd, kCommBitIo | kImmediate | (bit ? kBitD : 0), 0))
        return -1;
    // The bit read is the one byte the slot puts into EP3.
    uint8_t read = 0;
    if (!readResult(&read, 1))
        return -1;
    if (read > 1 || (!bit && read))
        return resync(QStringLiteral("a time slot read back garbled"));
    return read;
}

int Ds2490::touchByte(int byte)
{
    // A Search ROM command byte right after a reset waits: when the pass
    // itself follows, the chip's SEARCH ACCESS sends it; anything else sends
    // it first. Written after a reset, the command byte reads back as written.
    if (m_afterReset && (byte & 0xFF) == RomCommand::kSearch && !m_armed && m_handle) {
        m_afterReset = false;
        m_searchPending = true;
        return RomCommand::kSearch;
    }
    uint8_t one = uint8_t(byte & 0xFF);
    return touchBlock(&one, 1) == 1 ? one : -1;
}

int Ds2490::touchBlock(uint8_t *bytes, int length)
{
    if (!m_handle || !endPullup() || !flushSearchCommand())
        return -1;
    m_afterReset = false;
    for (int at = 0; at < length; at += kPacket) {
        const int piece = std::min(kPacket, length - at);
        const bool last = at + piece == length;
        const bool pullup = last && m_armed;
        uint16_t value;
        uint16_t index;
        if (piece == 1) {
            // One byte travels in the setup packet itself.
            value = kCommByteIo | kImmediate;
            index = bytes[at];
        } else {
            if (!bulkOut(bytes + at, piece))
                return -1;
            value = kCommBlockIo | kImmediate;
            index = uint16_t(piece);
        }
        if (pullup)
            value |= kBitSpu;
        if (!command(kCommCmd, value, index))
            return -1;
        // Exactly the bytes the command puts into EP3.
        uint8_t back[kPacket];
        if (!readResult(back, piece, pullup))
            return -1;
        for (int i = 0; i < piece; ++i) {
            // A bit written as 0 holds the line low: a 1 there is garbled.
            if (back[i] & ~bytes[at + i])
                return resync(QStringLiteral("a byte read back garbled"));
            bytes[at + i] = back[i];
        }
        // The pull-up (of infinite duration) now holds the line.
        if (pullup)
            m_pullupOn = true;
    }
    return length;
}

void Ds2490::setOverdriveTiming(bool on)
{
    if (on == m_overdrive)
        return;
    flushSearchCommand();
    m_overdrive = on;
    // The chip's own timing follows at once, so the next reset already runs
    // at the new speed (its SE bit and speed byte say the same).
    if (m_handle && endPullup())
        command(kModeCmd, kModOneWireSpeed, on ? kSpeedOverdrive : kSpeedRegular);
}

void Ds2490::setStrongPullup(bool armed)
{
    m_armed = armed;
    if (!armed && m_handle)
        endPullup();
}

int Ds2490::searchTriplets(const uint8_t path[8], uint8_t rom[8], uint8_t discrepancies[8])
{
    return searchAccess(path, rom, discrepancies, RomCommand::kSearch);
}

int Ds2490::searchAccess(const uint8_t path[8], uint8_t rom[8], uint8_t discrepancies[8], uint8_t searchCommand)
{
    std::memset(rom, 0, 8);
    std::memset(discrepancies, 0, 8);
    if (!m_handle || !endPullup())
        return -1;
    if (m_searchSlotBySlot)
        return searchSlotBySlot(path, rom, discrepancies, searchCommand);
    // The chip runs the whole pass itself. After the caller's reset and
    // Search ROM (which waited, see touchByte) it sends the command byte
    // itself; otherwise it also starts with a reset (RST).
    const uint16_t resetFirst = m_searchPending ? 0 : kBitRst;
    m_searchPending = false;
    m_afterReset = false;
    // SEARCH ACCESS, search only (SM), starting at the ROM in EP2, one device
    // per pass (wIndex bits 15..8; the TMEX calls ask for one device at a
    // time). At every discrepancy the chip takes that ROM's bit, so a
    // device's own ROM leads to that device and the ROM found with its last
    // unexplored 0 branch turned to 1 (0 after it) leads to the next one.
    // EP3 gets the ROM found and, with RTS, when more devices follow than
    // were asked for, eight more bytes of discrepancy information.
    //
    // What exactly those eight bytes hold is taken from how hosts that drive
    // real adapters read them, not from the datasheet's own words: flags of
    // the discrepancy positions, the next branch being the highest flagged
    // position where the ROM found has a 0. Read that way, the other shape
    // they might have — the start for the next pass (the ROM found up to that
    // branch, a 1 there, 0 after) — gives the same branch, so both are simply
    // handed on as the discrepancy flags (searchPass picks the branch; where
    // the ROM found has a 1 a flag says nothing it reads). Eight bytes that
    // name no such position cannot say where the next pass turns: then this
    // pass, and every later one until the adapter is opened again, runs slot
    // by slot instead.
    if (!bulkOut(path, 8))
        return -1;
    const uint16_t value = kCommSearchAccess | kImmediate | resetFirst | kBitSm | kBitF | kBitNtf | kBitRts;
    if (!command(kCommCmd, value, uint16_t(searchCommand | (1 << 8))))
        return -1;
    Status status;
    if (!waitIdle(&status))
        return -1;
    bool noDevice = false;
    for (char r : status.results) {
        noDevice = noDevice || (uint8_t(r) & (kRrNrs | kRrSh | kRrEos));
        if (uint8_t(r) & kRrSh)
            setProblem(QStringLiteral("%1: the 1-Wire bus is shorted").arg(name()));
    }
    if (status.waitingIn != 0 && status.waitingIn != 8 && status.waitingIn != 16)
        return resync(QStringLiteral("a search brought %1 bytes back").arg(status.waitingIn));
    uint8_t back[16];
    int got = 0;
    if (status.waitingIn > 0 && (!bulkIn(back, status.waitingIn, &got) || got != status.waitingIn))
        return m_handle ? resync(QStringLiteral("a search's answer did not come")) : -1;
    if (noDevice || status.waitingIn == 0)
        return 0; // no presence, or the devices left during the pass
    std::memcpy(rom, back, 8);
    if (status.waitingIn == 16) {
        bool openBranch = false;
        for (int i = 0; i < 8; ++i)
            openBranch = openBranch || (back[8 + i] & ~rom[i]);
        if (!openBranch) {
            qCInfo(logCritical()) << name() << "answered a search with discrepancy bytes this program cannot read;"
                                  << "it searches slot by slot from now on (slower)";
            m_searchSlotBySlot = true;
            return searchSlotBySlot(path, rom, discrepancies, searchCommand);
        }
        std::memcpy(discrepancies, back + 8, 8);
    }
    return 1;
}

int Ds2490::resetAndSearch(const uint8_t path[8], uint8_t rom[8], uint8_t discrepancies[8], uint8_t command)
{
    // The reset is SEARCH ACCESS's own (RST), which saves the separate reset
    // command and its status packet; no presence shows as no ROM found.
    m_searchPending = false;
    m_afterReset = false;
    m_armed = false;
    // A path that is a whole ROM (its CRC holds, and it is not the zeros a
    // search starts from) selects that device: the
    // datasheet's strong access form (SM = 0), since what the search-only
    // form leaves on the bus is documented nowhere. Where it finds no such
    // device the pass runs as a search, so a search path that happens to
    // look like a ROM still finds the next device. An Alarm Search never
    // selects this way: it must ask the device's alarm flag.
    if (command == RomCommand::kSearch && !m_searchSlotBySlot && wholeRom(path)) {
        const int selected = strongAccess(path);
        if (selected != 0) {
            if (selected == 1) {
                std::memcpy(rom, path, 8);
                std::memset(discrepancies, 0, 8);
            }
            return selected;
        }
    }
    return searchAccess(path, rom, discrepancies, command);
}

bool Ds2490::wholeRom(const uint8_t path[8])
{
    bool zeros = true;
    for (int i = 0; i < 8; ++i)
        zeros = zeros && path[i] == 0;
    return !zeros && Crc::dallas8(path, 8) == 0;
}

int Ds2490::strongAccess(const uint8_t rom[8])
{
    if (!m_handle || !endPullup() || !bulkOut(rom, 8))
        return -1;
    const uint16_t value = kCommSearchAccess | kImmediate | kBitRst | kBitF | kBitNtf;
    if (!command(kCommCmd, value, uint16_t(RomCommand::kSearch | (1 << 8))))
        return -1;
    Status status;
    if (!waitIdle(&status))
        return -1;
    if (status.waitingIn > 0)
        return resync(QStringLiteral("a strong access brought %1 bytes back").arg(status.waitingIn));
    for (char r : status.results) {
        if (uint8_t(r) & kRrSh)
            setProblem(QStringLiteral("%1: the 1-Wire bus is shorted").arg(name()));
        if (uint8_t(r) & (kRrNrs | kRrSh | kRrEos))
            return 0;
    }
    return 1;
}

int Ds2490::searchSlotBySlot(const uint8_t path[8], uint8_t rom[8], uint8_t discrepancies[8], uint8_t searchCommand)
{
    // Reset and the search command of its own, then three time slots per position.
    m_searchPending = false;
    const int presence = reset();
    if (presence <= 0)
        return presence;
    uint8_t command = searchCommand;
    if (touchBlock(&command, 1) != 1)
        return -1;
    return WireMaster::searchTriplets(path, rom, discrepancies);
}

QString Ds2490::idChipSerial()
{
    uint8_t rom[8] = {};
    int lastDiscrepancy = 0;
    QString found01;
    for (int pass = 0; pass < 256; ++pass) {
        if (searchPass(rom, &lastDiscrepancy) <= 0)
            break;
        if (rom[0] == 0x81 || (rom[0] == 0x01 && found01.isEmpty())) {
            QString text;
            for (int i = 7; i >= 0; --i)
                text += QString::number(rom[i], 16).toUpper().rightJustified(2, QLatin1Char('0'));
            if (rom[0] == 0x81)
                return text;
            found01 = text;
        }
        if (lastDiscrepancy == 0)
            break;
    }
    return found01;
}
