// Reading report files back on Windows: folders and files opened by the path the open folder
// really has (GetFinalPathNameByHandleW), with FILE_FLAG_OPEN_REPARSE_POINT so that no link or
// junction is followed, and a file kept only when it is a file on a disk (not a pipe, not a
// device).
// Thread: main.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/error_text.h"
#include "platform/win32/wide.h"

namespace plat {
namespace {

using win32::Narrow;
using win32::Wide;

HANDLE HandleOf(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

// The path an open folder has now, "\\?\C:\..." as Windows gives it.
std::wstring FinalPath(FileHandle folder) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetFinalPathNameByHandleW(HandleOf(folder), path.data(), static_cast<DWORD>(path.size()),
                                                  FILE_NAME_NORMALIZED);
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(n + 1);
    }
}

EntryKind KindOf(DWORD attributes) {
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return EntryKind::Link;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return EntryKind::Folder;
    if (attributes & FILE_ATTRIBUTE_DEVICE) return EntryKind::Other;
    return EntryKind::File;
}

// Opens `path` itself, never what a reparse point leads to; InvalidFile and `why`.
FileHandle OpenItself(const std::wstring& path, DWORD access, DWORD flags, std::string& why) {
    const HANDLE handle = CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, flags | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        why = win32::ErrorText(GetLastError());
        return InvalidFile;
    }
    return reinterpret_cast<FileHandle>(handle);
}

// The file's kind by its handle; false when it cannot be told.
bool KindOfHandle(FileHandle file, EntryKind& kind) {
    if (GetFileType(HandleOf(file)) != FILE_TYPE_DISK) {
        kind = EntryKind::Other;
        return true;
    }
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(HandleOf(file), &info)) return false;
    kind = KindOf(info.dwFileAttributes);
    return true;
}

// Opens `path` when it is of kind `wanted`; otherwise InvalidFile and why not.
FileHandle OpenKind(const std::wstring& path, DWORD access, DWORD flags, EntryKind wanted, std::string& why) {
    const FileHandle file = OpenItself(path, access, flags, why);
    if (file == InvalidFile) return InvalidFile;
    EntryKind kind = EntryKind::Other;
    if (KindOfHandle(file, kind) && kind == wanted) return file;
    why = kind == EntryKind::Link       ? "a link"
          : wanted == EntryKind::Folder ? "not a folder"
          : kind == EntryKind::Folder   ? "a folder"
                                        : "not a regular file";
    CloseHandle(HandleOf(file));
    return InvalidFile;
}

}  // namespace

FileHandle OpenFolderToRead(const std::string& path, std::string& why) {
    std::wstring wide = Wide(path);
    while (wide.size() > 3 && (wide.back() == L'\\' || wide.back() == L'/')) wide.pop_back();
    // The folder named may itself be reached through a link; what is inside it is not followed.
    const HANDLE handle = CreateFileW(wide.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        why = win32::ErrorText(GetLastError());
        return InvalidFile;
    }
    const FileHandle folder = reinterpret_cast<FileHandle>(handle);
    EntryKind kind = EntryKind::Other;
    if (KindOfHandle(folder, kind) && kind == EntryKind::Folder) return folder;
    why = "not a folder";
    CloseHandle(handle);
    return InvalidFile;
}

FileHandle OpenSubfolder(FileHandle folder, const std::string& name, std::string& why) {
    return OpenKind(FinalPath(folder) + L"\\" + Wide(name), FILE_LIST_DIRECTORY, FILE_FLAG_BACKUP_SEMANTICS,
                    EntryKind::Folder, why);
}

bool ListFolder(FileHandle folder, std::vector<FolderEntry>& entries, std::string& why) {
    entries.clear();
    const std::wstring path = FinalPath(folder);
    WIN32_FIND_DATAW found{};
    const HANDLE search = path.empty() ? INVALID_HANDLE_VALUE : FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        why = win32::ErrorText(GetLastError());
        return false;
    }
    do {
        const std::wstring name = found.cFileName;
        if (name != L"." && name != L"..") entries.push_back(FolderEntry{Narrow(name), KindOf(found.dwFileAttributes)});
    } while (FindNextFileW(search, &found));
    const DWORD error = GetLastError();
    FindClose(search);
    if (error == ERROR_NO_MORE_FILES) return true;
    why = win32::ErrorText(error);
    return false;
}

FileHandle OpenFileToRead(FileHandle folder, const std::string& name, std::string& why) {
    return OpenKind(FinalPath(folder) + L"\\" + Wide(name), GENERIC_READ, FILE_FLAG_SEQUENTIAL_SCAN, EntryKind::File,
                    why);
}

std::int64_t ReadFromFile(FileHandle file, std::span<std::uint8_t> buffer, std::string& why) {
    DWORD read = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(buffer.size(), 1u << 30));
    if (ReadFile(HandleOf(file), buffer.data(), chunk, &read, nullptr)) return read;
    why = win32::ErrorText(GetLastError());
    return -1;
}

}  // namespace plat
