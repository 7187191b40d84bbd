// The spindle commands (power/spindle.h): ATA SLEEP and RECALIBRATE sent to a drive.
// Thread: main.
#include "power/spindle.h"

#include "drives/open_drive.h"

plat::TIdeRegs SpindleRegs(bool stop) {
    plat::TIdeRegs regs;
    regs.bDriveHeadReg = 0xA0;
    regs.bCommandReg = stop ? plat::AtaSleep : plat::AtaRecalibrate;
    return regs;
}

bool SendSpindleCommand(plat::DriveHandle drive, bool stop) {
    plat::TIdePassThrough record = plat::BuildIdePassThrough(SpindleRegs(stop));
    return plat::DriveControl(drive, plat::IOCTL_IDE_PASS_THROUGH, record, record);
}

void SpindleCommand(int d, bool stop) {
    const drives::TOpenDrive drive(d, plat::DriveAccess::Control);
    SendSpindleCommand(drive.Handle(), stop);
}
