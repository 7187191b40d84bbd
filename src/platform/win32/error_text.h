// The system's English text for a Windows error code.
// Thread: main.
#pragma once

#include <windows.h>

#include <string>

namespace plat::win32 {

std::string ErrorText(DWORD code);

}  // namespace plat::win32
