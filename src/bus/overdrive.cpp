#include "bus/overdrive.h"

#include "bus/romcommands.h"
#include "bus/wiremaster.h"

namespace {

// The master at standard timing and a standard reset: every device back at
// standard speed, whatever the master's timing was.
void returnToStandard(WireMaster &master)
{
    master.setOverdriveTiming(false);
    master.reset();
}

// A standard reset that sees presence, Overdrive Skip ROM, then the master at
// overdrive timing and an overdrive reset that sees presence. False when a
// step fails; the bus is then back at standard speed.
bool enter(WireMaster &master)
{
    master.setOverdriveTiming(false);
    if (master.reset() != 1)
        return false;
    if (master.touchByte(RomCommand::kOverdriveSkip) != RomCommand::kOverdriveSkip) {
        returnToStandard(master);
        return false;
    }
    master.setOverdriveTiming(true);
    if (master.reset() == 1)
        return true;
    returnToStandard(master);
    return false;
}

} // namespace

namespace Overdrive {

bool switchOn(WireMaster &master)
{
    if (!enter(master))
        return false;
    if (master.overdriveResetProvesAll())
        return true;
    const int overdriveCount = master.countDevices();
    // The standard reset that starts this search brings every device back.
    master.setOverdriveTiming(false);
    const int standardCount = master.countDevices();
    return overdriveCount > 0 && standardCount == overdriveCount && enter(master);
}

void switchOff(WireMaster &master)
{
    if (master.overdriveTiming())
        returnToStandard(master);
}

} // namespace Overdrive
