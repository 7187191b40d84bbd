// Runs inside a virtual machine with emulated disks (scripts/qemu/run-checks): the real program,
// headless with a real clock, on the real Linux drive layer. It types keys as a technician
// would, prints the screens between markers on the standard output (the serial console) and
// checks what only the screen can tell. The host compares the rest with hdparm and smartctl.
//
//   ph-vmcheck STEP...   with the steps, in the order given:
//     detect                 the detection screen, then drive 1 chosen: the identity panel
//                            (always done first)
//     choose:N               back to the detection screen (ESC at the menu), drive N chosen
//     smart                  the SMART table
//     smart:none             the SMART table refused: the error message instead
//     smart:nvme             the SMART table of an NVMe drive: the fifteen rows of its health log
//     spindle                SLEEP, RECALIBRATE, then IDENTIFY again, on the chosen drive: the
//                            drive identifies itself as before
//     spindle:refused        SLEEP and RECALIBRATE both refused by the chosen drive
//     identify:failed        IDENTIFY through the ATA pass-through fails on the chosen drive with
//                            an error (of the adapter or the drive), not as on a disk without ATA
//     scan:ARG:ARG...        a full scan of the chosen drive, with
//       bad=S1+S2...         exactly the blocks holding 512-byte sectors S1, S2... unreadable
//       sector=N             the drive's logical sectors are N bytes (default 512): blocks and the
//                            damaged list count in them
//       class=N              no block in a class faster than N (0: <5ms ... 5: >300ms) and at
//                            least 99% of them in N: the odd read that a busy host holds up may
//                            land in a slower class
//
// Output lines: "@@SCREEN name", the 25 rows each between '|', "@@END" (the scan screen of drive
// N is "scan" for drive 1, "scan:N" for the others); "@@PASS what" and
// "@@FAIL what"; "@@VMCHECK DONE failures=N" last. The exit code is the number of failures.
//
// It drives the harness on the test thread; its own drive requests, made while the program waits
// for a key, play main (app/threads.h).
// Threads: main, test.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "drives/identity.h"
#include "drives/open_drive.h"
#include "platform/drive_records.h"
#include "platform/headless/harness.h"
#include "platform/linux/drives_disks.h"
#include "platform/linux/sg_ata.h"
#include "power/spindle.h"

