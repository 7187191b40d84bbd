// The surface a scan leaves: the picture decoded and looked at where the findings are, its caption
// as the lines it wraps into, the read-speed points and the stretches of the CSV.
#include "report/picture.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>

#include "report/documents.h"
#include "report/report.h"
#include "scan_run.h"

#define STBI_ONLY_PNG
#define STB_IMAGE_STATIC
#define STB_IMAGE_IMPLEMENTATION
#include <stb/stb_image.h>

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

// The reports of one scan of drive 1 of `scenario` run to its end, read back.
struct TScanReports {
    explicit TScanReports(const std::string& scenario)
        : Folder(fs::temp_directory_path() / ("ph-picture-test-" + std::to_string(std::random_device{}()))) {
        headless::TOptions options;
        const std::string folder = Folder.string();
        options.Prepare = [folder] { report::EnableReports(folder); };
        TAtMenu p(scenario, options);
        OpenScan(p.H);
        p.H.Press(Key::F4);
        EXPECT_TRUE(p.H.RunUntilIdle(600'000));
        for (const auto& entry : fs::directory_iterator(Folder)) {
            std::ifstream in(entry.path(), std::ios::binary);
            std::ostringstream bytes;
            bytes << in.rdbuf();
            const std::string name = entry.path().filename().string();
            (name.ends_with(".json")  ? Json
             : name.ends_with(".csv") ? Csv
             : name.ends_with(".png") ? Png
                                      : Other) = bytes.str();
        }
    }
    ~TScanReports() {
        report::EnableReports("");
        std::error_code ignored;
        fs::remove_all(Folder, ignored);
    }
    fs::path Folder;
    std::string Json, Csv, Png, Other;
};

struct TPicture {
    int Width = 0, Height = 0;
    std::vector<std::uint32_t> Pixels;  // RGB
    std::uint32_t At(int x, int y) const { return Pixels[static_cast<std::size_t>(y) * Width + x]; }
};

TPicture Decoded(const std::string& png) {
    TPicture picture;
    int channels = 0;
    stbi_uc* rgb = stbi_load_from_memory(reinterpret_cast<const stbi_uc*>(png.data()), static_cast<int>(png.size()),
                                         &picture.Width, &picture.Height, &channels, 3);
    EXPECT_NE(rgb, nullptr) << "not a PNG";
    if (!rgb) return picture;
    for (int i = 0; i < picture.Width * picture.Height; ++i)
        picture.Pixels.push_back(std::uint32_t{rgb[3 * i]} << 16 | std::uint32_t{rgb[3 * i + 1]} << 8 | rgb[3 * i + 2]);
    stbi_image_free(rgb);
    return picture;
}

// Pixels of `colour` in the rectangle [x0, x1) x [y0, y1).
int Count(const TPicture& picture, std::uint32_t colour, int x0, int y0, int x1, int y1) {
    int n = 0;
    for (int y = std::max(0, y0); y < std::min(picture.Height, y1); ++y)
        for (int x = std::max(0, x0); x < std::min(picture.Width, x1); ++x) n += picture.At(x, y) == colour;
    return n;
}

// The layout the picture was drawn with: the one of its cells whose height it has.
report::TPictureLayout LayoutOf(const json& r, const TPicture& picture) {
    for (int lines = 1; lines < 40; ++lines) {
        const report::TPictureLayout layout = report::PictureLayout(r["picture"]["cells"].get<std::uint64_t>(), lines);
        if (layout.Height == picture.Height) return layout;
    }
    ADD_FAILURE() << "no layout of " << r["picture"]["cells"] << " cells is " << picture.Height << " pixels high";
    return {};
}

struct TCsvRow {
    std::int64_t First, Last;
    std::uint64_t Blocks, Read;
    std::string Worst, MeanMs, MaxMs, MBps;
};

std::vector<TCsvRow> CsvRows(const std::string& csv) {
    std::istringstream in(csv);
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "first_lba,last_lba,blocks,read,worst_class,mean_ms,max_ms,mb_s");
    std::vector<TCsvRow> rows;
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string field; std::getline(fields, field, ',');) f.push_back(field);
        if (line.ends_with(',')) f.push_back("");
        EXPECT_EQ(f.size(), 8u) << line;
        if (f.size() != 8) break;
        rows.push_back(
            TCsvRow{std::stoll(f[0]), std::stoll(f[1]), std::stoull(f[2]), std::stoull(f[3]), f[4], f[5], f[6], f[7]});
    }
    return rows;
}

