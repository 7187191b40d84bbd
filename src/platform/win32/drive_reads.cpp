// Reads of a physical drive as Windows takes them (drive_reads.h): whole logical sectors, through
// an aligned bounce buffer where Windows' sectors are longer than the drive's.
// Thread: main.
#include "platform/win32/drive_reads.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "platform/win32/drive_calls.h"
#include "platform/win32/storage.h"

namespace plat::win32 {
namespace {

constexpr std::uintptr_t PageSize = 4096;

struct TReads {
    HANDLE Handle = nullptr;
    TReadGeometry Geometry;
    std::vector<std::uint8_t> Bounce;  // grows to the largest unaligned read, two sectors and a page over
};
std::array<TReads, 4> Reads{};

TReads* FindReads(HANDLE handle) {
    for (TReads& reads : Reads)
        if (reads.Handle != nullptr && reads.Handle == handle) return &reads;
    return nullptr;
}

// One read of `length` bytes at `offset`: the bytes delivered, 0 on failure.
std::uint32_t ReadAt(HANDLE handle, std::uint64_t offset, std::uint8_t* buffer, std::uint32_t length) {
    const auto low = static_cast<DWORD>(offset);
    auto high = static_cast<LONG>(offset >> 32);
    if (sys::SetFilePointer(handle, static_cast<LONG>(low), &high, FILE_BEGIN) != low) return 0;
    DWORD read = 0;
    return sys::ReadFile(handle, buffer, length, &read, nullptr) ? read : 0;
}

}  // namespace

void BeginReads(void* handle) {
    for (TReads& reads : Reads)
        if (reads.Handle == nullptr) {
            reads.Handle = handle;
            reads.Geometry = QueryReadGeometry(handle);
            return;
        }
}

void EndReads(void* handle) {
    if (TReads* reads = FindReads(handle)) *reads = TReads{};
}

std::uint32_t ReadAligned(void* handle, std::uint64_t offset, std::span<std::uint8_t> buffer) {
    TReads* found = FindReads(handle);
    const auto length = static_cast<std::uint32_t>(buffer.size());
    // A disk whose length Windows does not give (Wine's stand-in) is read as asked.
    if (!found || found->Geometry.Bytes == 0) return ReadAt(handle, offset, buffer.data(), length);
    TReads& reads = *found;
    const std::uint64_t end = std::min<std::uint64_t>(offset + length, reads.Geometry.Bytes);
    if (offset >= end) return 0;
    const std::uint64_t sector = reads.Geometry.SectorSize;
    const std::uint64_t first = offset / sector * sector;
    const std::uint64_t last = std::min<std::uint64_t>((end + sector - 1) / sector * sector, reads.Geometry.Bytes);
    const auto wanted = static_cast<std::uint32_t>(end - offset);
    if (first == offset && last == end) return ReadAt(handle, offset, buffer.data(), wanted) == wanted ? wanted : 0;
    const auto whole = static_cast<std::uint32_t>(last - first);
    reads.Bounce.resize(std::max<std::size_t>(reads.Bounce.size(), whole + PageSize));
    // Page-aligned, as the scan's own buffer is.
    const auto address = reinterpret_cast<std::uintptr_t>(reads.Bounce.data());
    auto* bounce = reads.Bounce.data() + ((PageSize - address % PageSize) % PageSize);
    if (ReadAt(handle, first, bounce, whole) != whole) return 0;
    std::memcpy(buffer.data(), bounce + (offset - first), wanted);
    return wanted;
}

}  // namespace plat::win32
