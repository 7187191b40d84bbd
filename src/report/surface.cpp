// The surface of a scan in stretches: the table the scan fills block by block, and the
// CSV and speed points the reports derive from it after the scan.
// Thread: main.
#include "report/surface.h"

#include <algorithm>
#include <cstdio>

#include "report/documents.h"

namespace report {
namespace {

std::uint64_t StretchSectors(const TSurface& surface) {
    return surface.BlocksPerStretch * std::uint64_t{surface.BlockSectors};
}

// Full reads of `bytes` in `micros`: bytes per microsecond are 10^6 bytes a second.
std::optional<double> Speed(std::uint64_t bytes, std::uint64_t micros) {
    if (bytes == 0 || micros == 0) return std::nullopt;
    return static_cast<double>(bytes) / static_cast<double>(micros);
}

std::string Milliseconds(std::uint64_t micros) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", static_cast<double>(micros) / 1000.0);
    return text;
}

}  // namespace

void BeginSurface(TSurface& surface, std::int64_t firstLba, std::int64_t lastLba, std::uint32_t blockSectors,
                  std::uint32_t sectorSize) {
    surface.FirstLba = firstLba;
    surface.LastLba = lastLba;
    surface.BlockSectors = std::max<std::uint32_t>(1, blockSectors);
    surface.SectorSize = sectorSize;
    const auto sectors = lastLba >= firstLba ? static_cast<std::uint64_t>(lastLba - firstLba + 1) : 0;
    surface.RangeBlocks = (sectors + surface.BlockSectors - 1) / surface.BlockSectors;
    surface.BlocksPerStretch = std::max<std::uint64_t>(1, (surface.RangeBlocks + MostStretches - 1) / MostStretches);
    surface.Stretches.assign((surface.RangeBlocks + surface.BlocksPerStretch - 1) / surface.BlocksPerStretch,
                             TStretch{});
}

void AddSurfaceBlock(TSurface& surface, const TBlockResult& block) {
    if (block.Lba < surface.FirstLba) return;
    const auto index = static_cast<std::uint64_t>(block.Lba - surface.FirstLba) / StretchSectors(surface);
    if (index >= surface.Stretches.size()) return;
    TStretch& stretch = surface.Stretches[index];
    if (stretch.Read == 0 || stretch.Worst < block.Class) stretch.Worst = block.Class;
    ++stretch.Read;
    stretch.TotalMicros += block.Micros;
    stretch.MostMicros = std::max(stretch.MostMicros, block.Micros);
    if (block.Class < bcPUNRB) {
        stretch.FullBytes += std::uint64_t{block.Sectors} * surface.SectorSize;
        stretch.FullMicros += block.Micros;
    }
}

std::int64_t StretchFirstLba(const TSurface& surface, std::size_t index) {
    return surface.FirstLba + static_cast<std::int64_t>(index * StretchSectors(surface));
}

std::int64_t StretchLastLba(const TSurface& surface, std::size_t index) {
    return std::min(surface.LastLba,
                    StretchFirstLba(surface, index) + static_cast<std::int64_t>(StretchSectors(surface)) - 1);
}

std::vector<TSpeedPoint> SpeedPoints(const TSurface& surface) {
    const std::size_t stretches = surface.Stretches.size();
    const std::size_t each = (stretches + MostSpeedPoints - 1) / MostSpeedPoints;
    std::vector<TSpeedPoint> points;
    for (std::size_t first = 0; first < stretches; first += each) {
        const std::size_t end = std::min(stretches, first + each);
        std::uint64_t bytes = 0, micros = 0;
        for (std::size_t i = first; i < end; ++i) {
            bytes += surface.Stretches[i].FullBytes;
            micros += surface.Stretches[i].FullMicros;
        }
        points.push_back(
            TSpeedPoint{StretchFirstLba(surface, first), StretchLastLba(surface, end - 1), Speed(bytes, micros)});
    }
    return points;
}

std::string SurfaceCsv(const TSurface& surface) {
    std::string csv = "first_lba,last_lba,blocks,read,worst_class,mean_ms,max_ms,mb_s\n";
    for (std::size_t i = 0; i < surface.Stretches.size(); ++i) {
        const TStretch& s = surface.Stretches[i];
        const std::int64_t first = StretchFirstLba(surface, i), last = StretchLastLba(surface, i);
        const std::uint64_t blocks =
            (static_cast<std::uint64_t>(last - first) + surface.BlockSectors) / surface.BlockSectors;
        csv += std::to_string(first) + ',' + std::to_string(last) + ',' + std::to_string(blocks) + ',' +
               std::to_string(s.Read) + ',';
        if (s.Read > 0)
            csv += std::string(ClassMember(static_cast<TBlockClass>(s.Worst))) + ',' +
                   Milliseconds(s.TotalMicros / s.Read) + ',' + Milliseconds(s.MostMicros) + ',';
        else
            csv += ",,,";
        if (const std::optional<double> speed = Speed(s.FullBytes, s.FullMicros)) {
            char text[32];
            std::snprintf(text, sizeof text, "%.2f", *speed);
            csv += text;
        }
        csv += '\n';
    }
    return csv;
}

}  // namespace report