struct TFinding {
    std::int64_t Lba;
    TBlockClass Class;
};

// Each finding shows as at least 5 x 5 pixels of its colour about its cell, and no colour of a
// finding shows anywhere else on the map.
void ExpectDots(const TPicture& picture, const report::TPictureLayout& layout, std::uint64_t blocksPerCell,
                const std::vector<TFinding>& findings) {
    const int s = layout.CellPixels;
    int near = 0;
    for (const TFinding& f : findings) {
        SCOPED_TRACE(f.Lba);
        const std::uint64_t cell = static_cast<std::uint64_t>(f.Lba / Block) / blocksPerCell;
        const int x = layout.GridLeft + static_cast<int>(cell % static_cast<std::uint64_t>(layout.Columns)) * s;
        const int y = layout.GridTop + static_cast<int>(cell / static_cast<std::uint64_t>(layout.Columns)) * s;
        const int pixels = Count(picture, report::CellColour(f.Class), x - 8, y - 8, x + s + 8, y + s + 8);
        EXPECT_GE(pixels, 25);
        near += pixels;
    }
    int anywhere = 0;
    for (std::uint8_t c = bcUnder150ms; c <= bcUNRB; ++c)
        anywhere += Count(picture, report::CellColour(c), layout.GridLeft - 8, layout.GridTop - 8,
                          layout.GridLeft + layout.Columns * s + 8, layout.GridTop + layout.Rows * s + 8);
    EXPECT_EQ(anywhere, near);
}

}  // namespace

