#pragma once

#include <cstdint>

// The few primitives a 1-Wire bus master offers. Everything above it — the
// ROM search, device selection, sessions and CRCs — lives once in WireBackend.
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

    // Switches the bus speed; switching on fails (and the bus stays at
    // standard speed) unless every device on the bus follows.
    virtual bool setOverdrive(bool on) = 0;
    // Armed: the line is held strongly high from the end of the next byte
    // until disarmed or the next reset (power for converting parasite-powered chips).
    virtual void setStrongPullup(bool armed) = 0;

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
};
