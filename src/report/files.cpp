// Report files: the folder opened once, a temporary file per part written and flushed with the
// signals held, and published under a stem no other report holds; and a file such as the metrics
// replaced whole the same way.
// Thread: main.
#include "report/files.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <utility>

namespace report {
namespace {

// Pieces of a report are gathered up to this many bytes before they are written.
constexpr std::size_t WriteChunk = std::size_t{1} << 16;
// The stems tried beyond the first before a report gives up: "-2" to "-9999".
constexpr int MostStems = 9999;

std::string FolderPath;
plat::FileHandle Folder = plat::InvalidFile;

bool FileNameCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
           c == '-';
}

void SayAtExit(const std::string& line, bool error) { plat::SayAtExit(line, error); }

TReportNote Note = SayAtExit;

std::string PathOf(std::string_view name) { return (std::filesystem::path(FolderPath) / name).string(); }

void Failed(std::string_view name, const std::string& why) {
    Note(std::string(plat::ProgramName()) + ": report " + PathOf(name) + " not written: " + why, true);
}

// No signal ends the process while a temporary file of this scope exists.
struct THeldSignals {
    THeldSignals() { plat::HoldSignals(); }
    ~THeldSignals() { plat::ReleaseSignals(); }
    THeldSignals(const THeldSignals&) = delete;
    THeldSignals& operator=(const THeldSignals&) = delete;
};

// Writes what `produce` gives into a new temporary file of `folder` and flushes it to the disk,
// made 0644 first with `readableByAll`. False, with `why` and no file left, when that fails.
bool WriteTemporary(plat::FileHandle folder, const TProduce& produce, bool readableByAll, std::string& name,
                    std::string& why) {
    const plat::FileHandle file = plat::CreateHiddenFile(folder, name, why);
    if (file == plat::InvalidFile) return false;
    std::string gathered;
    gathered.reserve(WriteChunk);
    bool failed = false;
    const auto write = [&](std::string_view bytes) {
        if (!failed && !bytes.empty()) failed = !plat::AppendToFile(file, bytes, why);
    };
    const TEmit emit = [&](std::string_view piece) {
        if (gathered.size() + piece.size() > WriteChunk) {
            write(gathered);
            gathered.clear();
        }
        if (piece.size() >= WriteChunk)
            write(piece);
        else
            gathered.append(piece);
    };
    try {
        produce(emit);
    } catch (const std::exception& error) {
        failed = true;
        why = error.what();
    }
    write(gathered);
    if (!failed && readableByAll) failed = !plat::MakeReadableByAll(file, why);
    if (!failed) failed = !plat::FlushToDisk(file, why);
    plat::CloseFile(file);
    if (failed) plat::RemoveName(folder, name);
    return !failed;
}

bool StemFree(const std::string& stem, std::span<const TReportPart> parts) {
    for (const TReportPart& part : parts)
        if (plat::NameTaken(Folder, stem + std::string(part.Suffix))) return false;
    return true;
}

// The line of a file written names where it is now: the folder may have been renamed, and its
// old path may since lead to a folder someone else made.
void Published(const std::string& name) {
    std::string why;
    if (!plat::FlushToDisk(Folder, why)) Failed(name, "written, but the folder did not reach the disk: " + why);
    const std::string now = plat::FolderPathNow(Folder, FolderPath);
    if (now.empty()) {
        Note(std::string(plat::ProgramName()) + ": report " + name + " written, but the folder " + FolderPath +
                 " has moved and where to cannot be told",
             true);
        return;
    }
    static std::string movedTo;  // said once for each place the folder went
    if (now != FolderPath && now != movedTo)
        Note(std::string(plat::ProgramName()) + ": the folder " + FolderPath + " has moved to " + now, true);
    movedTo = now;
    Note("report: " + (std::filesystem::path(now) / name).string(), false);
}

// The hidden name that holds `stem` for one report while its files are written: whoever gives
// an empty file this name first owns the stem, so that two reports never share one.
std::string ClaimName(const std::string& stem) { return "." + stem + ".claim"; }

// Claims the first stem from `base` on where none of the parts stands and no other report is
// writing. Empty, with `why`, when it cannot.
std::string ClaimStem(const std::string& base, std::span<const TReportPart> parts, std::string& why) {
    for (int n = 1; n <= MostStems; ++n) {
        const std::string candidate = n == 1 ? base : base + "-" + std::to_string(n);
        if (!StemFree(candidate, parts)) continue;
        std::string marker;
        const plat::FileHandle file = plat::CreateHiddenFile(Folder, marker, why);
        if (file == plat::InvalidFile) return {};
        plat::CloseFile(file);
        switch (plat::RenameToNewName(Folder, marker, ClaimName(candidate), why)) {
            case plat::RenameOutcome::Done:
                // A writer that does not claim may have taken a name of the stem meanwhile.
                if (StemFree(candidate, parts)) return candidate;
                plat::RemoveName(Folder, ClaimName(candidate));
                continue;
            case plat::RenameOutcome::Taken:
                plat::RemoveName(Folder, marker);
                continue;
            case plat::RenameOutcome::Failed:
                plat::RemoveName(Folder, marker);
                return {};
        }
    }
    why = "every name up to -" + std::to_string(MostStems) + " is taken";
    return {};
}

// Gives the temporary file of one part its name under the report's stem; a note either way.
void Publish(const std::string& temporary, const std::string& name) {
    std::string why;
    switch (plat::RenameToNewName(Folder, temporary, name, why)) {
        case plat::RenameOutcome::Done:
            Published(name);
            return;
        case plat::RenameOutcome::Taken:
            why = "a file of that name appeared meanwhile";
            break;
        case plat::RenameOutcome::Failed:
            break;
    }
    plat::RemoveName(Folder, temporary);
    Failed(name, why);
}

std::string BaseStem(const plat::DateTime& t, std::string_view serial, std::string_view kind) {
    char time[32];
    std::snprintf(time, sizeof time, "%04d%02d%02d-%02d%02d%02d", t.Year, t.Month, t.Day, t.Hour, t.Minute, t.Second);
    return std::string(time) + "-" + FileSerial(serial) + "-" + std::string(kind);
}

}  // namespace

