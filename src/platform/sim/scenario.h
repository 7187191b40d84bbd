// Simulated drives: the scenario file that describes them, and the state of the simulation.
//
// The file is a regular file of at most 16 MiB; a UTF-8 byte-order mark at its start is skipped.
// Inside a section keys may come in any order, each at most once, except slow, unreadable,
// partial, attribute and attribute_change, which add an entry each time. Error messages show the file's bytes
// outside printable ASCII as \xHH.
//
//   # comment; blank lines are ignored
//   [drive 0]                   physical drive number 0..15, each at most once
//   model      = SIM DISK 500   printable ASCII, \xHH for any byte and \\ for a backslash;
//                               at most 40 bytes once the escapes are replaced
//   serial     = SIM00001       the same, at most 20 bytes; default "SIM" + the drive number
//   firmware   = 1.00           the same, at most 8 bytes
//   sectors    = 1000000        logical sectors, 1 .. 2^48-1; required unless image is given
//   sector_size = 4096          bytes of a logical sector: 512 (the default) or 4096; an image on
//                               a block device has the device's, and this key may only repeat it
//   cache_kb   = 8192           0..32767
//   answers    = yes            no: opens and reads, but the SMART version request fails
//   identify   = yes            no: answers the version request, but IDENTIFY DEVICE fails
//   smart      = yes            no: every SMART command fails
//   latency    = 1              milliseconds of an ordinary read
//   slow       = 5000-5254 400  a read touching these sectors takes 400 ms
//   slow       = 6000 400 11    the first read touching 6000 takes 400 ms, later ones 11 ms
//   unreadable = 20000-20010    a read touching these delivers nothing
//   partial    = 30000          a read touching it delivers only the sectors before it
//   unreadable = 255-509 every 510   the range and its copies every 510 sectors after it, to the
//                               drive's end (partial likewise); the step is longer than the range
//   attribute  = 5 100 100 3 36 id current worst raw threshold (at most 30, in file order)
//   attribute_change = 5 30000 12  a read touching sector 30000 sets the raw value of attribute
//                               5 (its first attribute line) to 12, as a drive that reallocates
//                               sectors while it is scanned
//   unplugged  = 40000          a read reaching this sector finds the drive unplugged: that read
//                               and every later request fail, and the drive no longer opens
//   image      = /path/disk.img reads come from this file or block device, really timed; it
//                               holds at least sectors x sector_size bytes
//   kind       = nvme           an NVMe drive (the default is ata): no ATA SMART, but a health log
//                               with these fields (defaults 0, but temperature 310, spare 100,
//                               spare threshold 10):
//   critical_warning = 0        0..255
//   composite_temperature_k = 310   kelvin, 0..65535
//   available_spare = 100       percent, 0..255; available_spare_threshold likewise
//   percentage_used = 3         0..255
//   data_units_read = 123456    and data_units_written, host_read_commands, host_write_commands,
//                               controller_busy_time, power_cycles, power_on_hours,
//                               unsafe_shutdowns, media_and_data_integrity_errors,
//                               error_log_entries: 0 .. 2^128-1
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
