// The spindle commands (power/spindle.h): ATA SLEEP and RECALIBRATE sent to a drive.
// Thread: main.
#include "power/spindle.h"

drives::TIdeRegs SpindleRegs(bool stop) {
    drives::TIdeRegs regs;
    regs.bDriveHeadReg = 0xA0;
    regs.bCommandReg = stop ? drives::AtaSleep : drives::AtaRecalibrate;
    return regs;
}

bool SendSpindleCommand(plat::DriveHandle drive, bool stop) {
    drives::TIdePassThrough record = drives::BuildIdePassThrough(SpindleRegs(stop));
    return plat::DriveControl(drive, drives::IOCTL_IDE_PASS_THROUGH, record, record);
}

void SpindleCommand(int d, bool stop) {
    const drives::TOpenDrive drive(d, plat::DriveAccess::Control);
    SendSpindleCommand(drive.Handle(), stop);
}