TEST(SurfacePicture, EveryFindingIsADotOfItsColourAndTheCsvCoversTheRangeInEqualStretches) {
    // 299,998 blocks, the last of 100 sectors: 60,000 stretches of 5 blocks, the last of 3.
    const std::int64_t sectors = 299'997 * Block + 100;
    const std::vector<TFinding> findings = {
        {10'000'000, bcUNRB}, {30'000'123, bcPUNRB}, {50'000'000, bcOver300ms}, {70'000'000, bcUNRB}};
    const TScanReports reports(OneDrive(sectors,
                                        "latency = 1\nunreadable = 10000000\npartial = 30000123\n"
                                        "slow = 50000000 400\nunreadable = 70000000"));
    const json r = json::parse(reports.Json);
    ASSERT_EQ(r["outcome"], "completed");
    const TPicture picture = Decoded(reports.Png);
    EXPECT_EQ(picture.Width, r["picture"]["width"]);
    EXPECT_EQ(picture.Height, r["picture"]["height"]);
    const report::TPictureLayout layout = LayoutOf(r, picture);
    ASSERT_EQ(layout.CellPixels, 1) << "cells of a pixel: each finding alone would be one";
    ExpectDots(picture, layout, r["picture"]["blocks_per_cell"], findings);

    const std::vector<TCsvRow> rows = CsvRows(reports.Csv);
    ASSERT_EQ(rows.size(), 60'000u);
    EXPECT_EQ(rows.front().First, 0);
    EXPECT_EQ(rows.back().Last, sectors - 1);
    std::uint64_t blocks = 0, read = 0;
    std::map<std::string, int> worst;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(i);
        if (i > 0) {
            ASSERT_EQ(rows[i].First, rows[i - 1].Last + 1);
        }
        ASSERT_EQ(rows[i].Blocks, i + 1 < rows.size() ? 5u : 3u);
        ASSERT_EQ(rows[i].Blocks, static_cast<std::uint64_t>(rows[i].Last - rows[i].First + Block) / Block);
        blocks += rows[i].Blocks;
        read += rows[i].Read;
        ++worst[rows[i].Worst];
    }
    EXPECT_EQ(blocks, 299'998u);
    EXPECT_EQ(read, r["blocks"]);
    EXPECT_EQ(worst, (std::map<std::string, int>{{"lt5ms", 60'000 - 4}, {"punrb", 1}, {"gt300ms", 1}, {"unrb", 2}}));
    // The stretch of the slow block, its fourth: the slowest read of the five and their mean.
    const auto slow = std::find_if(rows.begin(), rows.end(), [](const TCsvRow& row) { return row.Last >= 50'000'000; });
    ASSERT_NE(slow, rows.end());
    EXPECT_EQ(slow->Worst, "gt300ms");
    EXPECT_EQ(slow->MaxMs, "400.000");
    EXPECT_EQ(slow->MeanMs, "80.800");
    const json& points = r["speed"]["points"];
    ASSERT_EQ(points.size(), 1017u) << "60,000 stretches, 59 to a point";
    EXPECT_EQ(points[1016][0], 1016 * 59 * 5 * Block);

    // The same drive without findings: not one pixel of a finding's colour on its map.
    const TScanReports healthy(OneDrive(sectors, "latency = 1"));
    const json h = json::parse(healthy.Json);
    ASSERT_EQ(h["verdict"], "healthy");
    const TPicture clean = Decoded(healthy.Png);
    ExpectDots(clean, LayoutOf(h, clean), h["picture"]["blocks_per_cell"], {});
}

TEST(SurfacePicture, OnATwoTerabyteDriveEachOfFourFindingsCoversAtLeast25PixelsOfItsColour) {
    // A scan of the whole drive through the program takes over a minute here: the record gets the
    // blocks the scan would hand it.
    constexpr std::int64_t sectors = 3'907'029'168;
    const std::vector<TFinding> findings = {
        {1'000'000'000, bcUNRB}, {2'000'000'123, bcPUNRB}, {2'500'000'000, bcOver300ms}, {3'000'000'000, bcUNRB}};
    report::TScanRecord record;
    report::BeginScan(record, 0, sectors - 1, Block);
    for (std::int64_t lba = 0; lba < sectors; lba += Block) {
        TBlockResult block{lba, static_cast<std::uint32_t>(std::min(Block, sectors - lba)), bcUnder5ms, 1, 0, 1000};
        for (const TFinding& f : findings)
            if (f.Lba >= lba && f.Lba < lba + Block) block.Class = f.Class;
        if (block.Class < bcPUNRB) block.Bytes = block.Sectors * 512;
        report::AddBlock(record, block, Block);
    }
    const std::vector<std::uint8_t> png = report::SurfacePng(record);
    const TPicture picture = Decoded(std::string(png.begin(), png.end()));
    const report::TPictureLayout layout = report::PictureLayout(record);
    ASSERT_EQ(picture.Height, layout.Height);
    EXPECT_LE(picture.Width, report::MostPicturePixels);
    EXPECT_LE(picture.Height, report::MostPicturePixels);
    EXPECT_EQ(layout.CellPixels, 1);
    ExpectDots(picture, layout, record.BlocksPerCell, findings);
    EXPECT_LE(record.Surface.Stretches.size(), report::MostStretches);
    EXPECT_EQ(report::SpeedPoints(record.Surface).size(), report::MostSpeedPoints);
}

TEST(SurfacePicture, TheSpeedFallsWhereTheBlocksGetSlowerWithAGapWhereNoneWasReadWhole) {
    // 256 blocks, each eighth 1 ms slower than the one before; block 100 unreadable.
    std::string zones = "latency = 1\nunreadable = " + std::to_string(100 * Block) + "\n";
    for (int k = 1; k < 8; ++k)
        zones += "slow = " + std::to_string(k * 32 * Block) + "-" + std::to_string((k + 1) * 32 * Block - 1) + " " +
                 std::to_string(1 + k) + "\n";
    const TScanReports reports(OneDrive(256 * Block, zones));
    const json r = json::parse(reports.Json);
    const json& points = r["speed"]["points"];
    ASSERT_EQ(points.size(), 256u);
    double last = 1e300;
    for (std::size_t k = 0; k < points.size(); ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(points[k][0], k * Block);
        if (k == 100) {
            EXPECT_TRUE(points[k][1].is_null()) << "no block of it was read whole";
            continue;
        }
        const double mbps = points[k][1];
        EXPECT_NEAR(mbps, Block * 512 / (1000.0 * static_cast<double>(1 + k / 32)), 0.01);
        EXPECT_LE(mbps, last);
        last = mbps;
    }
    EXPECT_LT(last * 7, points[0][1].get<double>());
    const std::vector<TCsvRow> rows = CsvRows(reports.Csv);
    ASSERT_EQ(rows.size(), 256u);
    EXPECT_EQ(rows[100].Worst, "unrb");
    EXPECT_EQ(rows[100].MBps, "") << "nothing read whole";
    EXPECT_EQ(rows[255].MeanMs, "8.000");
    EXPECT_EQ(rows[255].MBps, "16.32");
}

TEST(SurfacePicture, TheCaptionWrapsOntoAsManyLinesAsItNeedsAndCutsNothing) {
    // A 2^40-sector drive: a cell holds 4113 blocks.
    report::TScanRecord record;
    record.Drive =
        report::TDriveFacts{1, std::string(40, 'M'), std::string(20, '7'), "FW", std::int64_t{1} << 40, 512, {}};
    report::BeginScan(record, 0, (std::int64_t{1} << 40) - 1, 255);
    record.Blocks = record.RangeBlocks / 20 + 1;
    record.Stopped = true;
    std::vector<std::string> paragraphs = report::CaptionParagraphs(record);
    const std::vector<std::string> lines = report::CaptionLines(record);
    const report::TPictureLayout layout = report::PictureLayout(record);
    EXPECT_EQ(layout.Height, report::PictureLayout(record.Cells.size(), static_cast<int>(lines.size())).Height);
    EXPECT_LE(layout.Height, report::MostPicturePixels);
    std::string words, wrapped;
    for (const std::string& p : paragraphs) words += p + " ";
    for (const std::string& line : lines) {
        EXPECT_LE(report::TextPixels(line), layout.TextWidth) << line;
        EXPECT_FALSE(line.starts_with(' ')) << line;
        wrapped += line + " ";
    }
    const auto squeezed = [](std::string text) {
        text.erase(std::unique(text.begin(), text.end(), [](char a, char b) { return a == ' ' && b == ' '; }),
                   text.end());
        return text;
    };
    EXPECT_EQ(squeezed(wrapped), squeezed(words));
    EXPECT_NE(wrapped.find("1 cell = 4113 blocks of 255 sectors"), std::string::npos) << wrapped;
    EXPECT_NE(wrapped.find("stopped after 5 %"), std::string::npos) << wrapped;
    EXPECT_NE(wrapped.find("LBA 0 - 1099511627775 of 1099511627776"), std::string::npos) << wrapped;

    // Notes of any length, words longer than a line among them, become lines of their own.
    paragraphs.push_back("during the scan: Reallocated Sectors Count 0 \u2192 12 " + std::string(300, 'x'));
    const std::vector<std::string> more = report::WrapText(paragraphs, layout.TextWidth);
    EXPECT_GE(more.size(), lines.size() + 3);
    std::string all;
    for (const std::string& line : more) {
        EXPECT_LE(report::TextPixels(line), layout.TextWidth) << line;
        EXPECT_FALSE(line.starts_with(' ')) << line;
        all += line;
    }
    EXPECT_NE(all.find("0 \u2192 12"), std::string::npos);
    EXPECT_EQ(std::count(all.begin(), all.end(), 'x'), 300);
    // The largest map under a caption of 20 lines still fits.
    EXPECT_LE(report::PictureLayout(report::MostCells, 20).Height, report::MostPicturePixels);
}
