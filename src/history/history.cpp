// The history's folder walk: every "*.json" file of the folder and its subfolders (no link
// followed, nothing but regular files opened) read as a report or skipped with the reason, the
// reports grouped by drive and put in order of time, and each drive judged.
// Thread: main.
#include "history/history.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <tuple>

namespace history {
namespace {

// Subfolders below the folder named: a fleet keeps one per host, and a few more levels are allowed.
constexpr int MostFolderDepth = 8;

// Reports of one second are told apart by their names: "...-scan.json" is 1, "...-scan-2.json" 2.
int StemNumber(const std::string& file) {
    const std::size_t end = file.size() - 5;  // before ".json"
    const std::size_t dash = file.find_last_of("-/\\", end - 1);
    if (dash == std::string::npos || file[dash] != '-' || dash + 1 >= end || end - dash > 5) return 1;
    int n = 0;
    for (std::size_t i = dash + 1; i < end; ++i) {
        if (file[i] < '0' || file[i] > '9') return 1;
        n = n * 10 + (file[i] - '0');
    }
    return n;
}

struct TWalk {
    TSkipNote Note;
    THistory& History;
    std::map<std::pair<std::string, std::string>, TDrive> Drives;  // by serial and model

    void Skip(const std::string& file, const std::string& why) {
        History.Skipped.push_back(TSkipped{file, why});
        if (Note) Note(History.Skipped.back());
    }

    void File(plat::FileHandle folder, const std::string& name, const std::string& path) {
        std::string why;
        const plat::FileHandle file = plat::OpenFileToRead(folder, name, why);
        if (file == plat::InvalidFile) return Skip(path, why);
        TReading reading;
        reading.File = path;
        const bool read = ReadReport(file, reading, why);
        plat::CloseFile(file);
        if (!read) return Skip(path, why);
        TDrive& drive = Drives[{reading.Serial, reading.Model}];
        drive.Serial = reading.Serial;
        drive.Model = reading.Model;
        drive.Readings.push_back(std::move(reading));
    }

    bool Folder(plat::FileHandle folder, const std::string& path, int depth) {
        std::vector<plat::FolderEntry> entries;
        std::string why;
        if (!plat::ListFolder(folder, entries, why)) {
            if (depth == 0)
                History.Error = why;
            else
                Skip(path, why);
            return false;
        }
        std::sort(entries.begin(), entries.end(),
                  [](const plat::FolderEntry& a, const plat::FolderEntry& b) { return a.Name < b.Name; });
        for (const plat::FolderEntry& e : entries) {
            const std::string inside = (std::filesystem::path(path) / e.Name).string();
            const bool report = e.Name.size() > 5 && e.Name.ends_with(".json");
            if (e.Kind == plat::EntryKind::Folder) {
                if (depth >= MostFolderDepth) {
                    Skip(inside, "a folder deeper than " + std::to_string(MostFolderDepth) + " levels");
                    continue;
                }
                const plat::FileHandle sub = plat::OpenSubfolder(folder, e.Name, why);
                if (sub == plat::InvalidFile) {
                    Skip(inside, why);
                    continue;
                }
                Folder(sub, inside, depth + 1);
                plat::CloseFile(sub);
            } else if (e.Kind == plat::EntryKind::Link && report) {
                Skip(inside, "a link");
            } else if (e.Kind == plat::EntryKind::Other && report) {
                Skip(inside, "not a regular file");
            } else if (e.Kind == plat::EntryKind::File && report) {
                File(folder, e.Name, inside);
            }
        }
        return true;
    }
};

}  // namespace

THistory ReadHistory(const std::string& folder, TSkipNote skipped) {
    THistory history;
    std::string why;
    const plat::FileHandle top = plat::OpenFolderToRead(folder, why);
    if (top == plat::InvalidFile) {
        history.Error = why;
        return history;
    }
    TWalk walk{skipped, history, {}};
    walk.Folder(top, folder, 0);
    plat::CloseFile(top);
    for (auto& [key, drive] : walk.Drives) {
        std::sort(drive.Readings.begin(), drive.Readings.end(), [](const TReading& a, const TReading& b) {
            const int aStem = StemNumber(a.File), bStem = StemNumber(b.File);
            return std::tie(a.Instant, aStem, a.File) < std::tie(b.Instant, bStem, b.File);
        });
        Judge(drive);
        history.Drives.push_back(std::move(drive));
    }
    return history;
}

}  // namespace history
