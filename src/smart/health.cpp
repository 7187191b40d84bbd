// Statuses of SMART readings and the changes between two of them; see smart/health.h. Pure
// functions.
// Thread: main.
#include "smart/health.h"

#include <algorithm>

namespace {

constexpr std::size_t Slots = 30, SlotBytes = 12;
constexpr std::size_t CriticalWarningRow = 0, SpareRow = 2, SpareThresholdRow = 3, PercentageUsedRow = 4,
                      MediaErrorsRow = 13;

// The counters of surface damage, named where the name table has no name for them.
struct TDamageCounter {
    std::uint8_t Id;
    std::string_view Name;
};
constexpr TDamageCounter DamageCounters[] = {
    {5, ""}, {187, "Reported Uncorrectable Errors"}, {196, ""}, {197, ""}, {198, ""}};

const std::uint8_t* Slot(const std::array<std::uint8_t, 512>& sector, std::size_t slot) {
    return sector.data() + 2 + slot * SlotBytes;
}

std::uint64_t LittleEndian(const std::uint8_t* bytes, int count) {
    std::uint64_t v = 0;
    for (int i = count - 1; i >= 0; --i) v = (v << 8) | bytes[i];
    return v;
}

std::optional<std::uint8_t> ThresholdOf(const TSmartSectors& sectors, std::uint8_t id) {
    for (std::size_t s = 0; s < Slots; ++s)
        if (Slot(sectors.Thresholds, s)[0] == id) return Slot(sectors.Thresholds, s)[1];
    return std::nullopt;
}

THealth AttributeHealth(const TAtaAttribute& a) {
    if (a.Threshold && *a.Threshold != 0 && a.Value <= *a.Threshold) return THealth::Failing;
    const bool damageCount = a.Id == 5 || a.Id == 196 || a.Id == 197 || a.Id == 198;
    return damageCount && a.Raw != 0 ? THealth::Warning : THealth::Ok;
}

// The first attribute of id `id`.
const TAtaAttribute* Find(const std::vector<TAtaAttribute>& attributes, std::uint8_t id) {
    const auto found =
        std::find_if(attributes.begin(), attributes.end(), [id](const TAtaAttribute& a) { return a.Id == id; });
    return found == attributes.end() ? nullptr : &*found;
}

bool Answered(const TSmartReading& reading) {
    return reading.Outcome == TSmartOutcome::Read || reading.Outcome == TSmartOutcome::Nvme;
}

std::string Change(std::string_view name, const std::string& before, const std::string& after, std::string_view arrow) {
    return "during the scan: " + std::string(name) + " " + before + " " + std::string(arrow) + " " + after;
}

}  // namespace

std::string_view HealthName(THealth health) {
    switch (health) {
        case THealth::Failing:
            return "failing";
        case THealth::Warning:
            return "warning";
        default:
            return "ok";
    }
}

std::vector<TAtaAttribute> AtaAttributes(const TSmartSectors& sectors) {
    std::vector<TAtaAttribute> attributes;
    for (std::size_t s = 0; s < Slots; ++s) {
        const std::uint8_t* entry = Slot(sectors.Values, s);
        if (entry[0] == 0) continue;
        TAtaAttribute a{s,
                        entry[0],
                        static_cast<std::uint16_t>(LittleEndian(entry + 1, 2)),
                        entry[3],
                        entry[4],
                        LittleEndian(entry + 5, 6),
                        ThresholdOf(sectors, entry[0]),
                        THealth::Ok};
        a.Health = AttributeHealth(a);
        attributes.push_back(a);
    }
    return attributes;
}

std::array<THealth, NvmeHealthRows> NvmeHealth(const TNvmeLog& log) {
    const std::array<TNvmeHealthRow, NvmeHealthRows> rows = NvmeHealthRowsOf(log);
    std::array<THealth, NvmeHealthRows> health{};
    const auto failing = [&](bool condition) { return condition ? THealth::Failing : THealth::Ok; };
    health[CriticalWarningRow] = failing(rows[CriticalWarningRow].Value.Low != 0);
    health[SpareRow] = failing(rows[SpareRow].Value.Low < rows[SpareThresholdRow].Value.Low);
    health[PercentageUsedRow] = failing(rows[PercentageUsedRow].Value.Low >= 100);
    const TUInt128& media = rows[MediaErrorsRow].Value;
    health[MediaErrorsRow] = media.Low != 0 || media.High != 0 ? THealth::Warning : THealth::Ok;
    return health;
}

std::optional<THealth> ReadingHealth(const TSmartReading& reading) {
    THealth worst = THealth::Ok;
    if (reading.Outcome == TSmartOutcome::Read)
        for (const TAtaAttribute& a : AtaAttributes(reading.Ata)) worst = std::max(worst, a.Health);
    else if (reading.Outcome == TSmartOutcome::Nvme)
        for (const THealth h : NvmeHealth(reading.Nvme)) worst = std::max(worst, h);
    else
        return std::nullopt;
    return worst;
}

std::string_view SmartFailure(TSmartOutcome outcome) {
    return outcome == TSmartOutcome::CannotOpen ? "the drive could not be opened" : "the drive refused a SMART request";
}

std::vector<std::string> SmartChangeLines(const TSmartBeforeAfter& smart, std::string_view arrow) {
    std::vector<std::string> lines;
    if (!smart.Taken) return lines;
    const bool readBefore = Answered(smart.Before), readAfter = Answered(smart.After);
    if (!readBefore && !readAfter)
        lines.push_back("no SMART reading: " + std::string(SmartFailure(smart.After.Outcome)));
    if (readBefore != readAfter)
        lines.push_back(std::string("no SMART reading ") + (readBefore ? "after" : "before") +
                        " the scan: " + std::string(SmartFailure((readBefore ? smart.After : smart.Before).Outcome)));
    if (!lines.empty() || smart.Before.Outcome != smart.After.Outcome) return lines;
    if (smart.Before.Outcome == TSmartOutcome::Nvme) {
        const TNvmeHealthRow before = NvmeHealthRowsOf(smart.Before.Nvme)[MediaErrorsRow];
        const TNvmeHealthRow after = NvmeHealthRowsOf(smart.After.Nvme)[MediaErrorsRow];
        if (!(before.Value == after.Value))
            lines.push_back(Change(before.Name, ValueText(before), ValueText(after), arrow));
        return lines;
    }
    const std::vector<TAtaAttribute> before = AtaAttributes(smart.Before.Ata), after = AtaAttributes(smart.After.Ata);
    for (const TDamageCounter& counter : DamageCounters) {
        const TAtaAttribute* b = Find(before, counter.Id);
        const TAtaAttribute* a = Find(after, counter.Id);
        if (!b || !a || b->Raw == a->Raw) continue;
        const std::string_view name = counter.Name.empty() ? SmartAttributeLabel(counter.Id) : counter.Name;
        lines.push_back(Change(name, std::to_string(b->Raw), std::to_string(a->Raw), arrow));
    }
    return lines;
}
