// The history's folder walk: every "*.json" file of the folder and its subfolders (no link
// followed, nothing but regular files opened) read as a report or skipped with the reason, the
// reports grouped by drive and put in order of time, and each drive judged. Runs on the calling
// thread.
#include "history/history.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <tuple>

namespace history {
namespace {

// Subfolders below the folder named: a fleet keeps one per host, and a few more levels are allowed.
constexpr int MostFolderDepth = 8;

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
            // Reports of one second: "-scan.json" before "-scan-2.json" before "-scan-10.json".
            const std::size_t aLength = a.File.size(), bLength = b.File.size();
            return std::tie(a.Instant, aLength, a.File) < std::tie(b.Instant, bLength, b.File);
        });
        Judge(drive);
        history.Drives.push_back(std::move(drive));
    }
    return history;
}

}  // namespace history
