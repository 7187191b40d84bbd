// The headless harness (platform/headless/harness.h): the program started on a thread of its own,
// which plays main, and the test's calls: keys queued, the clock moved on, the screen read.
// Threads: main, test.
#include "platform/headless/harness.h"

#include <new>
#include <sstream>

#include "app/main.h"
#include "app/state.h"
#include "platform/exit_lines.h"
#include "platform/headless/runtime.h"
#include "platform/screen/codepage.h"

namespace headless {

TRuntime& Runtime() {
    static TRuntime runtime;
    return runtime;
}

plat::InputRecord KeyRecord(Key key, bool down) {
    struct TKeyCode {
        std::uint16_t Vk;
        char Ascii;
    };
    static constexpr TKeyCode Codes[] = {
        {13, 13}, {27, 27}, {32, ' '}, {38, 0}, {40, 0}, {37, 0}, {39, 0},
        {112, 0}, {115, 0}, {121, 0},  {8, 8},  {9, 9},  {67, 3},
    };
    const TKeyCode code = Codes[static_cast<int>(key)];
    return plat::InputRecord{plat::KeyEvent, down, code.Vk, code.Ascii};
}

namespace {

plat::InputRecord CharRecord(char c, bool down) {
    std::uint16_t vk = 0;
    if (c >= '0' && c <= '9') vk = static_cast<std::uint16_t>(c);
    if (c >= 'a' && c <= 'z') vk = static_cast<std::uint16_t>(c - 'a' + 'A');
    if (c >= 'A' && c <= 'Z') vk = static_cast<std::uint16_t>(c);
    if (c == ' ') vk = 32;
    return plat::InputRecord{plat::KeyEvent, down, vk, c};
}

bool Idle(const TRuntime& rt) { return rt.Exited || (rt.ProgramWaiting && rt.Queue.empty() && rt.Scheduled.empty()); }

}  // namespace

Harness::Harness(TOptions options) {
    TRuntime& rt = Runtime();
    {
        std::lock_guard lock(rt.Mutex);
        rt.Options = options;
        rt.Queue.clear();
        rt.Scheduled.clear();
        rt.AfterFlush.clear();
        rt.ProgramWaiting = false;
        rt.Stopping = false;
        rt.Exited = false;
        rt.ExitCode = 0;
        rt.Now = 0;
        rt.Sleepers.clear();
        rt.RunningBackground = 0;
        rt.Advancing = false;
        rt.Beeps.clear();
        rt.StdinReads.clear();
        rt.RealStart = std::chrono::steady_clock::now();
    }
    App.~TAppState();
    new (&App) TAppState();
    plat::ForgetExitLines();
    auto& screen = plat::screen::TheScreen();
    screen.Reset(options.WindowSize);
    screen.SetSizeLocked(options.SizeLocked);
    if (options.Prepare) options.Prepare();
    if (!options.StartProgram) return;
    rt.Program = std::thread([] {
        int code = 0;
        try {
            Main();
        } catch (const TExit& exit) {
            code = exit.Code;
        } catch (const TStop&) {
        }
        TRuntime& r = Runtime();
        std::lock_guard lock(r.Mutex);
        r.Exited = true;
        r.ExitCode = code;
        r.Changed.notify_all();
    });
}

Harness::~Harness() { WaitStopped(); }

void Harness::WaitStopped() {
    TRuntime& rt = Runtime();
    {
        std::lock_guard lock(rt.Mutex);
        rt.Stopping = true;
        rt.Changed.notify_all();
    }
    if (rt.Program.joinable()) rt.Program.join();
    for (std::thread& t : rt.Background)
        if (t.joinable()) t.join();
    rt.Background.clear();
}

void Harness::Push(const plat::InputRecord& record) {
    TRuntime& rt = Runtime();
    std::lock_guard lock(rt.Mutex);
    rt.Queue.push_back(record);
    rt.Changed.notify_all();
}

// A press and its release are queued together, so that no key wait starts between them.
void Harness::Press(Key key) { PushPair(KeyRecord(key, true), KeyRecord(key, false)); }

void Harness::PushPair(const plat::InputRecord& down, const plat::InputRecord& up, std::uint64_t atMs) {
    TRuntime& rt = Runtime();
    std::lock_guard lock(rt.Mutex);
    if (atMs == Immediately) {
        rt.Queue.push_back(down);
        rt.Queue.push_back(up);
    } else {
        rt.Scheduled.push_back(TScheduledKey{atMs, down});
        rt.Scheduled.push_back(TScheduledKey{atMs, up});
    }
    rt.Changed.notify_all();
}

void Harness::Press(std::initializer_list<Key> keys) {
    for (Key k : keys) Press(k);
}

void Harness::Type(std::string_view chars) {
    for (char c : chars) PushPair(CharRecord(c, true), CharRecord(c, false));
}

void Harness::PressAt(std::uint64_t atMs, Key key) { PushPair(KeyRecord(key, true), KeyRecord(key, false), atMs); }

void Harness::SendThenPressAt(Key key, std::uint64_t atMs, Key later) {
    {
        TRuntime& rt = Runtime();
        std::lock_guard lock(rt.Mutex);
        for (const bool down : {true, false}) {
            rt.Queue.push_back(KeyRecord(key, down));
            rt.Scheduled.push_back(TScheduledKey{atMs, KeyRecord(later, down)});
        }
        rt.Changed.notify_all();
    }
    RunUntilIdle();
}

void Harness::PressAfterNextFlush(Key key) {
    TRuntime& rt = Runtime();
    std::lock_guard lock(rt.Mutex);
    rt.AfterFlush.push_back(KeyRecord(key, true));
    rt.AfterFlush.push_back(KeyRecord(key, false));
}

void Harness::PushAt(std::uint64_t atMs, const plat::InputRecord& record) {
    TRuntime& rt = Runtime();
    std::lock_guard lock(rt.Mutex);
    rt.Scheduled.push_back(TScheduledKey{atMs, record});
    rt.Changed.notify_all();
}

bool Harness::RunUntilIdle(std::uint32_t realTimeoutMs) {
    TRuntime& rt = Runtime();
    std::unique_lock lock(rt.Mutex);
    return rt.Changed.wait_for(lock, std::chrono::milliseconds(realTimeoutMs), [&] { return Idle(rt); });
}

void Harness::Send(Key key) {
    Press(key);
    RunUntilIdle();
}

void Harness::Send(std::initializer_list<Key> keys) {
    for (Key k : keys) Send(k);
}

void Harness::SendText(std::string_view chars) {
    for (char c : chars) {
        Type(std::string_view(&c, 1));
        RunUntilIdle();
    }
}

void Harness::Advance(std::uint64_t ms) {
    TRuntime& rt = Runtime();
    std::unique_lock lock(rt.Mutex);
    rt.Changed.wait(lock, [&] { return Idle(rt); });
    rt.Advancing = true;
    AdvanceLocked(lock, ms);
    rt.Advancing = false;
    rt.Changed.notify_all();
    lock.unlock();
    RunUntilIdle();
}

bool Harness::Exited() const {
    std::lock_guard lock(Runtime().Mutex);
    return Runtime().Exited;
}

int Harness::ExitCode() const {
    std::lock_guard lock(Runtime().Mutex);
    return Runtime().ExitCode;
}

std::uint64_t Harness::Now() const {
    std::lock_guard lock(Runtime().Mutex);
    return Runtime().Now;
}

std::string Harness::Row(int y) const { return Text(0, y, plat::screen::TheScreen().Size().X); }

std::string Harness::Text(int x, int y, int length) const {
    std::string oem;
    for (int i = 0; i < length; ++i) oem += static_cast<char>(Char(x + i, y));
    return plat::screen::OemToUtf8(oem);
}

std::uint8_t Harness::Attr(int x, int y) const {
    return plat::screen::TheScreen().At(plat::Coord{static_cast<std::int16_t>(x), static_cast<std::int16_t>(y)}).Attr;
}

std::uint8_t Harness::Char(int x, int y) const {
    return plat::screen::TheScreen().At(plat::Coord{static_cast<std::int16_t>(x), static_cast<std::int16_t>(y)}).Char;
}

plat::Coord Harness::Cursor() const { return plat::screen::TheScreen().Cursor(); }

bool Harness::CursorVisible() const { return plat::screen::TheScreen().GetCursorInfo().Visible; }

std::uint16_t Harness::CurrentAttribute() const { return plat::screen::TheScreen().Attribute(); }

std::string Harness::Title() const { return plat::screen::TheScreen().Title(); }

std::string Harness::Dump() const {
    std::ostringstream out;
    const plat::Coord size = plat::screen::TheScreen().Size();
    for (int y = 0; y < size.Y; ++y) out << (y < 10 ? " " : "") << y << "|" << Row(y) << "|\n";
    return out.str();
}

std::vector<TBeep> Harness::Beeps() const {
    std::lock_guard lock(Runtime().Mutex);
    return Runtime().Beeps;
}

std::vector<plat::TExitLine> Harness::ExitLines() const { return plat::ExitLines(); }

std::string Harness::StdinLinesRead() const {
    std::lock_guard lock(Runtime().Mutex);
    return Runtime().StdinReads;
}

}  // namespace headless
