#include "report/files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <system_error>

namespace report {
namespace {

namespace fs = std::filesystem;

bool FileNameCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
           c == '-';
}

void SayAtExit(const std::string& line, bool error) { plat::SayAtExit(line, error); }

TReportNote Note = SayAtExit;

void Failed(const fs::path& path, const std::string& why) {
    Note("platenhawk: report " + path.string() + " not written: " + why, true);
}

}  // namespace

void SetReportNote(TReportNote note) { Note = note; }

std::string FileSerial(std::string_view serial) {
    const std::size_t first = serial.find_first_not_of(' ');
    if (first == std::string_view::npos) return "noserial";
    serial = serial.substr(first, serial.find_last_not_of(' ') - first + 1);
    std::string name(serial);
    for (char& c : name)
        if (!FileNameCharacter(c)) c = '_';
    return name;
}

std::string ReportStem(const std::string& folder, const plat::DateTime& t, std::string_view serial,
                       std::string_view kind, std::string_view firstSuffix) {
    char time[32];
    std::snprintf(time, sizeof time, "%04d%02d%02d-%02d%02d%02d", t.Year, t.Month, t.Day, t.Hour, t.Minute, t.Second);
    const std::string stem = std::string(time) + "-" + FileSerial(serial) + "-" + std::string(kind);
    std::string candidate = stem;
    for (int n = 2;; ++n) {
        std::error_code error;
        if (!fs::exists(fs::path(folder) / (candidate + std::string(firstSuffix)), error)) return candidate;
        candidate = stem + "-" + std::to_string(n);
    }
}

bool WriteReportFile(const std::string& folder, const std::string& name, const TProducer& produce) {
    const fs::path path = fs::path(folder) / name;
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) {
        Failed(path, error.message());
        return false;
    }
    const fs::path temporary = fs::path(folder) / ("." + name + ".part");
    std::FILE* file = std::fopen(temporary.string().c_str(), "wb");
    if (!file) {
        Failed(path, std::strerror(errno));
        return false;
    }
    bool written = true;
    int writeErrno = 0;
    std::string why;
    try {
        produce([&](std::string_view piece) {
            if (written && std::fwrite(piece.data(), 1, piece.size(), file) != piece.size()) {
                written = false;
                writeErrno = errno;
            }
        });
    } catch (const std::exception& e) {
        why = e.what();
    }
    const bool closed = std::fclose(file) == 0;
    if (why.empty() && (!written || !closed)) why = std::strerror(written ? errno : writeErrno);
    if (!why.empty()) {
        Failed(path, why);
        fs::remove(temporary, error);
        return false;
    }
    fs::rename(temporary, path, error);
    if (error) {
        Failed(path, error.message());
        fs::remove(temporary, error);
        return false;
    }
    Note("report: " + path.string(), false);
    return true;
}

bool WriteReportFile(const std::string& folder, const std::string& name, std::string_view bytes) {
    return WriteReportFile(folder, name, [bytes](const TEmit& emit) { emit(bytes); });
}

}  // namespace report
