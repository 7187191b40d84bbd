// The drive calls of the seam, served by the drives of the installed scenario.
// Thread: main.
#include <algorithm>
#include <array>
#include <cstring>

#include "platform/drive_records.h"
#include "platform/platform.h"
#include "platform/sim/image.h"
#include "platform/sim/scenario.h"

namespace sim {
namespace {

// What waking a drive after SLEEP adds to the read that wakes it.
constexpr std::uint32_t SpinUpMs = 1500;

struct TSimDrive {
    TDriveSpec Described;
    std::vector<bool> SlowTouched;  // per slow zone: read once already
    bool Asleep = false;
    TImage Image;
};

// Used by the program's main thread only; a test reads the logs while the program waits.
struct TSimulation {
    std::array<std::optional<TSimDrive>, 16> Drives;
    std::vector<TRequest> Requests;
    std::vector<TRead> Reads;
    int OpenHandles = 0;
    bool Recording = false;
    TReadHook ReadHook;
};

TSimulation& Sim() {
    static TSimulation sim;
    return sim;
}

TSimDrive* DriveOf(plat::DriveHandle handle) {
    if (handle < 0 || handle >= 16) return nullptr;
    auto& slot = Sim().Drives[static_cast<std::size_t>(handle)];
    return slot ? &*slot : nullptr;
}

bool Touches(const TRange& r, std::int64_t first, std::int64_t last) { return r.First <= last && r.Last >= first; }

// The first sector of the copy of a repeating range that sectors first..last touch, the first
// of the range itself for one that does not repeat.
std::optional<std::int64_t> TouchedFirst(const TRange& r, std::int64_t first, std::int64_t last) {
    if (r.Every <= 0 || first <= r.Last) return Touches(r, first, last) ? std::optional(r.First) : std::nullopt;
    const std::int64_t copy = (first - r.Last + r.Every - 1) / r.Every;
    const std::int64_t copyFirst = r.First + copy * r.Every;
    return copyFirst <= last ? std::optional(copyFirst) : std::nullopt;
}

void PutWord(std::vector<std::uint8_t>& s, int word, std::uint16_t v) {
    s[static_cast<std::size_t>(2 * word)] = static_cast<std::uint8_t>(v);
    s[static_cast<std::size_t>(2 * word + 1)] = static_cast<std::uint8_t>(v >> 8);
}

// An ATA string: blank-padded to `words` words, the two characters of each word swapped.
void PutAtaString(std::vector<std::uint8_t>& s, int firstWord, int words, const std::string& text) {
    std::string padded = text;
    padded.resize(static_cast<std::size_t>(2 * words), ' ');
    for (int i = 0; i < words; ++i)
        PutWord(s, firstWord + i,
                static_cast<std::uint16_t>((static_cast<std::uint8_t>(padded[static_cast<std::size_t>(2 * i)]) << 8) |
                                           static_cast<std::uint8_t>(padded[static_cast<std::size_t>(2 * i + 1)])));
}

// Sets the last byte so that all 512 bytes add up to 0 modulo 256.
void SealChecksum(std::vector<std::uint8_t>& s) {
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < 511; ++i) sum = static_cast<std::uint8_t>(sum + s[i]);
    s[511] = static_cast<std::uint8_t>(-sum);
}

bool RunAtaCommand(TSimDrive& drive, const plat::TAtaRequest& request, std::span<std::uint8_t> out) {
    const plat::TIdeRegs& r = request.Regs;
    std::vector<std::uint8_t> sector;
    switch (r.bCommandReg) {
        case plat::AtaIdentify:
            if (!drive.Described.Identifies) return false;
            sector = IdentifySector(drive.Described);
            break;
        case plat::AtaSmart:
            if (!drive.Described.Smart || drive.Described.Nvme || r.bCylLowReg != 0x4F || r.bCylHighReg != 0xC2)
                return false;
            if (r.bFeaturesReg == 0xD8 && request.Data == plat::TAtaData::None) return true;
            if (r.bFeaturesReg == 0xD0) sector = SmartDataSector(drive.Described);
            if (r.bFeaturesReg == 0xD1) sector = SmartThresholdSector(drive.Described);
            break;
        case plat::AtaSleep:
            drive.Asleep = true;
            return request.Data == plat::TAtaData::None;
        case plat::AtaRecalibrate:
            drive.Asleep = false;
            return request.Data == plat::TAtaData::None;
        default:
            return false;
    }
    const auto reply = plat::ReplySector(out);
    if (sector.empty() || request.Data != plat::TAtaData::In512 || reply.empty()) return false;
    std::copy(sector.begin(), sector.end(), reply.begin());
    return true;
}

}  // namespace