TReportNote SetReportNote(TReportNote note) { return std::exchange(Note, note); }

std::string FileSerial(std::string_view serial) {
    const std::size_t first = serial.find_first_not_of(' ');
    if (first == std::string_view::npos) return "noserial";
    serial = serial.substr(first, serial.find_last_not_of(' ') - first + 1);
    std::string name(serial);
    for (char& c : name)
        if (!FileNameCharacter(c)) c = '_';
    return name;
}

std::string UseReportFolder(const std::string& folder) {
    plat::CloseFile(Folder);
    Folder = plat::InvalidFile;
    FolderPath = folder;
    if (folder.empty()) return {};
    std::string why;
    Folder = plat::OpenFolder(folder, why);
    return why;
}

void WriteReport(const plat::DateTime& t, std::string_view serial, std::string_view kind,
                 std::span<const TReportPart> parts) {
    const std::string base = BaseStem(t, serial, kind);
    const auto failAll = [&](const std::string& why) {
        for (const TReportPart& part : parts)
            if (part.Produce) Failed(base + std::string(part.Suffix), why);
    };
    std::string why;
    if (Folder == plat::InvalidFile) Folder = plat::OpenFolder(FolderPath, why);
    if (Folder == plat::InvalidFile) return failAll(why);
    // Held until the claim is given up: no signal leaves a temporary file or a claim behind.
    const THeldSignals held;
    const std::string stem = ClaimStem(base, parts, why);
    if (stem.empty()) return failAll(why);
    for (const TReportPart& part : parts) {
        if (!part.Produce) continue;
        std::string temporary, failure;
        if (WriteTemporary(Folder, part.Produce, false, temporary, failure))
            Publish(temporary, stem + std::string(part.Suffix));
        else
            Failed(stem + std::string(part.Suffix), failure);
    }
    plat::RemoveName(Folder, ClaimName(stem));
}

std::string ReplaceFile(const std::string& path, const TProduce& produce) {
    const std::filesystem::path where(path);
    const std::string name = where.filename().string();
    if (name.empty() || name == "." || name == "..") return "not a file name";
    std::string why;
    const plat::FileHandle folder = plat::OpenFolder(where.has_parent_path() ? where.parent_path().string() : ".", why);
    if (folder == plat::InvalidFile) return why;
    {
        const THeldSignals held;
        std::string temporary;
        if (WriteTemporary(folder, produce, true, temporary, why)) {
            if (!plat::RenameOver(folder, temporary, name, why))
                plat::RemoveName(folder, temporary);
            else if (!plat::FlushToDisk(folder, why))
                why = "written, but the folder did not reach the disk: " + why;
        }
    }
    plat::CloseFile(folder);
    return why;
}

}  // namespace report
