// The drive layer's system calls as Windows carries them out.
// Thread: main.
#include "platform/win32/drive_calls.h"

namespace plat::win32::sys {

HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share, LPSECURITY_ATTRIBUTES security, DWORD disposition,
                   DWORD flags, HANDLE templateFile) {
    return ::CreateFileA(path, access, share, security, disposition, flags, templateFile);
}

BOOL CloseHandle(HANDLE handle) { return ::CloseHandle(handle); }

DWORD SetFilePointer(HANDLE handle, LONG low, PLONG high, DWORD method) {
    return ::SetFilePointer(handle, low, high, method);
}

BOOL ReadFile(HANDLE handle, LPVOID buffer, DWORD length, LPDWORD read, LPOVERLAPPED overlapped) {
    return ::ReadFile(handle, buffer, length, read, overlapped);
}

BOOL DeviceIoControl(HANDLE handle, DWORD code, LPVOID in, DWORD inLength, LPVOID out, DWORD outLength,
                     LPDWORD returned, LPOVERLAPPED overlapped) {
    return ::DeviceIoControl(handle, code, in, inLength, out, outLength, returned, overlapped);
}

}  // namespace plat::win32::sys