std::vector<std::uint8_t> IdentifySector(const TDriveSpec& d) {
    std::vector<std::uint8_t> s(512, 0);
    PutWord(s, 0, 0x0040);
    PutAtaString(s, 10, 10, d.Serial);
    PutWord(s, 21, static_cast<std::uint16_t>(d.CacheKb * 2));
    PutAtaString(s, 23, 4, d.Firmware);
    PutAtaString(s, 27, 20, d.Model);
    PutWord(s, 49, 0x0200);
    const auto lba28 = static_cast<std::uint32_t>(std::min<std::int64_t>(d.Sectors, 0x0FFFFFFF));
    PutWord(s, 60, static_cast<std::uint16_t>(lba28));
    PutWord(s, 61, static_cast<std::uint16_t>(lba28 >> 16));
    PutWord(s, 83, 1 << 10);
    PutWord(s, 86, 1 << 10);
    for (int i = 0; i < 4; ++i) PutWord(s, 100 + i, static_cast<std::uint16_t>(d.Sectors >> (16 * i)));
    // Word 106 valid; bit 12 and words 117-118 (in words) for a logical sector longer than 512 bytes.
    PutWord(s, 106, static_cast<std::uint16_t>(0x4000 | (d.SectorSize > 512 ? 0x1000 : 0)));
    if (d.SectorSize > 512) {
        PutWord(s, 117, static_cast<std::uint16_t>(d.SectorSize / 2));
        PutWord(s, 118, static_cast<std::uint16_t>((d.SectorSize / 2) >> 16));
    }
    s[510] = 0xA5;
    SealChecksum(s);
    return s;
}

std::vector<std::uint8_t> SmartDataSector(const TDriveSpec& d) {
    std::vector<std::uint8_t> s(512, 0);
    s[0] = 0x10;
    for (std::size_t i = 0; i < d.Attributes.size(); ++i) {
        std::uint8_t* e = &s[2 + 12 * i];
        const TAttribute& a = d.Attributes[i];
        e[0] = a.Id;
        e[1] = 0x0B;
        e[3] = a.Current;
        e[4] = a.Worst;
        for (int b = 0; b < 6; ++b) e[5 + b] = static_cast<std::uint8_t>(a.Raw >> (8 * b));
    }
    SealChecksum(s);
    return s;
}

std::vector<std::uint8_t> SmartThresholdSector(const TDriveSpec& d) {
    std::vector<std::uint8_t> s(512, 0);
    s[0] = 0x10;
    for (std::size_t i = 0; i < d.Attributes.size(); ++i) {
        s[2 + 12 * i] = d.Attributes[i].Id;
        s[3 + 12 * i] = d.Attributes[i].Threshold;
    }
    SealChecksum(s);
    return s;
}

void InstallScenario(const TScenario& scenario) {
    TSimulation& sim = Sim();
    for (auto& slot : sim.Drives)
        if (slot) CloseImage(slot->Image);
    sim.Drives = {};
    for (const TDriveSpec& described : scenario.Drives) {
        TSimDrive drive{described, std::vector<bool>(described.Slow.size(), false), false, TImage{}};
        if (!described.Image.empty()) {
            std::string error;
            if (auto image = OpenImage(described.Image, error)) drive.Image = *image;
        }
        sim.Drives[static_cast<std::size_t>(described.Number)] = std::move(drive);
    }
    sim.ReadHook = nullptr;
    ClearLogs();
}

void RemoveDrive(int number) {
    auto& slot = Sim().Drives[static_cast<std::size_t>(number)];
    if (slot) CloseImage(slot->Image);
    slot.reset();
}

void SetReadHook(TReadHook hook) { Sim().ReadHook = std::move(hook); }

void SetRecording(bool on) { Sim().Recording = on; }

std::vector<TRequest> Requests() { return Sim().Requests; }

std::vector<TRead> Reads() { return Sim().Reads; }

int OpenHandles() { return Sim().OpenHandles; }

void ClearLogs() {
    Sim().Requests.clear();
    Sim().Reads.clear();
    Sim().OpenHandles = 0;
}

}  // namespace sim

