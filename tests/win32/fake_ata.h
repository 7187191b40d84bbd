// The ATA drive behind a fake disk of fake_devices.h, and the ways Windows' drivers and the
// bridges in front of it carry ATA commands to it: the SMART requests of disk.sys, the IDE
// pass-through of the old ATA port drivers, IOCTL_ATA_PASS_THROUGH of storport's AHCI miniport and
// the ATA port drivers, and ATA PASS-THROUGH (16) and (12) inside IOCTL_SCSI_PASS_THROUGH as each
// kind of bridge answers them. Records which way each command came and notes any the program must
// not send.
// Thread: main.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "fake_devices.h"

namespace fake {

// The ATA drive behind a disk's driver or bridge, as its IDENTIFY DEVICE data describes it.
struct TAtaDrive {
    std::string_view Model{}, Serial{}, Firmware{};
    std::uint64_t Sectors = 0;
    std::uint16_t CacheSectors = 0;  // word 21
    bool Answers = true;             // false: the drive, or the driver in front of it, fails every command
};

// How a disk's SCSI side answers ATA PASS-THROUGH. Each kind is one seen on real bridges and
// adapters; SAT-4 (T10) gives what a translation should do.
enum class TBridge {
    None,             // no translation: 85h and A1h are INVALID COMMAND OPERATION CODE (a SCSI disk)
    Sat,              // SAT-4: GOOD, no sense; CK_COND or an ATA error: CHECK CONDITION, descriptor sense
                      // with the ATA Status Return descriptor (storahci's translation does this too)
    NoCkCondDataIn,   // GOOD, no sense; a data-in command with CK_COND refused as INVALID FIELD IN CDB
    FixedSense,       // every command CHECK CONDITION, fixed-format sense, registers in bytes 3-6
    ZeroOnCheck,      // every command CHECK CONDITION with the registers, DataTransferLength 0 although
                      // the sector was delivered
    SenseLengthKept,  // GOOD, no sense, but SenseInfoLength left as the caller sent it
    Only12,           // A1h taken as Sat; 85h refused as INVALID COMMAND OPERATION CODE
};

// One disk's drive and where its answers are recorded.
struct TAtaTarget {
    const TAtaDrive& Drive;
    TSeen& Seen;
    int Number = 0;  // the drive number, for the notes
};

// Notes a request that Windows would not have taken or that asks for more than reading.
void Note(int number, const std::string& what);
// Sets the thread's last error and returns FALSE, as a failing system call does.
BOOL Fail(DWORD error);

// SMART_SEND_DRIVE_COMMAND and SMART_RCV_DRIVE_DATA: SENDCMDINPARAMS in, SENDCMDOUTPARAMS out.
BOOL SmartRequest(const TAtaTarget& target, DWORD code, const std::uint8_t* in, DWORD inLength, std::uint8_t* out,
                  DWORD outLength, DWORD* returned);
// IOCTL_IDE_PASS_THROUGH: the IDE registers and a data size of 0, given back as they came.
BOOL IdePassThrough(const TAtaTarget& target, const std::uint8_t* in, DWORD inLength, std::uint8_t* out,
                    DWORD outLength, DWORD* returned);
// IOCTL_ATA_PASS_THROUGH: an ATA_PASS_THROUGH_EX and its data buffer at its offset; the task file
// comes back with the error and status registers.
BOOL AtaPassThrough(const TAtaTarget& target, std::uint8_t* buffer, DWORD inLength, DWORD outLength, DWORD* returned);
// IOCTL_SCSI_PASS_THROUGH: a SCSI_PASS_THROUGH, its sense and data buffers at its offsets, answered
// as `bridge` answers.
BOOL ScsiPassThrough(const TAtaTarget& target, TBridge bridge, std::uint8_t* buffer, DWORD inLength, DWORD outLength,
                     DWORD* returned);

}  // namespace fake
