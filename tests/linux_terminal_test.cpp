// The Linux terminal's key input on a real terminal: each case runs the input calls in a child
// process whose standard input and output are a pseudo terminal, while this process types into it
// and tells the child when to look.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/linux/terminal.h"
#include "platform/platform.h"

namespace {

using namespace std::chrono_literals;

// The child's end: the pipes it waits on and reports through.
struct ChildSide {
    int Go;     // the parent writes a byte when the child is to go on
    int Ready;  // the child writes a byte when the parent is to go on
};

void Signal(int fd) { [[maybe_unused]] const ssize_t n = write(fd, "!", 1); }

void Await(int fd) {
    char c;
    while (read(fd, &c, 1) < 0 && errno == EINTR) {
    }
}

// In the child: the key of the next key-down record.
std::uint16_t NextKey() {
    for (;;) {
        const plat::InputRecord r = plat::ReadInput(0);
        if (r.KeyDown) return r.VirtualKeyCode;
    }
}

[[noreturn]] void Check(bool ok, const char* what) {
    plat::term::Restore();
    if (!ok) std::fprintf(stderr, "child: %s\n", what);
    _exit(ok ? 0 : 1);
}

// Runs `child` with a pseudo terminal in raw mode as its standard input and output, and `parent`
// with the terminal's other end; expects the child to end with status 0 within 10 s.
template <typename Child, typename Parent>
void RunOnTerminal(Child child, Parent parent) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const std::string slaveName = ptsname(master);
    int go[2], ready[2];
    ASSERT_EQ(pipe(go), 0);
    ASSERT_EQ(pipe(ready), 0);
    std::fflush(nullptr);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const int slave = open(slaveName.c_str(), O_RDWR);
        if (slave < 0 || dup2(slave, 0) < 0 || dup2(slave, 1) < 0) _exit(2);
        close(master);
        setenv("TERM", "xterm", 1);
        setenv("LC_ALL", "C.UTF-8", 1);
        plat::AllocateConsole();
        plat::SetInputModeRaw(0);
        child(ChildSide{go[0], ready[1]});
        _exit(3);
    }
    close(go[0]);
    close(ready[1]);
    parent(master, go[1], ready[0]);
    // What the child writes (its restore at the end) is read so that it never waits for room.
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (waitpid(pid, &status, WNOHANG) != pid) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            ADD_FAILURE() << "the child did not end";
            break;
        }
        pollfd p{master, POLLIN, 0};
        char buffer[256];
        if (poll(&p, 1, 20) > 0 && (p.revents & POLLIN) && read(master, buffer, sizeof buffer) < 0) break;
    }
    close(master);
    close(go[1]);
    close(ready[0]);
    ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

