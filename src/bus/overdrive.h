#pragma once

class WireMaster;

// Taking a bus to overdrive speed and back, the same for every master; the
// master only switches its own timing.
//
// A device that cannot follow would silently vanish from the bus, so the
// switch is kept only when every device followed: a standard reset with
// presence, Overdrive Skip ROM (every device that can follow goes to
// overdrive, the others wait for the next standard reset), the master at
// overdrive timing, and an overdrive reset that sees presence. A bus where no
// device follows (only thermometers, say) refuses there, cheaply. Unless the
// master's overdrive reset already proves that every device followed, the
// devices a search finds are then counted at overdrive and at standard speed,
// and the switch is made again when the counts agree.
namespace Overdrive {

// True when the bus now runs at overdrive; otherwise it is back at standard
// speed (or the adapter failed).
bool switchOn(WireMaster &master);
// Standard speed: the master's timing, and a standard reset that brings
// every device back when the bus ran at overdrive.
void switchOff(WireMaster &master);

} // namespace Overdrive