namespace {

using headless::Key;

// After a scan the map keeps rows 22 and 23 free for the closing message.
constexpr int MapFirstRow = 5, MapLastRow = 21, MapColumns = 57;
constexpr int CountColumn = 68, CountWidth = 11;  // the class counters of the statistics panel
constexpr std::int64_t BlockSectors = 255;
constexpr std::uint32_t KeyTimeoutMs = 60000;
constexpr std::uint32_t ScanTimeoutMs = 900000;

int Failures = 0;
int CurrentDrive = 0;  // the drive chosen, 0-based

void Say(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

void Check(bool ok, const std::string& what) {
    Say((ok ? "@@PASS " : "@@FAIL ") + what);
    if (!ok) ++Failures;
}

void PrintScreen(const headless::Harness& h, const std::string& name) {
    Say("@@SCREEN " + name);
    for (int y = 0; y < 25; ++y) Say("|" + h.Row(y) + "|");
    Say("@@END");
}

bool WaitIdle(headless::Harness& h, std::uint32_t timeoutMs, const std::string& what) {
    const bool idle = h.RunUntilIdle(timeoutMs);
    if (!idle) Check(false, what + ": the program did not come back to a key wait");
    return idle;
}

// The program waits for a key: press it and let the program run until it waits again.
bool Key1(headless::Harness& h, Key key, const std::string& what, std::uint32_t timeoutMs = KeyTimeoutMs) {
    h.Press(key);
    return WaitIdle(h, timeoutMs, what);
}

std::string Trimmed(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
    std::size_t first = 0;
    while (first < text.size() && text[first] == ' ') ++first;
    return text.substr(first);
}

std::int64_t NumberAt(const headless::Harness& h, int x, int y, int length) {
    const std::string text = Trimmed(h.Text(x, y, length));
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return -1;
    return std::stoll(text);
}

// Chooses drive `number` (as the user counts) on the detection screen the program waits on.
bool Choose(headless::Harness& h, int number) {
    const std::string name = std::to_string(number);
    PrintScreen(h, name == "1" ? "detect" : "detect:" + name);
    bool listed = false;
    for (int y = 3; y < 24; ++y) listed = listed || h.Row(y).starts_with("[" + name + "] ");
    if (!listed) {
        Check(false, "detect: drive " + name + " is not listed");
        return false;
    }
    h.Type(name);
    if (!WaitIdle(h, KeyTimeoutMs, "typing the drive number")) return false;
    if (!Key1(h, Key::Enter, "choosing drive " + name)) return false;
    PrintScreen(h, name == "1" ? "panel" : "panel:" + name);
    Check(h.Row(4).starts_with("Серийный номер: "), "detect: the identity panel of drive " + name + " is shown");
    CurrentDrive = number - 1;
    return true;
}

void Smart(headless::Harness& h, const std::string& step) {
    if (!Key1(h, Key::Down, "menu down")) return;
    if (!Key1(h, Key::Enter, "SMART table", 120000)) return;
    PrintScreen(h, step);
    if (step == "smart:none") {
        Check(h.Row(4).starts_with("Ошибка при получении SMART атрибутов!"),
              "smart: refused with the SMART error message");
    } else {
        Check(h.Row(5).starts_with(" AID   Name"), "smart: the table header is shown");
        if (step == "smart:nvme")
            Check(h.Row(7).starts_with(" 1     Critical Warning") &&
                      h.Row(21).starts_with(" 15    Error Log Entries") && h.Char(0, 22) == 0xC4,
                  "smart: the fifteen rows of the NVMe health log, then the closing rule");
    }
    Key1(h, Key::Enter, "back from the SMART table");
    Key1(h, Key::Up, "menu up");
}

void Spindle(bool refused) {
    const auto send = [](bool stop) {
        const drives::TOpenDrive drive(CurrentDrive, plat::DriveAccess::Control);
        return drive.IsOpen() && SendSpindleCommand(drive.Handle(), stop);
    };
    TGeneralHDDInfo before, after;
    const bool known = ReadDriveIdentity(CurrentDrive, before) && before.Sectors > 0;
    const bool slept = send(true);
    const bool woken = send(false);
    if (refused) {
        Check(!slept && !woken, "spindle: SLEEP and RECALIBRATE refused");
        return;
    }
    Check(slept, "spindle: SLEEP accepted");
    Check(woken, "spindle: RECALIBRATE accepted");
    // A drive that does not answer IDENTIFY gets the kernel's identity, which differs from the
    // drive's own (no cache size, for one): the same identity means the drive answered.
    const bool answered = ReadDriveIdentity(CurrentDrive, after);
    Check(known && answered && before.Model == after.Model && before.Serial == after.Serial &&
              before.Firmware == after.Firmware && before.Sectors == after.Sectors &&
              before.SectorSize == after.SectorSize && before.CacheKB == after.CacheKB,
          "spindle: the drive identifies itself after the spin-up as before (" + after.Model + "serial " +
              Trimmed(after.Serial) + ", " + std::to_string(after.Sectors) + " sectors, cache " +
              std::to_string(after.CacheKB) + " KB)");
}

void IdentifyFails() {
    const std::vector<std::string> disks = lindrv::ListWholeDisks("/sys/block");
    if (static_cast<std::size_t>(CurrentDrive) >= disks.size()) {
        Check(false, "identify: no disk for drive " + std::to_string(CurrentDrive + 1));
        return;
    }
    const std::string path = "/dev/" + disks[static_cast<std::size_t>(CurrentDrive)];
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    std::array<std::uint8_t, 512> data{};
    const ata::TAtaOutcome outcome =
        fd < 0 ? ata::TAtaOutcome::NoAta
               : lindrv::SendAtaCommand(fd, plat::IdentifyRegs(CurrentDrive), plat::TAtaData::In512, data);
    if (fd >= 0) close(fd);
    const char* said = outcome == ata::TAtaOutcome::Done     ? "completed"
                       : outcome == ata::TAtaOutcome::Failed ? "failed"
                                                             : "no ATA behind the device";
    Check(outcome == ata::TAtaOutcome::Failed, "identify: IDENTIFY on " + path + " through the pass-through: " + said);
}

struct TScanExpectation {
    std::set<std::int64_t> BadSectors;  // 512-byte sectors
    std::int64_t SectorSize = 512;      // the drive's logical sector
    int LatencyClass = -1;              // every block in this class; -1: not checked
};

TScanExpectation ParseScanStep(const std::string& step) {
    TScanExpectation expect;
    std::stringstream arguments(step.substr(step.find(':') + 1));
    for (std::string argument; std::getline(arguments, argument, ':');) {
        if (argument.starts_with("bad=")) {
            std::stringstream list(argument.substr(4));
            for (std::string sector; std::getline(list, sector, '+');)
                if (!sector.empty()) expect.BadSectors.insert(std::stoll(sector));
        } else if (argument.starts_with("sector=")) {
            expect.SectorSize = std::stoll(argument.substr(7));
        } else if (argument.starts_with("class=")) {
            expect.LatencyClass = std::stoi(argument.substr(6));
        } else {
            Check(false, "scan: unknown argument " + argument);
        }
    }
    return expect;
}

void CheckScan(const headless::Harness& h, const TScanExpectation& expect) {
    // the map: one cell per block, 57 to a row from row 5 on, up to the first blank cell
    std::vector<std::uint8_t> cells;
    for (int y = MapFirstRow; y <= MapLastRow && static_cast<int>(cells.size()) == (y - MapFirstRow) * MapColumns; ++y)
        for (int x = 0; x < MapColumns; ++x) {
            const std::uint8_t c = h.Char(x, y);
            if (c == ' ' || c == 0) break;
            cells.push_back(c);
        }
    const std::int64_t total = NumberAt(h, 13, 1, 10);
    const std::int64_t blocks = static_cast<std::int64_t>(cells.size());
    Check(total > 0 && (blocks == (total + BlockSectors - 1) / BlockSectors ||
                        blocks == (total - 1 + BlockSectors - 1) / BlockSectors),
          "scan: " + std::to_string(blocks) + " map cells for " + std::to_string(total) + " sectors");
    Check(Trimmed(h.Text(74, 1, 3)) == "100", "scan: progress shows 100%");

    std::set<std::int64_t> badBlocks;
    for (const std::int64_t sector : expect.BadSectors)
        badBlocks.insert(sector * 512 / expect.SectorSize / BlockSectors);
    std::set<std::int64_t> unreadable, partial;
    for (std::int64_t i = 0; i < blocks; ++i) {
        if (cells[static_cast<std::size_t>(i)] == 'X') unreadable.insert(i);
        if (cells[static_cast<std::size_t>(i)] == '*') partial.insert(i);
    }
    const auto text = [](const std::set<std::int64_t>& set) {
        std::string s;
        for (const std::int64_t v : set) s += (s.empty() ? "" : ",") + std::to_string(v);
        return s.empty() ? std::string("none") : s;
    };
    Check(unreadable == badBlocks, "scan: unreadable blocks " + text(unreadable) + ", expected " + text(badBlocks));
    Check(partial.empty(), "scan: blocks read short: " + text(partial));
    Check(NumberAt(h, CountColumn, 11, CountWidth) == static_cast<std::int64_t>(badBlocks.size()),
          "scan: UNRB count " + Trimmed(h.Text(CountColumn, 11, CountWidth)) + ", expected " +
              std::to_string(badBlocks.size()));

    std::set<std::int64_t> listed;
    for (int y = 15; y <= 22; ++y) {
        const std::int64_t lba = NumberAt(h, 59, y, 21);
        if (lba >= 0) listed.insert(lba);
    }
    std::set<std::int64_t> firstLbas;
    for (const std::int64_t block : badBlocks) firstLbas.insert(block * BlockSectors);
    Check(listed == firstLbas, "scan: damaged-block list " + text(listed) + ", expected " + text(firstLbas));

    if (expect.LatencyClass >= 0) {
        std::int64_t sum = 0, inClass = 0, faster = 0;
        for (int c = 0; c < 6; ++c) {
            const std::int64_t count = NumberAt(h, CountColumn, 3 + c, CountWidth);
            sum += count;
            if (c == expect.LatencyClass) inClass = count;
            if (c < expect.LatencyClass) faster += count;
        }
        Check(sum == blocks && faster == 0 && inClass * 100 >= blocks * 99,
              "scan: " + std::to_string(inClass) + " of " + std::to_string(blocks) + " blocks in latency class " +
                  std::to_string(expect.LatencyClass) + ", " + std::to_string(faster) + " in faster ones (row " +
                  Trimmed(h.Row(3 + expect.LatencyClass)) + ")");
    }
}

void Scan(headless::Harness& h, const std::string& step) {
    const TScanExpectation expect = ParseScanStep(step);
    if (!Key1(h, Key::Enter, "scan settings")) return;
    if (!Key1(h, Key::F4, "surface scan", ScanTimeoutMs)) return;
    PrintScreen(h, CurrentDrive == 0 ? "scan" : "scan:" + std::to_string(CurrentDrive + 1));
    CheckScan(h, expect);
    Key1(h, Key::Enter, "back from the scan");
}

}  // namespace

int main(int argc, char** argv) {
    headless::TOptions options;
    options.RealClock = true;
    {
        headless::Harness h(options);
        if (WaitIdle(h, KeyTimeoutMs, "detection") && Choose(h, 1)) {
            for (int i = 1; i < argc; ++i) {
                const std::string step = argv[i];
                if (step == "detect") continue;
                if (step == "smart" || step == "smart:none" || step == "smart:nvme") {
                    Smart(h, step);
                } else if (step == "spindle" || step == "spindle:refused") {
                    Spindle(step == "spindle:refused");
                } else if (step == "identify:failed") {
                    IdentifyFails();
                } else if (step.starts_with("choose:")) {
                    if (!Key1(h, Key::Escape, "back to detection") || !Choose(h, std::stoi(step.substr(7)))) break;
                } else if (step.starts_with("scan:")) {
                    Scan(h, step);
                } else {
                    Check(false, "unknown step " + step);
                }
            }
        }
        Say("@@VMCHECK DONE failures=" + std::to_string(Failures));
        // The program's threads never end on their own: leave without waiting for them.
        std::fflush(stdout);
        _exit(Failures);
    }
}
