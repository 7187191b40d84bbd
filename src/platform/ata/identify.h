// IDENTIFY DEVICE data made up for a disk that takes no ATA command (NVMe, virtio, plain SCSI, a
// USB bridge without ATA pass-through) or refuses IDENTIFY, from what the operating system knows
// about it, so that it can be listed, chosen and scanned. Shared by the Linux and Windows drive
// layers.
// Thread: main.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace ata {

struct TDiskFacts {
    std::string Model;
    std::string Serial;
    std::string Firmware;
    std::uint64_t Sectors = 0;       // logical sectors
    std::uint32_t SectorSize = 512;  // bytes of a logical sector
};

// Printable ASCII with blanks for anything else, without leading or trailing blanks.
std::string CleanText(std::string_view text);

// The model as a disk's vendor and product name give it: the product alone when the vendor is
// empty, names the bus rather than a maker ("ATA", "NVMe") or already starts the product.
std::string ModelOf(std::string_view vendor, std::string_view product);

// Sets the sectors of a disk of `bytes` whose logical sectors are `logicalSectorSize` bytes: its
// own when the program reads in them (up to LargestSectorSize bytes), 512-byte ones otherwise.
void SetSectors(TDiskFacts& facts, std::uint64_t bytes, std::uint32_t logicalSectorSize);

// Writes `text` into an ATA string field: blank-padded, cut at the field's length, the two
// characters of each word swapped. Characters outside printable ASCII become blanks.
void PutAtaString(std::span<std::uint8_t> field, std::string_view text);

// 512 bytes laid out as a drive returns them: serial in words 10-19, firmware in 23-26, model
// in 27-46, the 28-bit sector count in words 60-61 (0x0FFFFFFF when it does not fit), the 48-bit
// count in words 100-103 with the 48-bit feature set flagged, the sector size in word 106 (valid;
// bit 12 and words 117-118, the size in 16-bit words, when it is longer than 512 bytes) and a
// valid checksum in word 255.
std::array<std::uint8_t, 512> SynthesizeIdentify(const TDiskFacts& facts);

// Rewrites the capacity of IDENTIFY DEVICE data to `sectors` (words 60-61 and 100-103, as
// SynthesizeIdentify writes them) and its checksum where it has one.
void SetIdentifySectors(std::span<std::uint8_t, 512> data, std::uint64_t sectors);

}  // namespace ata
