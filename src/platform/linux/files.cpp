// Report files on Linux: a folder opened once, files created exclusively under names nobody can
// guess and published by renames that never replace, everything flushed to the disk; and the
// signals held while such a file is half-written. The headless harness uses it as well: its tests
// write real files.
// Thread: main.
#include <fcntl.h>
#include <signal.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/platform.h"

namespace plat {
namespace {

std::string Reason(int error) { return std::strerror(error); }

// Whether the system can take `path` at all: no longer than PATH_MAX, no name longer than
// NAME_MAX. Checked before any folder of it is created.
bool PathFits(const std::string& path) {
    if (path.size() >= PATH_MAX) return false;
    std::size_t start = 0;
    for (std::size_t slash = path.find('/'); start <= path.size(); slash = path.find('/', start)) {
        const std::size_t end = slash == std::string::npos ? path.size() : slash;
        if (end - start > NAME_MAX) return false;
        start = end + 1;
    }
    return true;
}

// mkdir -p: each missing folder of `path` created 0755; a folder that exists is left as it is.
// The error of the last folder that could not be made, or 0.
int CreateFolders(const std::string& path) {
    int error = 0;
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string prefix = path.substr(0, slash);
        if (!prefix.empty() && prefix.back() != '/') {
            if (mkdir(prefix.c_str(), 0755) == 0 || errno == EEXIST)
                error = 0;
            else
                error = errno;
        }
        if (slash == std::string::npos) return error;
    }
}

// 16 hex digits nobody can guess.
std::string RandomPart() {
    std::uint64_t value = 0;
    if (getrandom(&value, sizeof value, 0) != static_cast<ssize_t>(sizeof value)) {
        timespec now{};
        clock_gettime(CLOCK_REALTIME, &now);
        value ^= static_cast<std::uint64_t>(now.tv_nsec) * 0x9E3779B97F4A7C15u ^ static_cast<std::uint64_t>(now.tv_sec);
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(value));
    return text;
}

// Every signal a process can hold back, but those its own faults raise.
sigset_t HoldableSignals() {
    sigset_t set;
    sigfillset(&set);
    for (const int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGSYS, SIGABRT}) sigdelset(&set, sig);
    return set;
}

int Holds = 0;  // the writing thread's
sigset_t MaskBeforeHolds;

}  // namespace

FileHandle OpenFolder(const std::string& path, std::string& why) {
    if (path.empty()) {
        why = "no folder named";
        return InvalidFile;
    }
    if (!PathFits(path)) {
        why = Reason(ENAMETOOLONG);
        return InvalidFile;
    }
    const int created = CreateFolders(path);
    const int folder = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) return folder;
    // A folder that could not be made says why, not that it is missing.
    why = errno == ENOTDIR ? "not a folder" : Reason(errno == ENOENT && created ? created : errno);
    return InvalidFile;
}

FileHandle CreateHiddenFile(FileHandle folder, std::string& name, std::string& why) {
    for (int attempt = 0; attempt < 16; ++attempt) {
        name = ".platenhawk-" + std::to_string(getpid()) + "-" + RandomPart() + ".part";
        const int file =
            openat(static_cast<int>(folder), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (file >= 0) return file;
        if (errno != EEXIST) break;
    }
    why = Reason(errno);
    return InvalidFile;
}

bool AppendToFile(FileHandle file, std::string_view bytes, std::string& why) {
    while (!bytes.empty()) {
        const ssize_t n = write(static_cast<int>(file), bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            why = n < 0 ? Reason(errno) : "nothing could be written";
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

bool FlushToDisk(FileHandle file, std::string& why) {
    if (fsync(static_cast<int>(file)) == 0) return true;
    why = Reason(errno);
    return false;
}

void CloseFile(FileHandle file) {
    if (file != InvalidFile) close(static_cast<int>(file));
}

// renameat2 with RENAME_NOREPLACE where the file system takes it; else a hard link, which never
// replaces either, and the old name removed.
RenameOutcome RenameToNewName(FileHandle folder, const std::string& from, const std::string& to, std::string& why) {
    const int dir = static_cast<int>(folder);
    if (renameat2(dir, from.c_str(), dir, to.c_str(), RENAME_NOREPLACE) == 0) return RenameOutcome::Done;
    if (errno == EEXIST) return RenameOutcome::Taken;
    if (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP) {
        if (linkat(dir, from.c_str(), dir, to.c_str(), 0) == 0) {
            unlinkat(dir, from.c_str(), 0);
            return RenameOutcome::Done;
        }
        if (errno == EEXIST) return RenameOutcome::Taken;
        if (errno == EPERM || errno == EOPNOTSUPP) {
            why = "the file system can neither rename without replacing nor link";
            return RenameOutcome::Failed;
        }
    }
    why = Reason(errno);
    return RenameOutcome::Failed;
}

bool RenameOver(FileHandle folder, const std::string& from, const std::string& to, std::string& why) {
    const int dir = static_cast<int>(folder);
    if (renameat(dir, from.c_str(), dir, to.c_str()) == 0) return true;
    why = Reason(errno);
    return false;
}

bool MakeReadableByAll(FileHandle file, std::string& why) {
    if (fchmod(static_cast<int>(file), 0644) == 0) return true;
    why = Reason(errno);
    return false;
}

bool NameTaken(FileHandle folder, const std::string& name) {
    struct stat st {};
    return fstatat(static_cast<int>(folder), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT;
}

void RemoveName(FileHandle folder, const std::string& name) { unlinkat(static_cast<int>(folder), name.c_str(), 0); }

// The path is compared by device and inode; the present path is the kernel's name of the open
// folder, which it marks " (deleted)" once the folder is removed.
std::string FolderPathNow(FileHandle folder, const std::string& path) {
    struct stat held {
    }, named{};
    if (fstat(static_cast<int>(folder), &held) != 0) return {};
    if (stat(path.c_str(), &named) == 0 && named.st_dev == held.st_dev && named.st_ino == held.st_ino) return path;
    char link[64], target[PATH_MAX + 1];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", static_cast<int>(folder));
    const ssize_t n = readlink(link, target, PATH_MAX);
    if (n <= 0 || target[0] != '/') return {};
    const std::string now(target, static_cast<std::size_t>(n));
    if (now.ends_with(" (deleted)")) return {};
    return now;
}

void HoldSignals() {
    if (Holds++ > 0) return;
    const sigset_t held = HoldableSignals();
    pthread_sigmask(SIG_BLOCK, &held, &MaskBeforeHolds);
}

void ReleaseSignals() {
    if (Holds == 0 || --Holds > 0) return;
    pthread_sigmask(SIG_SETMASK, &MaskBeforeHolds, nullptr);
}

}  // namespace plat
