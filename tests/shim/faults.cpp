// Faults for the command-line tests, put in front of the C library with LD_PRELOAD. Each is
// switched on by an environment variable of the process it is preloaded into:
//   PH_FAULT_FSYNC_EIO=N        the first N calls of fsync fail with EIO
//   PH_FAULT_RENAME_EINVAL=1    renameat2 fails with EINVAL, as on file systems without it
//   PH_FAULT_RENAME_PAUSE=PATH  the first renameat2 creates PATH and waits until it is removed
//                               (30 s at most), so that a test can act between a report's
//                               choice of a name and its rename
// The calls come from the report files, which the main thread writes.
// Thread: main.
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace {

template <typename F>
F Next(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

std::atomic<int> FsyncCalls{0};
std::atomic<bool> Paused{false};

}  // namespace

extern "C" int fsync(int fd) {
    const char* failing = std::getenv("PH_FAULT_FSYNC_EIO");
    if (failing && FsyncCalls.fetch_add(1) < std::atoi(failing)) {
        errno = EIO;
        return -1;
    }
    static const auto real = Next<int (*)(int)>("fsync");
    return real(fd);
}

extern "C" int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned flags) {
    if (const char* einval = std::getenv("PH_FAULT_RENAME_EINVAL"); einval && *einval == '1') {
        errno = EINVAL;
        return -1;
    }
    const char* pause = std::getenv("PH_FAULT_RENAME_PAUSE");
    if (pause && !Paused.exchange(true)) {
        const int marker = open(pause, O_WRONLY | O_CREAT | O_EXCL, 0600);
        if (marker >= 0) close(marker);
        for (int i = 0; i < 3000 && access(pause, F_OK) == 0; ++i) usleep(10000);
    }
    static const auto real = Next<int (*)(int, const char*, int, const char*, unsigned)>("renameat2");
    return real(fromDir, from, toDir, to, flags);
}
