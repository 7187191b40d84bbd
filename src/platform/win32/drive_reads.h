// Reads of a physical drive as Windows takes them: disk.sys completes a read only when its offset
// and length are whole logical sectors of the disk and it ends within the disk's length. The scan
// reads in 512-byte sectors as the drive's identity counts them; where Windows' sectors are longer
// (a USB bridge that shows a 512-byte drive as 4096-byte sectors), a read goes through an aligned
// bounce buffer.
// Thread: main.
#pragma once

#include <cstdint>
#include <span>

namespace plat::win32 {

// A read handle opened: asks Windows for the disk's length and logical sector size.
void BeginReads(void* handle);
void EndReads(void* handle);

// Reads `buffer.size()` bytes at byte `offset`; the bytes delivered, 0 on any failure. A read
// reaching past Windows' end of the disk delivers what lies before it.
std::uint32_t ReadAligned(void* handle, std::uint64_t offset, std::span<std::uint8_t> buffer);

}  // namespace plat::win32
