// Simulated drives: the scenario file that describes them, and the state of the simulation.
//
// The file is a regular file of at most 16 MiB; a UTF-8 byte-order mark at its start is skipped.
// '#' starts a comment, [drive N] a section (N 0..15, each at most once), and each line of a
// section is key = value. The keys, whether each may repeat, their values and ranges are the
// table in scenario_keys.cpp; platenhawk-demo(1) documents them. Error messages show the file's
// bytes outside printable ASCII as \xHH.
// Thread: main.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace sim {

struct TRange {
    std::int64_t First = 0;
    std::int64_t Last = 0;
    std::int64_t Every = 0;  // > 0: the range repeats this many sectors apart, to the drive's end
};

struct TSlowZone {
    TRange Range;
    std::uint32_t FirstMs = 0;
    std::optional<std::uint32_t> LaterMs;  // latency once the zone has been read
};

struct TAttribute {
    std::uint8_t Id = 0;
    std::uint8_t Current = 0;
    std::uint8_t Worst = 0;
    std::uint64_t Raw = 0;
    std::uint8_t Threshold = 0;
};

struct TAttributeChange {
    std::uint8_t Id = 0;
    std::int64_t Sector = 0;
    std::uint64_t Raw = 0;
};

struct TDriveSpec {
    int Number = 0;
    std::string Model = "SIMULATED DISK";
    std::string Serial;
    std::string Firmware = "1.0";
    std::int64_t Sectors = 0;
    std::uint32_t SectorSize = 512;
    std::uint32_t CacheKb = 0;
    bool Answers = true;
    bool Identifies = true;
    bool Smart = true;
    std::uint32_t LatencyMs = 0;
    std::vector<TSlowZone> Slow;
    std::vector<TRange> Unreadable;
    std::vector<TRange> Partial;
    std::vector<TAttribute> Attributes;
    std::vector<TAttributeChange> AttributeChanges;
    std::string Image;
    std::optional<std::int64_t> UnpluggedAt;
    bool Nvme = false;
    std::array<std::uint8_t, 512> NvmeLog{};  // the SMART / Health Information log it answers with
};

struct TScenario {
    std::vector<TDriveSpec> Drives;
};

struct TScenarioError {
    std::string File;
    int Line = 0;
    std::string Message;
    // FILE:LINE: message, or FILE: message for the file as a whole (Line 0).
    std::string Text() const { return File + (Line ? ":" + std::to_string(Line) : "") + ": " + Message; }
};

using TScenarioResult = std::variant<TScenario, TScenarioError>;

// `fileName` names the text in error messages; image paths are taken as they stand.
TScenarioResult ParseScenario(std::string_view text, std::string_view fileName);
TScenarioResult LoadScenarioFile(const std::string& path);
std::string_view BuiltinScenario();

// The drives the simulation serves from now on.
void InstallScenario(const TScenario& scenario);
// Drive `number` is gone, as if unplugged: it no longer opens.
void RemoveDrive(int number);

// What the program asked of the simulated drives, for the tests.
struct TRequest {
    int Drive = 0;
    std::uint32_t Code = 0;
    std::vector<std::uint8_t> In;
    std::size_t OutLength = 0;
};

struct TRead {
    int Drive = 0;
    std::uint64_t Offset = 0;
    std::uint32_t Length = 0;
    std::uint32_t Delivered = 0;
};

// Lets a test change a drive while the program reads it: called before every read with the
// drive's description and the read's first sector (in the drive's own sectors). InstallScenario removes it.
using TReadHook = std::function<void(TDriveSpec& drive, std::int64_t firstSector)>;
void SetReadHook(TReadHook hook);

// Recording is off unless a test turns it on.
void SetRecording(bool on);
std::vector<TRequest> Requests();
std::vector<TRead> Reads();
int OpenHandles();
void ClearLogs();

// The IDENTIFY DEVICE and SMART sectors a drive answers with.
std::vector<std::uint8_t> IdentifySector(const TDriveSpec& drive);
std::vector<std::uint8_t> SmartDataSector(const TDriveSpec& drive);
std::vector<std::uint8_t> SmartThresholdSector(const TDriveSpec& drive);

}  // namespace sim
