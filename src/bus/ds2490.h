#pragma once

#include "bus/wiremaster.h"

#include <QByteArray>
#include <QString>
#include <cstdint>

struct libusb_context;
struct libusb_device;
struct libusb_device_handle;

// A USB 1-Wire adapter built on the DS2490 (the DS9490R and its relatives,
// USB id 04FA:2490) as a bus master, through libusb-1.0.
//
// The host drives the chip with vendor control transfers on endpoint 0 —
// CONTROL commands (reset the chip, halt and resume command processing),
// COMM commands (1-Wire reset, bit, byte, block, search) and MODE commands
// (strong pull-up enable, speed) — writes block data to the bulk endpoint
// EP2 and reads what the 1-Wire bus gave back from the bulk endpoint EP3
// (exactly the bytes a bit, byte or block command leaves there, read once
// the status says they are). After every command it polls the interrupt
// endpoint EP1 for the chip's state:
// idle, strong pull-up active, the bytes waiting in EP3, the EP0F error
// (which resets the chip) and the result codes (presence, short).
//
// Search: the chip's SEARCH ACCESS command finds one device per pass (see
// searchTriplets for what is assumed of its answer), with its own reset when
// a whole pass is asked for (resetAndSearch); a pass along a whole ROM (a
// selection) uses the command's strong access form instead. A Search ROM byte written
// right after a separate reset waits for it (the chip sends that byte
// itself), so the bus sees reset, command and 64 triplets, as with any master.
//
// Opening detaches the kernel's own driver when it holds the interface (and
// says so once), claims interface 0 in the alternate setting with 64-byte
// bulk packets and 1 ms status polling, and gives the interface back to the
// kernel driver when the master is closed. A failed transfer closes the
// adapter with a message that names it and the remedy; the next setUp()
// looks for it again, so it is picked up on the first tick after it is back.
//
// Strong pull-up: the chip's pull-up duration is set to infinite, an armed
// byte (or the last byte of an armed block) carries the SPU bit, and the
// pull-up holds until the master ends it with HALT EXECUTION and RESUME
// EXECUTION (on disarming, before the next reset, or before anything else),
// then waits for SPUA to clear.
class Ds2490 : public WireMaster
{
public:
    // `selector`: "" the first adapter found, "BUS-PORT" (1-2, 1-2.3) the one
    // at that USB position, anything else the serial number of its ID chip.
    explicit Ds2490(const QString &selector = QString());
    ~Ds2490() override;

    QString selector() const { return m_selector; }
    // The adapter in use, for the operator: "USB 1-Wire adapter (DS2490) at 1-2".
    QString name() const;
    // Why the adapter is not usable, in words for the operator; empty when it is.
    QString problem() const { return m_problem; }
    // How long one USB transfer may take before the adapter counts as not answering.
    void setTransferTimeoutMs(int ms) { m_timeoutMs = ms; }
    // Releases the adapter (the kernel driver gets it back if it had it).
    void close();

    // The serial number of the adapter's ID chip (family 0x81, else 0x01),
    // as the window shows it (CRC byte first); empty when there is none.
    QString idChipSerial();

    // WireMaster
    bool defaultPort(short *portNum, short *portType) const override;
    bool connected() const override;
    bool setUp() override;
    int reset() override;
    int touchBit(int bit) override;
    int touchByte(int byte) override;
    int touchBlock(uint8_t *bytes, int length) override;
    void setOverdriveTiming(bool on) override;
    bool overdriveTiming() const override { return m_overdrive; }
    void setStrongPullup(bool armed) override;
    int searchTriplets(const uint8_t path[8], uint8_t rom[8], uint8_t discrepancies[8]) override;
    int resetAndSearch(const uint8_t path[8], uint8_t rom[8], uint8_t discrepancies[8],
                       uint8_t command = RomCommand::kSearch) override;

    // One status packet of EP1 as the master decoded it.
    struct Status
    {
        uint8_t flags = 0;       // device status flags (state register 0x08)
        int waitingIn = 0;       // bytes waiting in EP3 (state register 0x0D)
        QByteArray results;      // result register bytes after the 16 state bytes
    };

private:
    bool open();
    // usb:SERIAL rather than usb:BUS-PORT or the first adapter.
    bool selectsBySerial() const;
    // Opens the device, detaches the kernel driver where it holds it and
    // claims interface 0; false with *problem in words for the operator.
    bool claim(libusb_device *device, QString *problem);
    // The open adapter's ID chip has the serial the selector names.
    bool idChipMatches();
    // Lets the open adapter go (the kernel driver gets it back), keeping the libusb context.
    void releaseHandle();
    bool initialiseChip();
    // One vendor control transfer: request type `request` (CONTROL, COMM or MODE).
    bool command(uint8_t request, uint16_t value, uint16_t index);
    bool readStatus(Status *status);
    // Polls EP1 until the chip is idle, or (`pullupDone`) its strong pull-up runs.
    bool waitIdle(Status *status, bool pullupDone = false);
    // Polls EP1 until the strong pull-up is no longer active (SPUA clear).
    bool waitPullupEnded();
    bool bulkOut(const uint8_t *data, int length);
    // Reads up to `length` bytes from EP3 in pieces of at most 64; *got
    // tells how many came (a zero-length packet ends the read). False when
    // the transfer failed.
    bool bulkIn(uint8_t *data, int length, int *got);
    // A command's `length` result bytes: polls the status until the chip is
    // idle (or, `pullupDone`, its pull-up runs) and they are waiting in EP3,
    // then reads them; a zero-length packet is tried again.
    bool readResult(uint8_t *data, int length, bool pullupDone = false);
    // SEARCH ACCESS in its strong access form (SM = 0) with its own reset:
    // 1 when the device with `rom` answered and is selected, 0 when no such
    // device answered, -1 when the adapter failed.
    int strongAccess(const uint8_t rom[8]);
    static bool wholeRom(const uint8_t path[8]);
    bool endPullup();
    // searchTriplets for the search command `command` (Search ROM or Alarm
    // Search): with its own reset unless a Search ROM byte waits.
    int searchAccess(const uint8_t path[8], uint8_t rom[8], uint8_t discrepancies[8], uint8_t command);
    // One search pass with the chip's plain time slots, when its SEARCH
    // ACCESS answers cannot be read (see searchTriplets).
    int searchSlotBySlot(const uint8_t path[8], uint8_t rom[8], uint8_t discrepancies[8], uint8_t command);
    // Sends a Search ROM command byte that waited for its pass; see touchByte.
    bool flushSearchCommand();
    // A libusb failure: the message for the operator, the adapter closed; returns -1.
    int fail(int libusbError, const char *what);
    // The chip reported a fault it recovers from (EP0F, unexpected data): reset it; returns -1.
    int resync(const QString &why);
    void setProblem(const QString &text);

    QString m_selector;
    QString m_position;           // "1-2" once found
    QString m_problem;
    libusb_context *m_context = nullptr;
    libusb_device_handle *m_handle = nullptr;
    bool m_reattach = false;      // the kernel driver held it: give it back on close
    bool m_detachSaid = false;
    bool m_overdrive = false;
    bool m_armed = false;
    bool m_pullupOn = false;
    bool m_afterReset = false;    // the last bus operation was a reset with presence
    bool m_searchPending = false; // a Search ROM command byte waits for its pass
    bool m_searchSlotBySlot = false; // the chip's search answers were not understood
    int m_timeoutMs = 1000;
};
