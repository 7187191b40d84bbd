// One report read back as a stream of JSON events (nlohmann's SAX interface): only the members the
// history needs are kept, the runs bounded, so that memory does not grow with the file. A file that
// is cut short, foreign, of another format or hostile (too deep, a text or number too long) is
// turned down with the reason.
// Thread: main.
#include <algorithm>
#include <array>
#include <charconv>
#include <iterator>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "history/history.h"
#include "history/parts.h"

namespace history {
namespace {

// Deeper than the reports ever nest, and bounds on one text or number.
constexpr std::size_t MostDepth = 16;
constexpr std::size_t MostTokenBytes = std::size_t{1} << 20;
constexpr std::size_t ReadChunk = std::size_t{1} << 16;
// Sector numbers and counts past 48 bits are no drive's: they are taken as that, which keeps the
// sums of the trend far from overflowing.
constexpr std::uint64_t MostSectors = std::uint64_t{1} << 48;

// The file's bytes in chunks, watching that no text or number grows past MostTokenBytes (the
// parser holds a whole token in memory). A read failure or such a token ends the input early,
// with the reason.
struct TSource {
    explicit TSource(plat::FileHandle file) : File(file) {}

    plat::FileHandle File;
    std::vector<std::uint8_t> Buffer = std::vector<std::uint8_t>(ReadChunk);
    std::size_t At = 0, Size = 0;
    bool Ended = false;
    std::string Why;
    bool InText = false, Escaped = false;
    std::size_t Token = 0;

    bool AtEnd() {
        if (At < Size) return false;
        if (Ended) return true;
        const std::int64_t n = plat::ReadFromFile(File, Buffer, Why);
        At = 0;
        Size = n > 0 ? static_cast<std::size_t>(n) : 0;
        Ended = n <= 0;
        return Ended;
    }

    void Advance() {
        const char c = static_cast<char>(Buffer[At++]);
        if (InText) {
            if (Escaped)
                Escaped = false;
            else if (c == '\\')
                Escaped = true;
            else if (c == '"')
                InText = false, Token = 0;
        } else if (c == '"') {
            InText = true;
            Token = 0;
        } else if (c == ',' || c == ':' || c == '[' || c == ']' || c == '{' || c == '}' || c == ' ' || c == '\n') {
            Token = 0;
        }
        if (++Token > MostTokenBytes) {
            Why = "a text or number longer than 1 MiB";
            Ended = true;
            At = Size;
        }
    }
};

// The input iterator the parser reads: equal to the end one when the source has no more bytes.
struct TByte {
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char*;
    using reference = char;

    TSource* Source = nullptr;

    char operator*() const { return static_cast<char>(Source->Buffer[Source->At]); }
    TByte& operator++() {
        Source->Advance();
        return *this;
    }
    bool operator==(const TByte& other) const {
        const bool end = !Source || Source->AtEnd(), otherEnd = !other.Source || other.Source->AtEnd();
        return end && otherEnd;
    }
};

// A value as it came: a number (whole or not), a text, or anything else.
struct TValue {
    std::optional<std::uint64_t> Whole;
    std::optional<double> Real;
    const std::string* Text = nullptr;
};

std::int64_t Sectors(std::uint64_t n) { return static_cast<std::int64_t>(std::min(n, MostSectors)); }

// Decimal text (an NVMe counter above 2^53) as a number, the largest one where it is larger.
std::optional<std::uint64_t> WholeOf(const TValue& v) {
    if (v.Whole) return v.Whole;
    if (!v.Text || v.Text->empty()) return std::nullopt;
    std::uint64_t n = 0;
    const auto [end, error] = std::from_chars(v.Text->data(), v.Text->data() + v.Text->size(), n);
    if (end != v.Text->data() + v.Text->size()) return std::nullopt;
    return error == std::errc::result_out_of_range ? UINT64_MAX : n;
}

// The class of a run as the scan's picture numbers them: 3-5 slow, 6 PUNRB, 7 UNRB.
std::uint8_t ClassOf(const std::string& name) {
    static constexpr std::array<const char*, 5> Names = {"lt150ms", "lt300ms", "gt300ms", "PUNRB", "UNRB"};
    for (std::size_t c = 0; c < Names.size(); ++c)
        if (name == Names[c]) return static_cast<std::uint8_t>(c + 3);
    return 0;
}

class THandler : public nlohmann::json_sax<nlohmann::json> {
public:
    explicit THandler(TReading& reading) : r_(reading) {}

