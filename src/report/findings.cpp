// The damaged and slow blocks of one scan as runs (report/findings.h): the buffer in memory, the
// temporary file it spills to, and the runs read back in order.
// Thread: main.
#include "report/findings.h"

#include <algorithm>
#include <stdexcept>

namespace report {
namespace {

bool Damaged(TBlockClass c) { return c >= bcPUNRB; }
bool Slow(TBlockClass c) { return c >= bcUnder150ms && c < bcPUNRB; }

// The block continues the last run: it follows it directly, is of its class (and, short, delivered
// as much), and the run's blocks so far are whole.
bool Continues(const TFindings& findings, const TBlockResult& block) {
    if (findings.Recent.empty()) return false;
    const TRun& run = findings.Recent.back();
    return run.Class == block.Class && run.Lba + static_cast<std::int64_t>(run.Sectors) == block.Lba &&
           run.Sectors == run.Blocks * findings.BlockSectors && (block.Class != bcPUNRB || run.Value == block.Bytes);
}

// Moves the buffered runs, all of them complete, to the spill file. On failure they stay, and so
// do the runs spilled before: the file is read back only up to them.
void SpillRecent(TFindings& findings) {
    if (findings.SpillFailed) return;
    if (!findings.Spill) findings.Spill.reset(std::tmpfile());
    std::FILE* file = findings.Spill.get();
    const std::size_t count = findings.Recent.size();
    const bool written =
        file && std::fwrite(findings.Recent.data(), sizeof(TRun), count, file) == count && std::fflush(file) == 0;
    if (!written) {
        findings.SpillFailed = true;
        return;
    }
    findings.Spilled += count;
    findings.Recent.clear();
}

}  // namespace

void ClearFindings(TFindings& findings, std::uint32_t blockSectors) {
    findings.BlockSectors = blockSectors;
    findings.Recent.clear();
    findings.Recent.reserve(RecentRuns);
    findings.Spill.reset();
    findings.Spilled = 0;
    findings.SpillFailed = false;
}

void AddFinding(TFindings& findings, const TBlockResult& block) {
    if (!Damaged(block.Class) && !Slow(block.Class)) return;
    if (Continues(findings, block)) {
        TRun& run = findings.Recent.back();
        run.Sectors += block.Sectors;
        ++run.Blocks;
        if (Slow(block.Class) && block.Ms > run.Value) run.Value = block.Ms;
        return;
    }
    if (findings.Recent.size() >= RecentRuns) SpillRecent(findings);
    TRun run;
    run.Lba = block.Lba;
    run.Sectors = block.Sectors;
    run.Blocks = 1;
    run.Value = block.Class == bcPUNRB ? block.Bytes : (Slow(block.Class) ? block.Ms : 0);
    run.Class = block.Class;
    findings.Recent.push_back(run);
}

void ForEachRun(const TFindings& findings, const std::function<void(const TRun&)>& visit) {
    if (findings.Spilled > 0) {
        std::FILE* file = findings.Spill.get();
        std::rewind(file);
        std::vector<TRun> chunk(RecentRuns);
        for (std::uint64_t left = findings.Spilled; left > 0;) {
            const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(left, chunk.size()));
            if (std::fread(chunk.data(), sizeof(TRun), count, file) != count)
                throw std::runtime_error("the scan's findings cannot be read back");
            for (std::size_t i = 0; i < count; ++i) visit(chunk[i]);
            left -= count;
        }
    }
    for (const TRun& run : findings.Recent) visit(run);
}

}  // namespace report
