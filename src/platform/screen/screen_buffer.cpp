// A console screen buffer in memory (screen_buffer.h).
// Threads: main, clock, ticker, presenter, test.
#include "platform/screen/screen_buffer.h"

#include <algorithm>

namespace plat::screen {

ScreenBuffer::ScreenBuffer(Coord size) : size_(size), cells_(static_cast<std::size_t>(size.X * size.Y)) {}

void ScreenBuffer::Reset(Coord size) {
    const auto lock = Lock();
    size_ = size;
    locked_ = false;
    cells_.assign(static_cast<std::size_t>(size.X * size.Y), Cell{});
    cursor_ = Coord{};
    cursorInfo_ = CursorInfo{};
    attribute_ = 0x07;
    title_.clear();
    Changed();
}

bool ScreenBuffer::SetSize(Coord size) {
    const auto lock = Lock();
    if (size.X <= 0 || size.Y <= 0) return false;
    if (size == size_) return true;
    if (locked_) return false;
    std::vector<Cell> cells(static_cast<std::size_t>(size.X * size.Y));
    for (int y = 0; y < std::min(size.Y, size_.Y); ++y)
        for (int x = 0; x < std::min(size.X, size_.X); ++x)
            cells[static_cast<std::size_t>(y * size.X + x)] = CellAt(x, y);
    cells_ = std::move(cells);
    size_ = size;
    cursor_.X = std::min<std::int16_t>(cursor_.X, static_cast<std::int16_t>(size.X - 1));
    cursor_.Y = std::min<std::int16_t>(cursor_.Y, static_cast<std::int16_t>(size.Y - 1));
    Changed();
    return true;
}

void ScreenBuffer::SetSizeLocked(bool locked) {
    const auto lock = Lock();
    locked_ = locked;
}

Coord ScreenBuffer::Size() const {
    const auto lock = Lock();
    return size_;
}

bool ScreenBuffer::SetCursor(Coord pos) {
    const auto lock = Lock();
    if (!Inside(pos)) return false;
    if (!(pos == cursor_)) {
        cursor_ = pos;
        Changed();
    }
    return true;
}

Coord ScreenBuffer::Cursor() const {
    const auto lock = Lock();
    return cursor_;
}

CursorInfo ScreenBuffer::GetCursorInfo() const {
    const auto lock = Lock();
    return cursorInfo_;
}

void ScreenBuffer::SetCursorInfo(const CursorInfo& info) {
    const auto lock = Lock();
    cursorInfo_ = info;
    Changed();
}

void ScreenBuffer::SetAttribute(std::uint16_t attribute) {
    const auto lock = Lock();
    attribute_ = attribute;
}

std::uint16_t ScreenBuffer::Attribute() const {
    const auto lock = Lock();
    return attribute_;
}

void ScreenBuffer::SetTitle(std::string title) {
    const auto lock = Lock();
    title_ = std::move(title);
}

std::string ScreenBuffer::Title() const {
    const auto lock = Lock();
    return title_;
}

void ScreenBuffer::ScrollWholeUp() {
    std::copy(cells_.begin() + size_.X, cells_.end(), cells_.begin());
    std::fill(cells_.end() - size_.X, cells_.end(), Cell{' ', static_cast<std::uint8_t>(attribute_)});
}

void ScreenBuffer::Write(std::string_view bytes) {
    if (bytes.empty()) return;
    const auto lock = Lock();
    for (char byte : bytes) {
        if (byte == '\r') {
            cursor_.X = 0;
            continue;
        }
        if (byte == '\n') {
            cursor_.X = 0;
            ++cursor_.Y;
        } else {
            CellAt(cursor_.X, cursor_.Y) = Cell{static_cast<std::uint8_t>(byte), static_cast<std::uint8_t>(attribute_)};
            if (++cursor_.X == size_.X) {
                cursor_.X = 0;
                ++cursor_.Y;
            }
        }
        if (cursor_.Y == size_.Y) {
            ScrollWholeUp();
            cursor_.Y = static_cast<std::int16_t>(size_.Y - 1);
        }
    }
    Changed();
}

std::uint32_t ScreenBuffer::FillChar(std::uint8_t c, std::uint32_t count, Coord at) {
    const auto lock = Lock();
    if (!Inside(at)) return 0;
    const auto start = static_cast<std::size_t>(at.Y * size_.X + at.X);
    const auto n = std::min<std::size_t>(count, cells_.size() - start);
    for (std::size_t i = 0; i < n; ++i) cells_[start + i].Char = c;
    if (n) Changed();
    return static_cast<std::uint32_t>(n);
}

std::uint32_t ScreenBuffer::FillAttr(std::uint8_t attribute, std::uint32_t count, Coord at) {
    const auto lock = Lock();
    if (!Inside(at)) return 0;
    const auto start = static_cast<std::size_t>(at.Y * size_.X + at.X);
    const auto n = std::min<std::size_t>(count, cells_.size() - start);
    for (std::size_t i = 0; i < n; ++i) cells_[start + i].Attr = attribute;
    if (n) Changed();
    return static_cast<std::uint32_t>(n);
}

std::uint32_t ScreenBuffer::WriteChars(std::string_view chars, Coord at) {
    const auto lock = Lock();
    if (!Inside(at)) return 0;
    const auto start = static_cast<std::size_t>(at.Y * size_.X + at.X);
    const auto n = std::min<std::size_t>(chars.size(), cells_.size() - start);
    for (std::size_t i = 0; i < n; ++i) cells_[start + i].Char = static_cast<std::uint8_t>(chars[i]);
    if (n) Changed();
    return static_cast<std::uint32_t>(n);
}

void ScreenBuffer::Scroll(Rect scroll, Coord dest, Cell fill) {
    const auto lock = Lock();
    const int left = std::max<int>(scroll.Left, 0), top = std::max<int>(scroll.Top, 0);
    const int right = std::min<int>(scroll.Right, size_.X - 1), bottom = std::min<int>(scroll.Bottom, size_.Y - 1);
    if (left > right || top > bottom) return;
    const int width = right - left + 1, height = bottom - top + 1;
    std::vector<Cell> moved(static_cast<std::size_t>(width * height));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            moved[static_cast<std::size_t>(y * width + x)] = CellAt(left + x, top + y);
            CellAt(left + x, top + y) = fill;
        }
    const int dx = dest.X + (left - scroll.Left), dy = dest.Y + (top - scroll.Top);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const Coord to{static_cast<std::int16_t>(dx + x), static_cast<std::int16_t>(dy + y)};
            if (Inside(to)) CellAt(to.X, to.Y) = moved[static_cast<std::size_t>(y * width + x)];
        }
    Changed();
}

