// IDENTIFY DEVICE data made up from what the operating system knows about a disk
// (platform/ata/identify.h).
// Thread: main.
#include "platform/ata/identify.h"

#include <algorithm>

#include "platform/drive_records.h"

namespace ata {
namespace {

void PutWord(std::span<std::uint8_t, 512> data, std::size_t word, std::uint16_t value) {
    data[2 * word] = static_cast<std::uint8_t>(value);
    data[2 * word + 1] = static_cast<std::uint8_t>(value >> 8);
}

// Word 255: the signature A5h and the byte that makes all 512 sum to 0.
void PutChecksum(std::span<std::uint8_t, 512> data) {
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < 511; ++i) sum = static_cast<std::uint8_t>(sum + data[i]);
    data[511] = static_cast<std::uint8_t>(-sum);
}

}  // namespace

std::string CleanText(std::string_view text) {
    std::string clean;
    for (const char c : text) clean += c >= 0x21 && c <= 0x7E ? c : ' ';
    const std::size_t first = clean.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return clean.substr(first, clean.find_last_not_of(' ') - first + 1);
}

std::string ModelOf(std::string_view vendor, std::string_view product) {
    if (vendor.empty() || vendor == "ATA" || vendor == "NVMe" || product.starts_with(vendor))
        return std::string(product);
    if (product.empty()) return std::string(vendor);
    return std::string(vendor) + " " + std::string(product);
}

void PutAtaString(std::span<std::uint8_t> field, std::string_view text) {
    for (std::size_t i = 0; i < field.size(); ++i) {
        const char c = i < text.size() ? text[i] : ' ';
        field[i ^ 1] = static_cast<std::uint8_t>(c >= 0x20 && c <= 0x7E ? c : ' ');
    }
}

std::array<std::uint8_t, 512> SynthesizeIdentify(const TDiskFacts& facts) {
    std::array<std::uint8_t, 512> data{};
    const std::span<std::uint8_t> bytes(data);
    PutWord(data, 0, 0x0040);  // fixed device
    const std::uint64_t sectors = std::min<std::uint64_t>(facts.Sectors, 0x0000FFFFFFFFFFFF);
    const std::uint64_t cylinders = std::min<std::uint64_t>(sectors / (16 * 63), 16383);
    PutWord(data, 1, static_cast<std::uint16_t>(cylinders));
    PutWord(data, 3, 16);
    PutWord(data, 6, 63);
    PutAtaString(bytes.subspan(20, 20), facts.Serial);
    PutAtaString(bytes.subspan(46, 8), facts.Firmware);
    PutAtaString(bytes.subspan(54, 40), facts.Model);
    PutWord(data, 49, 0x0300);  // LBA and DMA supported
    const std::uint32_t lba28 = static_cast<std::uint32_t>(std::min<std::uint64_t>(sectors, 0x0FFFFFFF));
    PutWord(data, 60, static_cast<std::uint16_t>(lba28));
    PutWord(data, 61, static_cast<std::uint16_t>(lba28 >> 16));
    PutWord(data, 83, 0x4400);  // 48-bit address feature set supported
    PutWord(data, 84, 0x4000);
    PutWord(data, 86, 0x0400);  // and enabled
    PutWord(data, 87, 0x4000);
    for (std::size_t w = 0; w < 4; ++w) PutWord(data, 100 + w, static_cast<std::uint16_t>(sectors >> (16 * w)));
    if (facts.SectorSize > 512) {
        PutWord(data, 106, 0x4000 | 0x1000);  // valid, logical sector longer than 256 words
        const std::uint32_t words = facts.SectorSize / 2;
        PutWord(data, 117, static_cast<std::uint16_t>(words));
        PutWord(data, 118, static_cast<std::uint16_t>(words >> 16));
    } else {
        PutWord(data, 106, 0x4000);
    }
    data[510] = 0xA5;
    PutChecksum(data);
    return data;
}

void SetIdentifySectors(std::span<std::uint8_t, 512> data, std::uint64_t sectors) {
    sectors = std::min<std::uint64_t>(sectors, 0x0000FFFFFFFFFFFF);
    const std::uint32_t lba28 = static_cast<std::uint32_t>(std::min<std::uint64_t>(sectors, 0x0FFFFFFF));
    PutWord(data, 60, static_cast<std::uint16_t>(lba28));
    PutWord(data, 61, static_cast<std::uint16_t>(lba28 >> 16));
    for (std::size_t w = 0; w < 4; ++w) PutWord(data, 100 + w, static_cast<std::uint16_t>(sectors >> (16 * w)));
    if (data[510] == 0xA5) PutChecksum(data);
}

void SetSectors(TDiskFacts& facts, std::uint64_t bytes, std::uint32_t logicalSectorSize) {
    facts.SectorSize =
        logicalSectorSize >= 512 && logicalSectorSize <= plat::LargestSectorSize ? logicalSectorSize : 512;
    facts.Sectors = bytes / facts.SectorSize;
}

}  // namespace ata
