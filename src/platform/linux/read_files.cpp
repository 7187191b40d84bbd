// Reading report files back on Linux: folders and files opened relative to an open folder, never
// through a link (O_NOFOLLOW), files only when regular and opened with O_NONBLOCK, so that a FIFO
// or a device put where a report was expected never holds the program up.
// The headless harness uses it as well.
// Thread: main.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/platform.h"

namespace plat {
namespace {

std::string Reason(int error) { return std::strerror(error); }

EntryKind KindOf(mode_t mode) {
    if (S_ISREG(mode)) return EntryKind::File;
    if (S_ISDIR(mode)) return EntryKind::Folder;
    if (S_ISLNK(mode)) return EntryKind::Link;
    return EntryKind::Other;
}

// Why an open with O_NOFOLLOW failed: a link gives ELOOP (or ENOTDIR for a folder).
std::string OpenFailure(int dir, const char* name, int error) {
    struct stat st {};
    if (fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) return "a link";
    return Reason(error);
}

}  // namespace

FileHandle OpenFolderToRead(const std::string& path, std::string& why) {
    const int folder = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
    if (folder >= 0) return folder;
    why = errno == ENOTDIR ? "not a folder" : Reason(errno);
    return InvalidFile;
}

FileHandle OpenSubfolder(FileHandle folder, const std::string& name, std::string& why) {
    const int dir = static_cast<int>(folder);
    const int sub = openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (sub >= 0) return sub;
    why = OpenFailure(dir, name.c_str(), errno);
    return InvalidFile;
}

bool ListFolder(FileHandle folder, std::vector<FolderEntry>& entries, std::string& why) {
    const int copy = fcntl(static_cast<int>(folder), F_DUPFD_CLOEXEC, 0);
    DIR* listing = copy >= 0 ? fdopendir(copy) : nullptr;
    if (!listing) {
        why = Reason(errno);
        if (copy >= 0) close(copy);
        return false;
    }
    rewinddir(listing);
    entries.clear();
    errno = 0;
    while (const dirent* entry = readdir(listing)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        struct stat st {};
        const EntryKind kind =
            fstatat(copy, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 ? KindOf(st.st_mode) : EntryKind::Other;
        entries.push_back(FolderEntry{name, kind});
        errno = 0;
    }
    const int error = errno;
    closedir(listing);
    if (error == 0) return true;
    why = Reason(error);
    return false;
}

FileHandle OpenFileToRead(FileHandle folder, const std::string& name, std::string& why) {
    const int dir = static_cast<int>(folder);
    const int file = openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (file < 0) {
        why = OpenFailure(dir, name.c_str(), errno);
        return InvalidFile;
    }
    struct stat st {};
    if (fstat(file, &st) != 0 || !S_ISREG(st.st_mode)) {
        why = S_ISDIR(st.st_mode) ? "a folder" : "not a regular file";
        close(file);
        return InvalidFile;
    }
    return file;
}

std::int64_t ReadFromFile(FileHandle file, std::span<std::uint8_t> buffer, std::string& why) {
    for (;;) {
        const ssize_t n = read(static_cast<int>(file), buffer.data(), buffer.size());
        if (n >= 0) return n;
        if (errno == EINTR) continue;
        why = Reason(errno);
        return -1;
    }
}

}  // namespace plat
