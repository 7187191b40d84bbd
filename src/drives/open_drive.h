// A drive opened for one operation through the seam, closed when it goes out of scope.
// Thread: main.
#pragma once

#include "platform/platform.h"

namespace drives {

class TOpenDrive {
public:
    TOpenDrive(int number, plat::DriveAccess access) : handle_(plat::OpenDrive(number, access)) {}
    ~TOpenDrive() { Close(); }
    TOpenDrive(const TOpenDrive&) = delete;
    TOpenDrive& operator=(const TOpenDrive&) = delete;

    plat::DriveHandle Handle() const { return handle_; }
    bool IsOpen() const { return handle_ != plat::InvalidDrive; }
    void Close() {
        if (handle_ != plat::InvalidDrive) plat::CloseDrive(handle_);
        handle_ = plat::InvalidDrive;
    }

private:
    plat::DriveHandle handle_;
};

}  // namespace drives
