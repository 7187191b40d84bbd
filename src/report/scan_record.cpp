// What one surface scan found (report/scan_record.h), kept block by block.
// Thread: main.
#include "report/scan_record.h"

#include <algorithm>

namespace report {

void BeginScan(TScanRecord& record, std::int64_t firstLba, std::int64_t lastLba, std::uint32_t blockSectors) {
    record.FirstLba = firstLba;
    record.LastLba = lastLba;
    record.Blocks = 0;
    record.GoneLba = -1;
    record.ReachedLba = firstLba;
    record.Classes.fill(0);
    ClearFindings(record.Findings, blockSectors);
    const auto sectors = static_cast<std::uint64_t>(lastLba - firstLba + 1);
    const std::uint64_t blocks = (sectors + blockSectors - 1) / blockSectors;
    record.RangeBlocks = blocks;
    record.BlocksPerCell = std::max<std::uint64_t>(1, (blocks + MostCells - 1) / MostCells);
    record.Cells.assign((blocks + record.BlocksPerCell - 1) / record.BlocksPerCell, UnreadCell);
    BeginSurface(record.Surface, firstLba, lastLba, blockSectors, record.Drive.SectorSize);
}

void AddBlock(TScanRecord& record, const TBlockResult& block, std::uint32_t blockSectors) {
    if (record.GoneLba >= 0) return;
    if (block.DriveGone) {
        record.GoneLba = block.Lba;
        return;
    }
    ++record.Blocks;
    record.ReachedLba = std::max<std::int64_t>(record.ReachedLba, block.Lba + block.Sectors);
    ++record.Classes[block.Class];
    AddSurfaceBlock(record.Surface, block);
    AddFinding(record.Findings, block);
    const auto index = static_cast<std::uint64_t>(block.Lba - record.FirstLba) / blockSectors / record.BlocksPerCell;
    if (index >= record.Cells.size()) return;
    std::uint8_t& cell = record.Cells[index];
    if (cell == UnreadCell || cell < block.Class) cell = block.Class;
}

TVerdict Verdict(const std::array<std::uint64_t, 8>& classes) {
    if (classes[bcPUNRB] + classes[bcUNRB] > 0) return TVerdict::Damaged;
    if (classes[bcUnder150ms] + classes[bcUnder300ms] + classes[bcOver300ms] > 0) return TVerdict::Slow;
    return TVerdict::Healthy;
}

bool EndedEarly(const TScanRecord& record) { return record.Stopped || record.GoneLba >= 0; }

TVerdict Verdict(const TScanRecord& record) {
    const TVerdict found = Verdict(record.Classes);
    return found == TVerdict::Healthy && EndedEarly(record) ? TVerdict::Incomplete : found;
}

}  // namespace report
