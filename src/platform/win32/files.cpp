// Report files on Windows: the folder held open (without sharing its deletion, so that neither it
// nor a folder above it can be renamed meanwhile), files created with CREATE_NEW under names
// nobody can guess, flushed, and published by MoveFileExW without MOVEFILE_REPLACE_EXISTING.
// There are no signals to hold back.
// Thread: main.
#define _CRT_RAND_S
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/error_text.h"
#include "platform/win32/wide.h"

namespace plat {
namespace {

// An open folder: its handle and its path, which the calls below put in front of names. A
// FileHandle for a folder is an index into this list, with a mark that sets it apart from files.
struct TFolder {
    HANDLE Handle;
    std::wstring Path;
};
std::vector<TFolder> Folders;
constexpr FileHandle FolderMark = FileHandle{1} << 40;

using win32::Wide;

std::string Reason(DWORD error) { return win32::ErrorText(error); }

const TFolder* FolderOf(FileHandle folder) {
    const FileHandle index = folder - FolderMark;
    return index >= 0 && static_cast<std::size_t>(index) < Folders.size() ? &Folders[static_cast<std::size_t>(index)]
                                                                          : nullptr;
}

std::wstring PathIn(FileHandle folder, const std::string& name) {
    const TFolder* f = FolderOf(folder);
    return f ? f->Path + L"\\" + Wide(name) : std::wstring();
}

void CreateFolders(const std::wstring& path) {
    for (std::size_t at = path.find_first_of(L"\\/", 3);; at = path.find_first_of(L"\\/", at + 1)) {
        CreateDirectoryW(path.substr(0, at).c_str(), nullptr);
        if (at == std::wstring::npos) return;
    }
}

std::string RandomPart() {
    unsigned int high = 0, low = 0;
    rand_s(&high);
    rand_s(&low);
    char text[17];
    std::snprintf(text, sizeof text, "%08x%08x", high, low);
    return text;
}

}  // namespace

FileHandle OpenFolder(const std::string& path, std::string& why) {
    if (path.empty()) {
        why = "no folder named";
        return InvalidFile;
    }
    std::wstring wide = Wide(path);
    while (wide.size() > 3 && (wide.back() == L'\\' || wide.back() == L'/')) wide.pop_back();
    CreateFolders(wide);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        why = "not a folder";
        return InvalidFile;
    }
    const HANDLE handle = CreateFileW(wide.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        why = Reason(GetLastError());
        return InvalidFile;
    }
    Folders.push_back(TFolder{handle, wide});
    return FolderMark + static_cast<FileHandle>(Folders.size() - 1);
}

FileHandle CreateHiddenFile(FileHandle folder, std::string& name, std::string& why) {
    DWORD error = ERROR_INVALID_HANDLE;
    for (int attempt = 0; attempt < 16 && FolderOf(folder); ++attempt) {
        name = ".platenhawk-" + std::to_string(GetCurrentProcessId()) + "-" + RandomPart() + ".part";
        const HANDLE file = CreateFileW(PathIn(folder, name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) return reinterpret_cast<FileHandle>(file);
        error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
    }
    why = Reason(error);
    return InvalidFile;
}

bool AppendToFile(FileHandle file, std::string_view bytes, std::string& why) {
    while (!bytes.empty()) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
        if (!WriteFile(reinterpret_cast<HANDLE>(file), bytes.data(), chunk, &written, nullptr) || written == 0) {
            why = Reason(GetLastError());
            return false;
        }
        bytes.remove_prefix(written);
    }
    return true;
}

// A folder's names reach the disk with each MoveFileExW (MOVEFILE_WRITE_THROUGH).
bool FlushToDisk(FileHandle file, std::string& why) {
    if (FolderOf(file)) return true;
    if (FlushFileBuffers(reinterpret_cast<HANDLE>(file))) return true;
    why = Reason(GetLastError());
    return false;
}

void CloseFile(FileHandle file) {
    if (const TFolder* folder = FolderOf(file)) {
        CloseHandle(folder->Handle);
        Folders[static_cast<std::size_t>(file - FolderMark)].Handle = INVALID_HANDLE_VALUE;
    } else if (file != InvalidFile) {
        CloseHandle(reinterpret_cast<HANDLE>(file));
    }
}

RenameOutcome RenameToNewName(FileHandle folder, const std::string& from, const std::string& to, std::string& why) {
    if (MoveFileExW(PathIn(folder, from).c_str(), PathIn(folder, to).c_str(), MOVEFILE_WRITE_THROUGH))
        return RenameOutcome::Done;
    const DWORD error = GetLastError();
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) return RenameOutcome::Taken;
    why = Reason(error);
    return RenameOutcome::Failed;
}

bool RenameOver(FileHandle folder, const std::string& from, const std::string& to, std::string& why) {
    if (MoveFileExW(PathIn(folder, from).c_str(), PathIn(folder, to).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    why = Reason(GetLastError());
    return false;
}

bool MakeReadableByAll(FileHandle, std::string&) { return true; }

bool NameTaken(FileHandle folder, const std::string& name) {
    if (GetFileAttributesW(PathIn(folder, name).c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    const DWORD error = GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

void RemoveName(FileHandle folder, const std::string& name) { DeleteFileW(PathIn(folder, name).c_str()); }

// The folder is held open without delete sharing, so neither it nor a folder above it can be
// renamed or removed while the program runs: the path still leads to it.
std::string FolderPathNow(FileHandle, const std::string& path) { return path; }

void HoldSignals() {}

void ReleaseSignals() {}

}  // namespace plat