    std::string Why;
    bool Program = false, Drive = false, Range = false, BlocksSeen = false;
    std::optional<std::uint64_t> Format;
    std::array<std::uint64_t, 8> Classes{};

    bool null() override { return Value(TValue{}); }
    bool boolean(bool) override { return Value(TValue{}); }
    bool number_integer(number_integer_t n) override {
        return Value(n >= 0 ? TValue{static_cast<std::uint64_t>(n), static_cast<double>(n), nullptr} : TValue{});
    }
    bool number_unsigned(number_unsigned_t n) override { return Value(TValue{n, static_cast<double>(n), nullptr}); }
    bool number_float(number_float_t n, const string_t&) override { return Value(TValue{std::nullopt, n, nullptr}); }
    bool string(string_t& text) override { return Value(TValue{std::nullopt, std::nullopt, &text}); }
    bool binary(binary_t&) override { return Value(TValue{}); }

    bool start_object(std::size_t) override { return Open(false); }
    bool start_array(std::size_t) override { return Open(true); }
    bool key(string_t& name) override {
        TFrame& f = path_.back();
        f.Key = name;
        if (path_.size() == 1 && first_) {
            first_ = false;
            if (name != "program") return Refuse("not a Platenhawk report");
        }
        return true;
    }
    bool end_object() override {
        Closed();
        return true;
    }
    bool end_array() override {
        Closed();
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception& error) override {
        if (Why.empty()) {
            const std::string text = error.what();
            const std::size_t at = text.find("] ");
            Why = "cut short or not JSON: " + (at == std::string::npos ? text : text.substr(at + 2));
        }
        return false;
    }

private:
    struct TFrame {
        bool Array = false;
        std::string Key;        // of an object: the member being read
        std::size_t Index = 0;  // of an array: the item being read
    };

    bool Refuse(const std::string& why) {
        if (Why.empty()) Why = why;
        return false;
    }

    bool Open(bool array) {
        if (path_.empty() && array) return Refuse("not a Platenhawk report");
        if (path_.size() >= MostDepth) return Refuse("nested deeper than " + std::to_string(MostDepth));
        Enter();
        path_.push_back(TFrame{array, {}, 0});
        return true;
    }

    // A value begins in the innermost container: where it stands starts an item of a run list,
    // an attribute or a speed point.
    void Enter() {
        if (path_.empty()) return;
        const std::size_t d = path_.size();
        if (d == 2 && path_[1].Array && (Top() == "damaged" || Top() == "slow")) run_ = TRun{}, runSectors_ = 0;
        if (d == 2 && path_[1].Array && IsAttributes()) attribute_ = {};
        if (d == 3 && Top() == "speed" && path_[2].Array) point_ = TSpeed{};
    }

    void Closed() {
        path_.pop_back();
        const std::size_t d = path_.size();
        if (d == 2 && path_[1].Array && (Top() == "damaged" || Top() == "slow")) {
            run_.Blocks = std::max<std::uint64_t>(run_.Blocks, 1);
            run_.LastLba = run_.FirstLba + runSectors_ - 1;
            std::vector<TRun>& runs = Top() == "damaged" ? r_.Damaged : r_.Slow;
            if (run_.LastLba >= run_.FirstLba) runs.push_back(run_);
            if (runs.size() >= 2 * MostKeptRuns) CompactRuns(runs);
        }
        if (d == 2 && path_[1].Array && IsAttributes()) {
            for (std::size_t k = 0; k < KeptAttributes.size(); ++k)
                if (attribute_.first == KeptAttributes[k] && attribute_.second) r_.Attributes[k] = attribute_.second;
        }
        if (d == 3 && Top() == "speed" && path_[2].Array && r_.Speed.size() < 4096) r_.Speed.push_back(point_);
        Next();
    }

