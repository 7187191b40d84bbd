// The scan as a GNU ddrescue mapfile, written from the findings as they are read back, one line
// an extent.
// Thread: main.
#include "report/mapfile.h"

#include <algorithm>
#include <string>

#include "report/chunks.h"
#include "report/documents.h"

namespace report {
namespace {

// Consecutive extents of one status make one line.
struct TMapWriter {
    TChunks Out;
    std::uint64_t Pos = 0;
    std::uint64_t Size = 0;
    char Status = '?';

    void Add(std::uint64_t bytes, char status) {
        if (bytes == 0) return;
        if (Size > 0 && status != Status) Line();
        Status = status;
        Size += bytes;
    }
    void Line() {
        Out.Text("0x");
        Out.Number(Pos, 16);
        Out.Text("  0x");
        Out.Number(Size, 16);
        Out.Text("  ");
        Out.Text(std::string_view(&Status, 1));
        Out.Text("\n");
        Pos += Size;
        Size = 0;
    }
    void End() {
        if (Size > 0) Line();
        Out.Flush();
    }
};

// A drive's text in a comment line: what would end or break the line becomes a blank.
std::string CommentText(std::string_view text) {
    std::string line(text);
    for (char& c : line)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    return line;
}

}  // namespace

void WriteMapfile(const TScanRecord& record, const TEmit& emit) {
    const std::uint64_t sector = record.Drive.SectorSize;
    const auto drive = static_cast<std::uint64_t>(std::max<std::int64_t>(record.Drive.Sectors, 0));
    const auto first = std::min(static_cast<std::uint64_t>(record.FirstLba), drive);
    const auto reached = std::clamp(static_cast<std::uint64_t>(record.ReachedLba), first, drive);
    TMapWriter map{{emit, {}}};
    map.Out.Text("# Mapfile. Created by " + std::string(ProgramName) + " " + std::string(ProgramVersion()) +
                 " from a surface scan\n# Drive: " + CommentText(record.Drive.Model) + " (serial " +
                 CommentText(record.Drive.Serial) + "), " + std::to_string(drive) + " sectors of " +
                 std::to_string(sector) + " bytes\n# Scan: LBA " + std::to_string(record.FirstLba) + "-" +
                 std::to_string(record.LastLba) + ", started " + IsoTime(record.Started) + ", " +
                 std::string(OutcomeName(record)) + ", read up to LBA " + std::to_string(reached) +
                 "\n# current_pos  current_status  current_pass\n0x");
    map.Out.Number(reached * sector, 16);
    map.Out.Text(EndedEarly(record) ? "  ?  1\n" : "  +  1\n");
    map.Out.Text("#      pos        size  status\n");
    map.Add(first * sector, '?');
    std::uint64_t at = first;  // the first sector not yet mapped
    const std::uint64_t blockSectors = record.Findings.BlockSectors;
    ForEachRun(record.Findings, [&](const TRun& run) {
        if (run.Class < bcPUNRB) return;  // slow blocks were read
        const auto lba = static_cast<std::uint64_t>(run.Lba);
        map.Add((lba - at) * sector, '+');
        at = lba + run.Sectors;
        if (run.Class == bcUNRB) {
            map.Add(run.Sectors * sector, run.Sectors == run.Blocks ? '-' : '*');
            return;
        }
        for (std::uint64_t block = lba; block < at; block += blockSectors) {
            const std::uint64_t bytes = std::min(blockSectors, at - block) * sector;
            const std::uint64_t delivered = std::min<std::uint64_t>(run.Value, bytes);
            map.Add(delivered, '+');
            map.Add(bytes - delivered, '*');
        }
    });
    map.Add((reached - std::min(at, reached)) * sector, '+');
    map.Add((drive - reached) * sector, '?');
    map.End();
}

}  // namespace report