namespace plat {

DriveHandle OpenDrive(int number, DriveAccess) {
    if (!sim::DriveOf(number)) return InvalidDrive;
    ++sim::Sim().OpenHandles;
    return number;
}

void CloseDrive(DriveHandle drive) {
    if (!sim::DriveOf(drive)) return;
    --sim::Sim().OpenHandles;
}

std::uint32_t ReadDrive(DriveHandle handle, std::uint64_t offset, std::span<std::uint8_t> buffer) {
    sim::TSimDrive* drive = sim::DriveOf(handle);
    if (!drive) return 0;
    const std::uint64_t sector = drive->Described.SectorSize;
    if (sim::Sim().ReadHook) sim::Sim().ReadHook(drive->Described, static_cast<std::int64_t>(offset / sector));
    const sim::TDriveSpec& described = drive->Described;
    const auto size = static_cast<std::uint64_t>(described.Sectors) * sector;
    std::uint64_t length = offset < size ? std::min<std::uint64_t>(buffer.size(), size - offset) : 0;
    const auto first = static_cast<std::int64_t>(offset / sector);
    const auto last = static_cast<std::int64_t>((offset + std::max<std::uint64_t>(length, 1) - 1) / sector);
    if (described.UnpluggedAt && last >= *described.UnpluggedAt) {
        sim::RemoveDrive(static_cast<int>(handle));
        return 0;
    }

    std::uint32_t latency = described.LatencyMs;
    bool slow = false;
    for (std::size_t i = 0; i < described.Slow.size(); ++i) {
        if (!sim::Touches(described.Slow[i].Range, first, last)) continue;
        const std::uint32_t ms =
            drive->SlowTouched[i] && described.Slow[i].LaterMs ? *described.Slow[i].LaterMs : described.Slow[i].FirstMs;
        latency = slow ? std::max(latency, ms) : ms;
        slow = true;
        drive->SlowTouched[i] = true;
    }
    if (drive->Asleep) {
        latency += sim::SpinUpMs;
        drive->Asleep = false;
    }
    for (const sim::TAttributeChange& change : described.AttributeChanges)
        if (change.Sector >= first && change.Sector <= last)
            for (sim::TAttribute& a : drive->Described.Attributes)
                if (a.Id == change.Id) {
                    a.Raw = change.Raw;
                    break;
                }
    for (const sim::TRange& r : described.Unreadable)
        if (sim::TouchedFirst(r, first, last)) length = 0;
    for (const sim::TRange& r : described.Partial)
        if (const auto touched = sim::TouchedFirst(r, first, last))
            length =
                std::min<std::uint64_t>(length, static_cast<std::uint64_t>(std::max(*touched, first) - first) * sector);

    std::uint32_t delivered = static_cast<std::uint32_t>(length);
    if (drive->Image.Handle >= 0 && length > 0) {
        delivered = sim::ReadImage(drive->Image, offset, buffer.first(static_cast<std::size_t>(length)));
    }
    if (latency) SleepMs(latency);
    if (sim::Sim().Recording)
        sim::Sim().Reads.push_back(
            sim::TRead{static_cast<int>(handle), offset, static_cast<std::uint32_t>(buffer.size()), delivered});
    return delivered;
}

// A drive removed (unplugged) is gone for every handle on it; an image that shrank ends early.
bool DriveGone(DriveHandle handle, std::uint64_t end) {
    const sim::TSimDrive* drive = sim::DriveOf(handle);
    return !drive || (drive->Image.Handle >= 0 && sim::ImageSizeNow(drive->Image) < end);
}

bool DriveControl(DriveHandle handle, std::uint32_t code, std::span<const std::uint8_t> in,
                  std::span<std::uint8_t> out) {
    sim::TSimDrive* drive = sim::DriveOf(handle);
    {
        if (sim::Sim().Recording)
            sim::Sim().Requests.push_back(sim::TRequest{static_cast<int>(handle), code,
                                                        std::vector<std::uint8_t>(in.begin(), in.end()), out.size()});
    }
    if (!drive) return false;
    if (code == plat::SMART_GET_VERSION) return drive->Described.Answers && out.size() >= 24;
    if (plat::IsNvmeHealthQuery(code, in))
        return drive->Described.Nvme && plat::WriteNvmeHealthReply(out, drive->Described.NvmeLog);
    const auto request = plat::DecodeAtaRequest(code, in);
    return request && sim::RunAtaCommand(*drive, *request, out);
}

std::string DrivePath(int number) { return sim::DriveOf(number) ? "sim:" + std::to_string(number) : std::string(); }

int DriveNumberOfPath(const std::string& path) {
    if (!path.starts_with("sim:") || path.size() < 5 || path.size() > 6) return -1;
    int number = 0;
    for (std::size_t i = 4; i < path.size(); ++i) {
        if (path[i] < '0' || path[i] > '9') return -1;
        number = number * 10 + (path[i] - '0');
    }
    return sim::DriveOf(number) ? number : -1;
}

std::vector<std::string> DriveRemarks(int) { return {}; }

std::vector<std::string> DriveProbeNotes() {
    std::vector<std::string> notes;
    for (int n = 0; n < 16; ++n)
        if (const sim::TSimDrive* drive = sim::DriveOf(n); drive && !drive->Described.Answers)
            notes.push_back(DrivePath(n) + ": does not answer the version request (answers = no)");
    return notes;
}

}  // namespace plat
