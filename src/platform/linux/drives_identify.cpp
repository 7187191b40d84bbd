// What the kernel knows about a disk that takes no ATA command or refuses IDENTIFY
// (drives_identify.h).
// Thread: main.
#include "platform/linux/drives_identify.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <initializer_list>

namespace lindrv {
namespace {

std::string ReadAttribute(const std::string& path) {
    std::ifstream file(path);
    std::string text;
    std::getline(file, text, '\0');
    return ata::CleanText(text);
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
    return ata::CleanText(std::string_view(page.data() + 4, std::min(length, got - 4)));
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

std::uint32_t GetLogPageDword10(std::uint8_t logId, std::uint32_t bytes) {
    return ((bytes / 4 - 1) & 0x0FFF) << 16 | logId;
}

ata::TDiskFacts NvmeControllerFacts(std::span<const std::uint8_t> identify) {
    if (identify.size() < 72) return {};
    const auto text = [&](std::size_t from, std::size_t length) {
        return ata::CleanText(std::string_view(reinterpret_cast<const char*>(identify.data() + from), length));
    };
    return ata::TDiskFacts{text(24, 40), text(4, 20), text(64, 8)};
}

ata::TDiskFacts SysfsFacts(const std::string& sysBlock, std::string_view name) {
    const std::string disk = sysBlock + "/" + std::string(name);
    const std::string device = disk + "/device";
    ata::TDiskFacts facts;
    facts.Model = FirstAttribute(device, {"model", "name"});
    const std::string vendor = ReadAttribute(device + "/vendor");
    facts.Model = facts.Model.empty() ? "/dev/" + std::string(name) : ata::ModelOf(vendor, facts.Model);
    facts.Firmware = FirstAttribute(device, {"rev", "firmware_rev", "fwrev"});
    facts.Serial = FirstAttribute(device, {"serial"});
    if (facts.Serial.empty()) facts.Serial = ReadAttribute(disk + "/serial");
    if (facts.Serial.empty()) facts.Serial = SerialFromVpdPage(device + "/vpd_pg80");
    if (facts.Serial.empty()) facts.Serial = SerialFromWwid(ReadAttribute(device + "/wwid"));
    return facts;
}

}  // namespace lindrv