    void Next() {
        if (!path_.empty() && path_.back().Array) ++path_.back().Index;
    }

    const std::string& Top() const { return path_[0].Key; }

    // The attributes of a SMART report, or those read after a scan.
    bool IsAttributes() const {
        return (Top() == "attributes" && r_.Kind == TKind::Smart) || (Top() == "smart_after" && r_.Kind == TKind::Scan);
    }
    bool IsNvme() const {
        return (Top() == "nvme" && r_.Kind == TKind::Smart) || (Top() == "smart_after" && r_.Kind == TKind::Scan);
    }

    bool Value(const TValue& v) {
        if (path_.empty()) return Refuse("not a Platenhawk report");
        Enter();
        const bool more = Member(v);
        Next();
        return more;
    }

    std::string TextOf(const TValue& v) const { return v.Text ? *v.Text : std::string(); }

    bool Member(const TValue& v) {
        const std::size_t d = path_.size();
        const std::string& key = path_.back().Key;
        if (d == 1) return RootMember(key, v);
        if (d == 2 && !path_[1].Array) {
            if (Top() == "drive" && key == "serial") r_.Serial = TextOf(v), Drive = Drive || v.Text;
            if (Top() == "drive" && key == "model") r_.Model = TextOf(v);
            if (Top() == "range" && key == "first_lba" && v.Whole) r_.FirstLba = Sectors(*v.Whole);
            if (Top() == "range" && key == "last_lba" && v.Whole) r_.LastLba = Sectors(*v.Whole), Range = true;
            if (Top() == "classes") Count(key, v);
            if (IsNvme()) Nvme(key, v);
        }
        if (d == 3 && path_[1].Array && !path_[2].Array) {
            if (Top() == "damaged" || Top() == "slow") {
                const std::int64_t n = v.Whole ? Sectors(*v.Whole) : 0;
                if (key == "lba") run_.FirstLba = n;
                if (key == "sectors") runSectors_ = n;
                if (key == "blocks") run_.Blocks = static_cast<std::uint64_t>(n);
                if (key == "class") run_.Worst = ClassOf(TextOf(v));
            }
            if (IsAttributes() && key == "id" && v.Whole)
                attribute_.first = static_cast<int>(std::min<std::uint64_t>(*v.Whole, 256));
            if (IsAttributes() && key == "raw") attribute_.second = WholeOf(v);
            if (IsAttributes() && key == "status" && r_.Kind == TKind::Scan) Worsen(TextOf(v));
        }
        if (d == 4 && Top() == "speed" && path_[2].Array && path_[3].Array) {
            if (path_[3].Index == 0 && v.Whole) point_.FirstLba = Sectors(*v.Whole);
            if (path_[3].Index == 1) point_.MBps = v.Real;
        }
        return true;
    }