void Type(int master, std::string_view bytes) {
    ASSERT_EQ(write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
}

// A flush drops what was typed before it: keys already taken from the terminal and keys still
// in the terminal's queue, a lone ESC among them, however short a time before the flush it came.
TEST(LinuxTerminal, FlushDropsEverythingTypedBefore) {
    for (const bool watching : {false, true}) {
        SCOPED_TRACE(watching ? "keys taken from the terminal already" : "keys in the terminal's queue");
        RunOnTerminal(
            [watching](ChildSide side) {
                if (watching) plat::PendingInputCount(0);  // from now on input is taken as it comes
                Signal(side.Ready);
                Await(side.Go);
                plat::FlushInput(0);
                Signal(side.Ready);
                Check(NextKey() == '7', "a key typed before the flush came after it");
            },
            [](int master, int go, int ready) {
                Await(ready);
                Type(master, "12\x1b");
                std::this_thread::sleep_for(100ms);
                Signal(go);
                Await(ready);
                Type(master, "7");
            });
    }
}

// A lone ESC is told from a sequence by the time since its byte arrived, not since the program
// looked: one that arrived long before is the ESC key at the first look, and bytes that came long
// after it do not make it a sequence.
TEST(LinuxTerminal, LoneEscapeCountsFromItsArrival) {
    RunOnTerminal(
        [](ChildSide side) {
            plat::PendingInputCount(0);
            Signal(side.Ready);
            Await(side.Go);
            Check(plat::PendingInputCount(0) == 2 && NextKey() == 27, "an old lone ESC was not a key at once");
        },
        [](int master, int go, int ready) {
            Await(ready);
            Type(master, "\x1b");
            std::this_thread::sleep_for(300ms);
            Signal(go);
        });
    RunOnTerminal(
        [](ChildSide side) {
            plat::PendingInputCount(0);
            Signal(side.Ready);
            Await(side.Go);
            const bool escape = NextKey() == 27;
            Check(escape && NextKey() == 0 && NextKey() == 'A', "ESC and [A typed apart became one key");
        },
        [](int master, int go, int ready) {
            Await(ready);
            Type(master, "\x1b");
            std::this_thread::sleep_for(300ms);
            Type(master, "[A");
            std::this_thread::sleep_for(100ms);
            Signal(go);
        });
}

// Whether the terminal can show the screen, asked in a child on a pseudo terminal with TERM and
// the locale of `environment`; the parent answers the cursor-position request with `reply`, or not
// at all when it is empty. Gives the child's answer.
std::string Fitness(const std::vector<std::pair<const char*, const char*>>& environment, std::string_view reply,
                    bool& asked) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    EXPECT_GE(master, 0);
    grantpt(master);
    unlockpt(master);
    const std::string slaveName = ptsname(master);
    int answer[2];
    EXPECT_EQ(pipe(answer), 0);
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int slave = open(slaveName.c_str(), O_RDWR);
        if (slave < 0 || dup2(slave, 0) < 0 || dup2(slave, 1) < 0) _exit(2);
        unsetenv("LANG");
        unsetenv("LC_CTYPE");
        unsetenv("TERM");
        for (const auto& [name, value] : environment) setenv(name, value, 1);
        const std::string why = plat::term::WhyUnfit();
        [[maybe_unused]] const ssize_t n = write(answer[1], why.data(), why.size());
        _exit(0);
    }
    close(answer[1]);
    std::string written;
    asked = false;
    for (const auto deadline = std::chrono::steady_clock::now() + 3s; std::chrono::steady_clock::now() < deadline;) {
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) {
            if (waitpid(pid, nullptr, WNOHANG) == pid) break;
            continue;
        }
        char buffer[64];
        const ssize_t n = read(master, buffer, sizeof buffer);
        if (n <= 0) break;
        written.append(buffer, static_cast<std::size_t>(n));
        if (!asked && written.find("\x1b[6n") != std::string::npos) {
            asked = true;
            if (!reply.empty()) Type(master, reply);
        }
    }
    waitpid(pid, nullptr, 0);
    std::string why;
    char buffer[256];
    for (ssize_t n; (n = read(answer[0], buffer, sizeof buffer)) > 0;) why.append(buffer, static_cast<std::size_t>(n));
    close(answer[0]);
    close(master);
    return why;
}

TEST(LinuxTerminal, AScreenNeedsATerminalThatMovesTheCursorAndTakesUtf8) {
    bool asked = false;
    EXPECT_NE(Fitness({{"TERM", "dumb"}, {"LC_ALL", "C.UTF-8"}}, "", asked).find("(TERM=dumb) cannot show"),
              std::string::npos);
    EXPECT_NE(Fitness({{"LC_ALL", "C.UTF-8"}}, "", asked).find("(TERM=) cannot show"), std::string::npos);
    EXPECT_EQ(Fitness({{"TERM", "xterm"}, {"LC_ALL", "C.UTF-8"}}, "", asked), "");
    EXPECT_FALSE(asked) << "a UTF-8 locale needs no question";
    // In the C locale the terminal is asked: one column on after the two-byte letter is UTF-8.
    EXPECT_EQ(Fitness({{"TERM", "xterm"}, {"LC_ALL", "C"}}, "\x1b[5;2R", asked), "");
    EXPECT_TRUE(asked);
    for (const std::string_view reply : {"\x1b[5;3R", ""}) {
        SCOPED_TRACE(reply.empty() ? "no answer" : "two columns on");
        const std::string why = Fitness({{"TERM", "xterm"}, {"LC_ALL", "C"}}, reply, asked);
        EXPECT_TRUE(asked);
        EXPECT_NE(why.find("character set is ANSI_X3.4-1968, not UTF-8"), std::string::npos) << why;
    }
}

}  // namespace
