#pragma once

#include "bus/romcommands.h"

#include <cstdint>

// The few primitives a 1-Wire bus master offers, and the one pass of the ROM
// search built on them (shared by the TMEX search and a master that has to
// count its devices). Everything else above it — the search state, device
// selection, sessions and CRCs — lives once in WireBackend.
// A master that is unplugged answers every bus call with -1.
class WireMaster
{
public:
    virtual ~WireMaster() = default;

    // The configured default port; false when none is configured.
    virtual bool defaultPort(short *portNum, short *portType) const = 0;
    // The adapter is plugged in.
    virtual bool connected() const = 0;
    // Initialises the adapter; false when it does not answer.
    virtual bool setUp() = 0;

    // Reset pulse: 1 when some device answered with presence, 0 when none, -1 adapter gone.
    virtual int reset() = 0;
    // One time slot: writes `bit` (1 = a read slot) and returns the line, 0 or 1; -1 adapter gone.
    virtual int touchBit(int bit) = 0;
    // Eight slots, least significant bit first; returns the byte read back; -1 adapter gone.
    virtual int touchByte(int byte) = 0;
    // A run of bytes, each as touchByte: `bytes` are written and replaced by
    // what the line gave back. Returns `length`, or -1 when the adapter
    // failed (the buffer is then undefined). The default makes one touchByte
    // per byte; a master that can carry a run in one exchange with its
    // adapter overrides it, since every exchange costs a round trip.
    virtual int touchBlock(uint8_t *bytes, int length);
    // A run as touchBlock, then one read slot: a command whose first busy
    // poll always follows it. Returns the bit read, or -1 when the adapter
    // failed. The default makes the two calls; a master that can carry both
    // in one exchange overrides it.
    virtual int touchBlockThenReadBit(uint8_t *bytes, int length);

    // Switches the master's own timing (resets, slots, bytes) between
    // standard and overdrive speed; no bus traffic. Taking the devices along
    // is Overdrive::switchOn's part.
    virtual void setOverdriveTiming(bool on) = 0;
    virtual bool overdriveTiming() const = 0;
    // True when a reset at overdrive timing sees no presence unless every
    // device on the bus follows, so the device counts that otherwise prove
    // it are not needed.
    virtual bool overdriveResetProvesAll() const { return false; }
    // True right after a Convert T to every device that the master carried
    // to its end before it returned; false for a master on the wire, where
    // the devices convert while the caller waits.
    virtual bool conversionFinished() const { return false; }
    // Armed: the line is held strongly high from the end of the next byte
    // until disarmed or the next reset (power for converting parasite-powered chips).
    virtual void setStrongPullup(bool armed) = 0;
    // Whether the master can hold the line strongly high at all (the
    // kernel's w1 connector cannot).
    virtual bool hasStrongPullup() const { return true; }

    // The 64 bit positions of a Search ROM whose command byte the caller has
    // just sent. At each position the devices still taking part send their bit
    // and its complement (wired-AND), and the master writes the direction it
    // takes: the only value present, or, where both are present (a
    // discrepancy), the bit of `path` at that position. Bits are numbered as
    // in a ROM: bit 0 is the least significant bit of byte 0.
    // Fills `rom` with the directions taken and `discrepancies` with a 1 bit at
    // every position where both values were present.
    // Returns 1; 0 when at some position no device answered (the devices left
    // the bus); -1 when the adapter failed.
    // The default runs three time slots per position through touchBit; a
    // master with a search accelerator does the whole pass at once.
    virtual int searchTriplets(const uint8_t path[8], uint8_t rom[8], uint8_t discrepancies[8]);
    // Reset, the search command and searchTriplets along `path`: one
    // selection or one search pass. `command` is Search ROM, or Alarm Search,
    // in which only the devices with their alarm flag set take part.
    // Returns 1, 0 when no device answered the reset or the devices left the
    // bus (or none is alarming), -1 when the adapter failed. The default makes
    // the three calls; a master that can carry them in one exchange overrides
    // it. Every override keeps the same default command.
    virtual int resetAndSearch(const uint8_t path[8], uint8_t rom[8], uint8_t discrepancies[8],
                               uint8_t command = RomCommand::kSearch);
    // resetAndSearch with Search ROM, then, when the pass ended on `path`
    // (the device is selected), touchBlock over `bytes`: a selection and the
    // command that follows it. The result as resetAndSearch gives it, -1 also
    // when the run failed; `bytes` hold what came back only when `rom` equals
    // `path`. The default makes the calls one after another; a master that
    // carries all in one exchange sends the run whatever the pass finds.
    virtual int resetAndSearchThenBlock(const uint8_t path[8], uint8_t rom[8], uint8_t discrepancies[8],
                                        uint8_t *bytes, int length);
    // Whether the master can run an Alarm Search at all (a master that only
    // walks a list of ROMs cannot).
    virtual bool searchesAlarms() const { return true; }

    // One pass of the ROM search: reset, Search ROM and the 64 positions.
    // `rom` holds the device the previous pass found and *lastDiscrepancy
    // that pass's last unexplored 0 branch (1-based bit position; 0 before
    // the first pass): before it the pass follows `rom`, at it takes the 1
    // branch, after it the 0 branches — the order real hardware gives.
    // Returns 1 with the device found in `rom` and the branch for the next
    // pass in *lastDiscrepancy (0: none left, that was the last device);
    // 0 when no device answered (no presence, or the devices left the bus);
    // -1 when the adapter failed. `command` as for resetAndSearch.
    int searchPass(uint8_t rom[8], int *lastDiscrepancy, uint8_t command = RomCommand::kSearch);
    // The number of devices a complete ROM search finds at the bus's
    // current speed; -1 when the adapter failed.
    int countDevices();

protected:
    // Bit `index` of eight bytes numbered as in a ROM (bit 0 is the least
    // significant bit of byte 0): a ROM, a search path, discrepancy flags.
    static int romBit(const uint8_t bytes[8], int index);
    static void setRomBit(uint8_t bytes[8], int index, int bit);
};
