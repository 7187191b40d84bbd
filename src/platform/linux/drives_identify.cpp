#include "platform/linux/drives_identify.h"

#include <algorithm>
#include <fstream>
#include <initializer_list>

#include "app/state.h"

namespace lindrv {
namespace {

void PutWord(std::array<std::uint8_t, 512>& data, std::size_t word, std::uint16_t value) {
    data[2 * word] = static_cast<std::uint8_t>(value);
    data[2 * word + 1] = static_cast<std::uint8_t>(value >> 8);
}

// Printable ASCII with blanks for anything else, without leading or trailing blanks.
std::string Clean(std::string_view text) {
    std::string clean;
    for (const char c : text) clean += c >= 0x21 && c <= 0x7E ? c : ' ';
    const std::size_t first = clean.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    return clean.substr(first, clean.find_last_not_of(' ') - first + 1);
}

std::string ReadAttribute(const std::string& path) {
    std::ifstream file(path);
    std::string text;
    std::getline(file, text, '\0');
    return Clean(text);
}

std::string FirstAttribute(const std::string& folder, std::initializer_list<const char*> names) {
    for (const char* name : names) {
        std::string text = ReadAttribute(folder + "/" + name);
        if (!text.empty()) return text;
    }
    return {};
}

// The serial number from a copy of the unit serial number page (VPD page 80h): page code in byte
// 1, the length of the serial in bytes 2-3, the serial from byte 4 on.
std::string SerialFromVpdPage(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::array<char, 256> page{};
    file.read(page.data(), page.size());
    const std::size_t got = static_cast<std::size_t>(file.gcount());
    if (got < 4 || static_cast<std::uint8_t>(page[1]) != 0x80) return {};
    const std::size_t length = static_cast<std::uint8_t>(page[2]) * 256u + static_cast<std::uint8_t>(page[3]);
    return Clean(std::string_view(page.data() + 4, std::min(length, got - 4)));
}

// A serial number from a world-wide id: the last word of a t10 id (vendor, model, serial), the
// last 20 characters of the identifier of any other kind.
std::string SerialFromWwid(std::string_view wwid) {
    if (wwid.starts_with("t10.")) {
        const std::size_t blank = wwid.find_last_of(' ');
        return blank == std::string_view::npos ? std::string() : std::string(wwid.substr(blank + 1));
    }
    const std::size_t dot = wwid.find('.');
    std::string_view id = dot == std::string_view::npos ? wwid : wwid.substr(dot + 1);
    if (id.size() > 20) id.remove_prefix(id.size() - 20);
    return std::string(id);
}

}  // namespace

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
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < 511; ++i) sum = static_cast<std::uint8_t>(sum + data[i]);
    data[511] = static_cast<std::uint8_t>(-sum);
    return data;
}

void SetSectors(TDiskFacts& facts, std::uint64_t bytes, std::uint32_t logicalSectorSize) {
    facts.SectorSize = logicalSectorSize >= 512 && logicalSectorSize <= LargestSectorSize ? logicalSectorSize : 512;
    facts.Sectors = bytes / facts.SectorSize;
}

TReplySource ChooseReplySource(std::uint8_t command, TAtaOutcome outcome, std::uint64_t capacityBytes) {
    if (outcome == TAtaOutcome::Done) return TReplySource::Drive;
    return command == drives::AtaIdentify && capacityBytes > 0 ? TReplySource::Kernel : TReplySource::None;
}

std::uint32_t GetLogPageDword10(std::uint8_t logId, std::uint32_t bytes) {
    return ((bytes / 4 - 1) & 0x0FFF) << 16 | logId;
}

TDiskFacts NvmeControllerFacts(std::span<const std::uint8_t> identify) {
    if (identify.size() < 72) return {};
    const auto text = [&](std::size_t from, std::size_t length) {
        return Clean(std::string_view(reinterpret_cast<const char*>(identify.data() + from), length));
    };
    return TDiskFacts{text(24, 40), text(4, 20), text(64, 8)};
}

TDiskFacts SysfsFacts(const std::string& sysBlock, std::string_view name) {
    const std::string disk = sysBlock + "/" + std::string(name);
    const std::string device = disk + "/device";
    TDiskFacts facts;
    facts.Model = FirstAttribute(device, {"model", "name"});
    const std::string vendor = ReadAttribute(device + "/vendor");
    if (facts.Model.empty())
        facts.Model = "/dev/" + std::string(name);
    else if (!vendor.empty() && vendor != "ATA" && !facts.Model.starts_with(vendor))
        facts.Model = vendor + " " + facts.Model;
    facts.Firmware = FirstAttribute(device, {"rev", "firmware_rev", "fwrev"});
    facts.Serial = FirstAttribute(device, {"serial"});
    if (facts.Serial.empty()) facts.Serial = ReadAttribute(disk + "/serial");
    if (facts.Serial.empty()) facts.Serial = SerialFromVpdPage(device + "/vpd_pg80");
    if (facts.Serial.empty()) facts.Serial = SerialFromWwid(ReadAttribute(device + "/wwid"));
    return facts;
}

}  // namespace lindrv
