// A console screen buffer in memory: cells of an OEM character byte and an attribute byte, a
// cursor, a current attribute and the text stream, behaving as the Win32 console does where the
// program relies on it. The Linux terminal presents one; the headless harness reads one.
// Every member may be called from any thread.
// Threads: main, clock, ticker, presenter, test.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace plat::screen {

struct Cell {
    std::uint8_t Char = ' ';
    std::uint8_t Attr = 0x07;
    friend bool operator==(Cell, Cell) = default;
};

struct Snapshot {
    Coord Size;
    std::vector<Cell> Cells;  // row by row
    Coord Cursor;
    bool CursorVisible = true;
    std::uint64_t Generation = 0;

    const Cell& At(int x, int y) const { return Cells[static_cast<std::size_t>(y * Size.X + x)]; }
};

class ScreenBuffer {
public:
    explicit ScreenBuffer(Coord size = {80, 25});

    // Back to a fresh buffer of `size`: blank cells in attribute 7, cursor at (0, 0), visible.
    void Reset(Coord size);

    // Size. A locked buffer refuses every change of its size (a window that cannot hold the
    // requested buffer).
    bool SetSize(Coord size);
    void SetSizeLocked(bool locked);
    Coord Size() const;

    bool SetCursor(Coord pos);
    Coord Cursor() const;
    CursorInfo GetCursorInfo() const;
    void SetCursorInfo(const CursorInfo& info);
    void SetAttribute(std::uint16_t attribute);
    std::uint16_t Attribute() const;
    void SetTitle(std::string title);
    std::string Title() const;

    void Write(std::string_view bytes);
    std::uint32_t FillChar(std::uint8_t c, std::uint32_t count, Coord at);
    std::uint32_t FillAttr(std::uint8_t attribute, std::uint32_t count, Coord at);
    std::uint32_t WriteChars(std::string_view chars, Coord at);
    void Scroll(Rect scroll, Coord dest, Cell fill);

    Cell At(Coord pos) const;
    Snapshot Take() const;
    std::uint64_t Generation() const;
    // Waits until the generation differs from `seen` or the deadline passes; returns the
    // generation then.
    std::uint64_t WaitForChange(std::uint64_t seen, std::chrono::steady_clock::time_point deadline) const;

private:
    bool Inside(Coord pos) const { return pos.X >= 0 && pos.Y >= 0 && pos.X < size_.X && pos.Y < size_.Y; }
    Cell& CellAt(int x, int y) { return cells_[static_cast<std::size_t>(y * size_.X + x)]; }
    void ScrollWholeUp();  // the text stream passed the last row
    void Changed();
    // The lock for every call but Take. A thread that writes cells without pause would otherwise
    // take the lock again before a waiting snapshot gets it; so the others stand back while a
    // snapshot waits for the lock.
    std::unique_lock<std::mutex> Lock() const;

    mutable std::mutex mutex_;
    mutable std::atomic<int> readers_{0};  // snapshots waiting for the lock
    // Waiting for a change does not hold the cells' lock: its own lock, the generation atomic.
    mutable std::mutex waitMutex_;
    mutable std::condition_variable changed_;
    mutable std::atomic<int> sleepers_{0};
    Coord size_;
    bool locked_ = false;
    std::vector<Cell> cells_;
    Coord cursor_;
    CursorInfo cursorInfo_;
    std::uint16_t attribute_ = 0x07;
    std::string title_;
    std::atomic<std::uint64_t> generation_{0};
};

// The one buffer of the process, for the backends that keep the screen in memory.
ScreenBuffer& TheScreen();

}  // namespace plat::screen
