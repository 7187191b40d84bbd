// The system calls of the drive layer (drives.cpp, storage.cpp), behind names of their own so
// that a check can link the layer against a fake device layer (tests/win32/fake_devices.cpp) in place of
// Windows. drive_calls.cpp gives the system's own.
// Thread: main.
#pragma once

#include <windows.h>

namespace plat::win32::sys {

HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                   DWORD flags, HANDLE templateFile);
BOOL CloseHandle(HANDLE handle);
DWORD SetFilePointer(HANDLE handle, LONG low, PLONG high, DWORD method);
BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD length, LPDWORD read, LPOVERLAPPED overlapped);
BOOL DeviceIoControl(HANDLE handle, DWORD code, LPVOID in, DWORD inLength, LPVOID out, DWORD outLength,
                     LPDWORD returned, LPOVERLAPPED overlapped);

}  // namespace plat::win32::sys