Cell ScreenBuffer::At(Coord pos) const {
    const auto lock = Lock();
    return Inside(pos) ? cells_[static_cast<std::size_t>(pos.Y * size_.X + pos.X)] : Cell{};
}

Snapshot ScreenBuffer::Take() const {
    ++readers_;
    const std::lock_guard lock(mutex_);
    if (--readers_ == 0) readers_.notify_all();
    return Snapshot{size_, cells_, cursor_, cursorInfo_.Visible, generation_};
}

std::uint64_t ScreenBuffer::Generation() const { return generation_; }

std::uint64_t ScreenBuffer::WaitForChange(std::uint64_t seen, std::chrono::steady_clock::time_point deadline) const {
    std::unique_lock lock(waitMutex_);
    ++sleepers_;
    changed_.wait_until(lock, deadline, [&] { return generation_ != seen; });
    --sleepers_;
    return generation_;
}

void ScreenBuffer::Changed() {
    ++generation_;
    if (sleepers_ != 0) {  // a waiter counts itself before it looks at the generation
        const std::lock_guard lock(waitMutex_);
        changed_.notify_all();
    }
}

std::unique_lock<std::mutex> ScreenBuffer::Lock() const {
    for (int waiting = readers_; waiting != 0; waiting = readers_) readers_.wait(waiting);
    return std::unique_lock(mutex_);
}

ScreenBuffer& TheScreen() {
    static ScreenBuffer buffer;
    return buffer;
}

}  // namespace plat::screen