    bool RootMember(const std::string& key, const TValue& v) {
        if (key == "program") {
            if (TextOf(v) != "platenhawk") return Refuse("not a Platenhawk report");
            Program = true;
        } else if (key == "format") {
            Format = v.Whole;
            if (Format != 1u)
                return Refuse("a report of format " + (v.Whole ? std::to_string(*v.Whole) : std::string("?")) +
                              ", which this version does not read");
        } else if (key == "started" || key == "time") {
            r_.Kind = key == "started" ? TKind::Scan : TKind::Smart;
            r_.Time = TextOf(v);
        } else if (key == "outcome") {
            r_.Outcome = TextOf(v).substr(0, 200);
        } else if (key == "blocks" && v.Whole) {
            r_.Blocks = static_cast<std::uint64_t>(Sectors(*v.Whole));
            BlocksSeen = true;
        } else if (key == "block_sectors" && v.Whole && *v.Whole > 0) {
            r_.BlockSectors = static_cast<std::uint32_t>(std::min<std::uint64_t>(*v.Whole, 4096));
        } else if (key == "status" && r_.Kind == TKind::Smart) {
            r_.SmartStatus = TextOf(v).substr(0, 200);
        }
        return true;
    }

    // A scan's SMART status: the worst of its attributes' after the scan.
    void Worsen(const std::string& status) {
        static constexpr std::array<const char*, 3> Order = {"ok", "warning", "failing"};
        const auto rank = [](const std::string& s) { return std::find(Order.begin(), Order.end(), s) - Order.begin(); };
        if (rank(status) < 3 && (r_.SmartStatus.empty() || rank(status) > rank(r_.SmartStatus)))
            r_.SmartStatus = status;
    }

    void Count(const std::string& key, const TValue& v) {
        static constexpr std::array<const char*, 8> Names = {"lt5ms",   "lt30ms",  "lt50ms", "lt150ms",
                                                             "lt300ms", "gt300ms", "punrb",  "unrb"};
        for (std::size_t c = 0; c < Names.size(); ++c)
            if (key == Names[c] && v.Whole) Classes[c] = *v.Whole;
    }

    void Nvme(const std::string& key, const TValue& v) {
        if (key == "media_and_data_integrity_errors") r_.MediaErrors = WholeOf(v);
        if (key == "percentage_used") r_.PercentageUsed = WholeOf(v);
        if (key == "critical_warning") r_.CriticalWarning = WholeOf(v);
    }

    TReading& r_;
    std::vector<TFrame> path_;
    bool first_ = true;
    TRun run_;
    std::int64_t runSectors_ = 0;
    std::pair<int, std::optional<std::uint64_t>> attribute_;
    TSpeed point_;
};

}  // namespace

bool ReadReport(plat::FileHandle file, TReading& reading, std::string& why) {
    TSource source(file);
    THandler handler(reading);
    const bool parsed = nlohmann::json::sax_parse(TByte{&source}, TByte{}, &handler);
    if (!source.Why.empty()) {
        why = source.Why;
        return false;
    }
    if (!parsed || !handler.Why.empty()) {
        why = handler.Why.empty() ? "not a Platenhawk report" : handler.Why;
        return false;
    }
    why = !handler.Program                                                         ? "not a Platenhawk report"
          : !handler.Format                                                        ? "no format"
          : reading.Time.empty()                                                   ? "neither a scan nor a SMART report"
          : !handler.Drive                                                         ? "no drive serial"
          : reading.Kind == TKind::Scan && (!handler.Range || !handler.BlocksSeen) ? "a scan report without its range"
          : reading.Kind == TKind::Scan && reading.LastLba < reading.FirstLba ? "a range that ends before it starts"
                                                                              : "";
    const std::optional<std::int64_t> instant = InstantOf(reading.Time);
    if (why.empty() && !instant) why = "a time that cannot be read: " + reading.Time.substr(0, 40);
    if (!why.empty()) return false;
    reading.Instant = *instant;
    const std::array<std::uint64_t, 8>& c = handler.Classes;
    reading.DamagedBlocks = c[6] + c[7];
    reading.SlowBlocks = c[3] + c[4] + c[5];
    CompactRuns(reading.Damaged);
    CompactRuns(reading.Slow);
    std::vector<double> speeds;
    for (const TSpeed& p : reading.Speed)
        if (p.MBps) speeds.push_back(*p.MBps);
    reading.MedianMBps = Median(speeds);
    return true;
}

}  // namespace history
