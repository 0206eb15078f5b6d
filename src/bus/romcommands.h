#pragma once

#include <cstdint>

// The ROM commands every 1-Wire chip shares: the first byte after a reset,
// which picks the device (or devices) whose function layer the following
// time slots reach.
namespace RomCommand {

constexpr uint8_t kRead = 0x33;           // the only device sends its ROM
constexpr uint8_t kMatch = 0x55;          // the 64 ROM bits follow; one device stays
constexpr uint8_t kSkip = 0xCC;           // every device at once
constexpr uint8_t kSearch = 0xF0;         // the bit-by-bit ROM search
constexpr uint8_t kAlarmSearch = 0xEC;    // the search among alarming devices
constexpr uint8_t kOverdriveSkip = 0x3C;  // Skip ROM, and every device that can follow goes to overdrive
constexpr uint8_t kOverdriveMatch = 0x69; // Match ROM sent at overdrive speed
constexpr uint8_t kResume = 0xA5;         // the device selected last, again

} // namespace RomCommand
