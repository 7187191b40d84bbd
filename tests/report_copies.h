// Copies of the JSON reports the headless tests write, kept for checking against their schemas:
// when PH_REPORT_COPIES names a folder (ctest sets it, see tests/CMakeLists.txt), every *.json
// file of a test's report folder is copied there before the folder is removed, under a name that
// starts with the folder's and ends as the report's. The names are listed first, in a file named
// as the folder with ".copied" added, so that the check (validate_reports.py --copies) misses any
// report that did not arrive.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

inline void KeepReportCopies(const std::filesystem::path& folder) {
    namespace fs = std::filesystem;
    const char* copies = std::getenv("PH_REPORT_COPIES");
    std::error_code ignored;
    if (!copies || !fs::is_directory(folder, ignored)) return;
    std::ofstream listed(fs::path(copies) / (folder.filename().string() + ".copied"));
    for (const auto& entry : fs::directory_iterator(folder, ignored))
        if (entry.path().extension() == ".json") {
            const std::string name = folder.filename().string() + "-" + entry.path().filename().string();
            listed << name << '\n';
            fs::copy_file(entry.path(), fs::path(copies) / name, ignored);
        }
}
