// Spindle stop (ATA SLEEP) and spin-up (ATA RECALIBRATE).
// Thread: main.
#pragma once

#include "drives/requests.h"

drives::TIdeRegs SpindleRegs(bool stop);
// Sends the command on an open drive; true when the driver accepted it.
bool SendSpindleCommand(plat::DriveHandle drive, bool stop);
// Opens drive `d`, sends the command and closes the drive; failures pass silently.
void SpindleCommand(int d, bool stop);
