// Prometheus metrics of every drive: the samples of one metric together under its HELP and TYPE
// lines, label values escaped and made valid UTF-8, the file replaced in one step.
// Thread: main.
#include "cli/metrics.h"

#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <vector>

#include "app/state.h"
#include "cli/unattended.h"
#include "drives/identity.h"
#include "history/history.h"
#include "platform/platform.h"
#include "report/files.h"
#include "report/report.h"
#include "smart/health.h"
#include "smart/table.h"

namespace cli {
namespace {

struct TDrive {
    report::TDriveFacts Facts;
    std::string Device;
    TSmartReading Reading;
};

// An NVMe health field as a metric: its name, whether it only grows, its help, and the factor that
// turns the log's unit into the metric's.
struct TNvmeMetric {
    std::string_view Member;
    std::string_view Name;
    bool Counter;
    std::string_view Help;
    double Scale;
};

constexpr TNvmeMetric NvmeMetrics[] = {
    {"critical_warning", "platenhawk_nvme_critical_warning", false, "The critical warning bits (0: none).", 1},
    {"composite_temperature", "platenhawk_nvme_temperature_celsius", false, "The composite temperature.", 1},
    {"available_spare", "platenhawk_nvme_available_spare_ratio", false, "The spare capacity left.", 0.01},
    {"available_spare_threshold", "platenhawk_nvme_available_spare_threshold_ratio", false,
     "The spare capacity below which the drive warns.", 0.01},
    {"percentage_used", "platenhawk_nvme_life_used_ratio", false, "The drive's estimate of its life used (may pass 1).",
     0.01},
    {"data_units_read", "platenhawk_nvme_read_bytes_total", true, "Bytes read, in units of 512,000.", 512'000},
    {"data_units_written", "platenhawk_nvme_written_bytes_total", true, "Bytes written, in units of 512,000.", 512'000},
    {"host_read_commands", "platenhawk_nvme_host_read_commands_total", true, "Read commands completed.", 1},
    {"host_write_commands", "platenhawk_nvme_host_write_commands_total", true, "Write commands completed.", 1},
    {"controller_busy_time", "platenhawk_nvme_controller_busy_seconds_total", true,
     "Time the controller was busy with I/O commands, in whole minutes.", 60},
    {"power_cycles", "platenhawk_nvme_power_cycles_total", true, "Power cycles.", 1},
    {"power_on_hours", "platenhawk_nvme_power_on_seconds_total", true, "Time powered on, in whole hours.", 3600},
    {"unsafe_shutdowns", "platenhawk_nvme_unsafe_shutdowns_total", true, "Shutdowns without notice.", 1},
    {"media_and_data_integrity_errors", "platenhawk_nvme_media_errors_total", true,
     "Unrecovered data integrity errors.", 1},
    {"error_log_entries", "platenhawk_nvme_error_log_entries_total", true,
     "Entries in the error information log over the drive's life.", 1},
};

// A label value: bytes that are not UTF-8 become U+FFFD; backslash, double quote and newline escaped.
std::string LabelValue(std::string_view text) {
    const std::string valid =
        nlohmann::json::parse(
            nlohmann::json(std::string(text)).dump(-1, ' ', false, nlohmann::detail::error_handler_t::replace))
            .get<std::string>();
    std::string escaped;
    for (const char c : valid) {
        if (c == '\\')
            escaped += "\\\\";
        else if (c == '"')
            escaped += "\\\"";
        else if (c == '\n')
            escaped += "\\n";
        else
            escaped += c;
    }
    return escaped;
}

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", value);
    return text;
}

struct TMetrics {
    std::string Text;

    void Family(std::string_view name, std::string_view type, std::string_view help) {
        Text += "# HELP " + std::string(name) + " " + std::string(help) + "\n# TYPE " + std::string(name) + " " +
                std::string(type) + "\n";
    }
    // `labels`: name="escaped value" pairs joined by commas.
    void Sample(std::string_view name, const std::string& labels, double value) {
        Text += std::string(name) + (labels.empty() ? "" : "{" + labels + "}") + " " + Number(value) + "\n";
    }
};

std::string DriveLabels(const TDrive& d) {
    return "drive=\"" + std::to_string(d.Facts.Number) + "\",serial=\"" + LabelValue(d.Facts.Serial) + "\"";
}

std::string_view Bus(const TSmartReading& reading) {
    if (reading.Outcome == TSmartOutcome::Nvme) return "nvme";
    return reading.Outcome == TSmartOutcome::Read ? "ata" : "unknown";
}

void DriveFamilies(TMetrics& m, const std::vector<TDrive>& drives) {
    m.Family("platenhawk_drives", "gauge", "Drives that answered.");
    m.Sample("platenhawk_drives", "", static_cast<double>(drives.size()));
    m.Family("platenhawk_drive_info", "gauge",
             "The drive as it identified itself, and the protocol its SMART data came by; always 1.");
    for (const TDrive& d : drives)
        m.Sample("platenhawk_drive_info",
                 DriveLabels(d) + ",device=\"" + LabelValue(d.Device) + "\",model=\"" + LabelValue(d.Facts.Model) +
                     "\",firmware=\"" + LabelValue(d.Facts.Firmware) + "\",bus=\"" + std::string(Bus(d.Reading)) + "\"",
                 1);
    m.Family("platenhawk_drive_capacity_bytes", "gauge", "The drive's capacity.");
    for (const TDrive& d : drives)
        m.Sample("platenhawk_drive_capacity_bytes", DriveLabels(d),
                 static_cast<double>(d.Facts.Sectors) * d.Facts.SectorSize);
    m.Family("platenhawk_smart_readable", "gauge",
             "1 when the drive gave its SMART attributes or NVMe health log, else 0.");
    for (const TDrive& d : drives)
        m.Sample("platenhawk_smart_readable", DriveLabels(d), ReadingHealth(d.Reading) ? 1 : 0);
    m.Family("platenhawk_smart_health_status", "gauge",
             "The drive's health by its own SMART data: 0 ok, 1 warning, 3 failing (as --smart exits).");
    for (const TDrive& d : drives)
        if (const std::optional<THealth> health = ReadingHealth(d.Reading))
            m.Sample("platenhawk_smart_health_status", DriveLabels(d),
                     *health == THealth::Failing   ? 3
                     : *health == THealth::Warning ? 1
                                                   : 0);
}

void AttributeFamilies(TMetrics& m, const std::vector<TDrive>& drives) {
    struct TField {
        std::string_view Name, Help;
    };
    constexpr TField Fields[] = {
        {"platenhawk_smart_attribute_value", "The ATA SMART attribute's normalised value."},
        {"platenhawk_smart_attribute_worst", "The worst normalised value so far."},
        {"platenhawk_smart_attribute_threshold", "The threshold of the attribute's id, where the drive gives one."},
        {"platenhawk_smart_attribute_raw", "The whole 48-bit raw value."},
    };
    for (std::size_t f = 0; f < std::size(Fields); ++f) {
        m.Family(Fields[f].Name, "gauge", Fields[f].Help);
        for (const TDrive& d : drives) {
            if (d.Reading.Outcome != TSmartOutcome::Read) continue;
            for (const TAtaAttribute& a : AtaAttributes(d.Reading.Ata)) {
                const std::string labels = DriveLabels(d) + ",id=\"" + std::to_string(a.Id) + "\",name=\"" +
                                           LabelValue(SmartAttributeLabel(a.Id)) + "\"";
                if (f == 0) m.Sample(Fields[f].Name, labels, a.Value);
                if (f == 1) m.Sample(Fields[f].Name, labels, a.Worst);
                if (f == 2 && a.Threshold) m.Sample(Fields[f].Name, labels, *a.Threshold);
                if (f == 3) m.Sample(Fields[f].Name, labels, static_cast<double>(a.Raw));
            }
        }
    }
}

void NvmeFamilies(TMetrics& m, const std::vector<TDrive>& drives) {
    for (std::size_t i = 0; i < std::size(NvmeMetrics); ++i) {
        const TNvmeMetric& metric = NvmeMetrics[i];
        m.Family(metric.Name, metric.Counter ? "counter" : "gauge", metric.Help);
        for (const TDrive& d : drives) {
            if (d.Reading.Outcome != TSmartOutcome::Nvme) continue;
            const TNvmeHealthRow row = NvmeHealthRowsOf(d.Reading.Nvme)[i];
            const double value = row.IsSigned ? static_cast<double>(row.Signed)
                                              : static_cast<double>(row.Value.High) * 18446744073709551616.0 +
                                                    static_cast<double>(row.Value.Low);
            m.Sample(metric.Name, DriveLabels(d), value * metric.Scale);
        }
    }
}

// With a reports folder: each drive's latest scan found there and its status by its history, for
// the drives whose serial and model the reports name.
void HistoryFamilies(TMetrics& m, const std::vector<TDrive>& drives, const history::THistory& found) {
    struct TLatest {
        const TDrive* Drive;
        const history::TReading* Scan;  // none when its reports hold SMART readings only
        history::TStatus Status;
    };
    std::vector<TLatest> known;
    for (const TDrive& d : drives)
        for (const history::TDrive& h : found.Drives) {
            if (h.Serial != d.Facts.Serial || h.Model != d.Facts.Model) continue;
            const history::TReading* scan = nullptr;
            for (const history::TReading& r : h.Readings)
                if (r.Kind == history::TKind::Scan) scan = &r;
            known.push_back({&d, scan, h.Status});
        }
    struct TScanField {
        std::string_view Name, Help;
        double (*Value)(const history::TReading&);
    };
    constexpr TScanField Fields[] = {
        {"platenhawk_last_scan_timestamp_seconds", "When the drive's latest scan in the reports started (Unix time).",
         [](const history::TReading& r) { return static_cast<double>(r.Instant); }},
        {"platenhawk_last_scan_blocks", "Blocks the drive's latest scan in the reports read.",
         [](const history::TReading& r) { return static_cast<double>(r.Blocks); }},
        {"platenhawk_last_scan_damaged_blocks", "Damaged blocks (unreadable or read short) of that scan.",
         [](const history::TReading& r) { return static_cast<double>(r.DamagedBlocks); }},
        {"platenhawk_last_scan_slow_blocks", "Blocks of that scan read in more than 50 ms.",
         [](const history::TReading& r) { return static_cast<double>(r.SlowBlocks); }},
    };
    for (const TScanField& field : Fields) {
        m.Family(field.Name, "gauge", field.Help);
        for (const TLatest& k : known)
            if (k.Scan) m.Sample(field.Name, DriveLabels(*k.Drive), field.Value(*k.Scan));
    }
    m.Family("platenhawk_history_status", "gauge",
             "Whether the drive got worse by its reports: 0 ok, 1 warning, 3 failing (as --history exits).");
    for (const TLatest& k : known)
        m.Sample("platenhawk_history_status", DriveLabels(*k.Drive),
                 k.Status == history::TStatus::Failing   ? 3
                 : k.Status == history::TStatus::Warning ? 1
                                                         : 0);
}

}  // namespace

int WriteMetrics(const TCommandLine& line, bool demo) {
    std::vector<TDrive> drives;
    for (int d = 0; d < MaxListedDrives; ++d) {
        if (!ReadDriveIdentity(d, App.DriveIdentity)) continue;
        App.CurrentDrive = d;
        TDrive drive{report::ChosenDriveFacts(), plat::DrivePath(d), {}};
        ReadSmartQuietly(d, drive.Reading);
        drives.push_back(std::move(drive));
    }
    TMetrics m;
    DriveFamilies(m, drives);
    AttributeFamilies(m, drives);
    NvmeFamilies(m, drives);
    if (!line.ReportsFolder.empty()) {
        const history::THistory found = history::ReadHistory(line.ReportsFolder, SaySkipped);
        if (!found.Error.empty())
            std::fprintf(stderr, "%s: the reports in %s were not read: %s\n", ProgramName(demo).data(),
                         line.ReportsFolder.c_str(), found.Error.c_str());
        HistoryFamilies(m, drives, found);
    }
    if (line.MetricsFile == "-") {
        std::fputs(m.Text.c_str(), stdout);
        return OutputWritten(demo) ? 0 : 2;
    }
    const std::string why = report::ReplaceFile(line.MetricsFile, [&](const report::TEmit& emit) { emit(m.Text); });
    if (why.empty()) return 0;
    std::fprintf(stderr, "%s: the metrics were not written to %s: %s\n", ProgramName(demo).data(),
                 line.MetricsFile.c_str(), why.c_str());
    return 2;
}

}  // namespace cli
