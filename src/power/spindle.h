// Spindle stop (ATA SLEEP) and spin-up (ATA RECALIBRATE).
// Thread: main.
#pragma once

#include "platform/drive_records.h"
#include "platform/platform.h"

plat::TIdeRegs SpindleRegs(bool stop);
// Sends the command on an open drive; true when the driver accepted it.
bool SendSpindleCommand(plat::DriveHandle drive, bool stop);
// Opens drive `d`, sends the command and closes the drive; failures pass silently.
void SpindleCommand(int d, bool stop);
