// The ATA drive behind a fake disk of fake_devices.h: it answers the SMART requests, the IDE
// pass-through and ATA PASS-THROUGH (16) inside IOCTL_SCSI_PASS_THROUGH as Windows' drivers pass
// them on, records which way each command came and notes any the program must not send. Main
// thread only.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/win32/fake_devices.h"

namespace fake {

// The ATA drive behind a disk's driver or bridge, as its IDENTIFY DEVICE data describes it.
struct TAtaDrive {
    std::string_view Model{}, Serial{}, Firmware{};
    std::uint64_t Sectors = 0;
    std::uint16_t CacheSectors = 0;  // word 21
    bool Answers = true;             // false: the drive, or the driver in front of it, fails every command
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
// IOCTL_SCSI_PASS_THROUGH: a SCSI_PASS_THROUGH, its sense and data buffers at its offsets. A bridge
// that `translates` carries the command to the drive; any other refuses the opcode as a SCSI
// disk does.
BOOL ScsiPassThrough(const TAtaTarget& target, bool translates, std::uint8_t* buffer, DWORD inLength, DWORD outLength,
                     DWORD* returned);

}  // namespace fake
