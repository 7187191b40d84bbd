// Which block devices count as physical drives, and in which order they are numbered
// (drives_disks.h).
// Thread: main.
#include "platform/linux/drives_disks.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>

namespace lindrv {
namespace {

struct TDiskKey {
    std::string_view Kind;
    std::array<std::uint64_t, 2> Numbers{};
    auto operator<=>(const TDiskKey&) const = default;
};

constexpr std::size_t MaxSuffixLetters = 6;

bool IsLower(char c) { return c >= 'a' && c <= 'z'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads a run of digits at the start of `text` (at most 9, no leading zero unless alone).
std::optional<std::uint64_t> TakeNumber(std::string_view& text) {
    std::size_t n = 0;
    while (n < text.size() && IsDigit(text[n])) ++n;
    if (n == 0 || n > 9 || (n > 1 && text[0] == '0')) return std::nullopt;
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < n; ++i) value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
    text.remove_prefix(n);
    return value;
}

std::optional<TDiskKey> ParseDiskName(std::string_view name) {
    for (const std::string_view kind : {"xvd", "sd", "hd", "vd"}) {
        if (!name.starts_with(kind)) continue;
        const std::string_view suffix = name.substr(kind.size());
        if (suffix.empty() || suffix.size() > MaxSuffixLetters || !std::all_of(suffix.begin(), suffix.end(), IsLower))
            return std::nullopt;
        // a = 1 ... z = 26, aa = 27: the order in which the kernel names its disks
        std::uint64_t index = 0;
        for (const char c : suffix) index = index * 26 + static_cast<std::uint64_t>(c - 'a' + 1);
        return TDiskKey{kind, {index, 0}};
    }
    if (name.starts_with("nvme")) {
        std::string_view rest = name.substr(4);
        const auto controller = TakeNumber(rest);
        if (!controller || !rest.starts_with('n')) return std::nullopt;
        rest.remove_prefix(1);
        const auto space = TakeNumber(rest);
        if (!space || !rest.empty()) return std::nullopt;
        return TDiskKey{"nvme", {*controller, *space}};
    }
    if (name.starts_with("mmcblk")) {
        std::string_view rest = name.substr(6);
        const auto number = TakeNumber(rest);
        if (!number || !rest.empty()) return std::nullopt;
        return TDiskKey{"mmcblk", {*number, 0}};
    }
    return std::nullopt;
}

}  // namespace

bool IsWholeDiskName(std::string_view name) { return ParseDiskName(name).has_value(); }

bool DiskNameLess(std::string_view a, std::string_view b) {
    const auto ka = ParseDiskName(a), kb = ParseDiskName(b);
    if (ka && kb && *ka != *kb) return *ka < *kb;
    if (ka.has_value() != kb.has_value()) return ka.has_value();
    return a < b;
}

std::vector<std::string> OrderDisks(std::vector<std::string> names) {
    std::erase_if(names, [](const std::string& name) { return !IsWholeDiskName(name); });
    std::sort(names.begin(), names.end(), DiskNameLess);
    names.erase(std::unique(names.begin(), names.end()), names.end());
    if (names.size() > MaxDisks) names.resize(MaxDisks);
    return names;
}

std::vector<std::string> ListWholeDisks(const std::string& sysBlock) {
    namespace fs = std::filesystem;
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(sysBlock, error), end; !error && it != end; it.increment(error)) {
        std::string name = it->path().filename().string();
        std::error_code missing;
        if (IsWholeDiskName(name) && fs::exists(it->path() / "device", missing)) names.push_back(std::move(name));
    }
    return OrderDisks(std::move(names));
}

}  // namespace lindrv
