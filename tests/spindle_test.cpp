// Spindle stop and spin-up from the main menu: the one pass-through request per command, the
// waiting line erased afterwards, and the menu taking keys again at once.
#include <cstdint>
#include <string>
#include <vector>

#include "program.h"

namespace {

constexpr std::uint32_t IdePassThrough = 0x0004D028;
constexpr int HighlightedItem = 63;  // white on cyan
constexpr int MenuItemColumn = 21;

const std::string ThreeDrives = "[drive 0]\nsectors = 1000\n[drive 1]\nsectors = 2000\n[drive 2]\nsectors = 3000\n";

std::vector<std::uint8_t> Record(std::uint8_t command) { return {0, 0, 0, 0, 0, 0xA0, command, 0, 0, 0, 0, 0}; }

// Moves the menu highlight down from item `from` to item `to` and picks it.
void Pick(headless::Harness& h, int from, int to) {
    for (int i = 0; i < (to - from + 4) % 4; ++i) h.Send(Key::Down);
    h.Send(Key::Enter);
}

int HighlightedRow(const headless::Harness& h) {
    for (int row = 9; row <= 12; ++row)
        if (h.Attr(MenuItemColumn, row) == HighlightedItem) return row;
    return -1;
}

void ExpectWaitLineErased(const headless::Harness& h) {
    EXPECT_EQ(h.Text(0, 23, 44), std::string(44, ' ')) << h.Dump();
    for (int x = 0; x < 44; ++x) ASSERT_EQ(h.Attr(x, 23), 8) << "column " << x;
}

// The count of the slowest latency class on the scan screen.
std::string SlowestCount(const headless::Harness& h) { return h.Text(69, 8, 10); }

void Scan(headless::Harness& h, int fromItem) {
    Pick(h, fromItem, 0);
    h.Send(Key::F4);
}

}  // namespace

TEST(Spindle, StopAndSpinUpSendOnePassThroughToTheChosenDrive) {
    for (int drive = 0; drive <= 2; ++drive) {
        SCOPED_TRACE("physical drive " + std::to_string(drive));
        TProgram p(ThreeDrives);
        p.H.SendText(std::to_string(drive + 1));
        p.H.Send(Key::Enter);
        sim::ClearLogs();
        const std::string panel = p.H.Row(5);

        Pick(p.H, 0, 2);
        std::vector<sim::TRequest> requests = sim::Requests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].Drive, drive);
        EXPECT_EQ(requests[0].Code, IdePassThrough);
        EXPECT_EQ(requests[0].In, Record(0xE6));
        EXPECT_EQ(requests[0].OutLength, 12u);
        ExpectWaitLineErased(p.H);
        EXPECT_EQ(p.H.Row(5), panel) << "the work area is not redrawn";
        EXPECT_EQ(HighlightedRow(p.H), 11);
        EXPECT_EQ(sim::OpenHandles(), 0);

        // The menu takes keys at once: no key is awaited after the command.
        Pick(p.H, 2, 3);
        requests = sim::Requests();
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_EQ(requests[1].Drive, drive);
        EXPECT_EQ(requests[1].Code, IdePassThrough);
        EXPECT_EQ(requests[1].In, Record(0x10));
        EXPECT_EQ(requests[1].OutLength, 12u);
        ExpectWaitLineErased(p.H);
        EXPECT_EQ(HighlightedRow(p.H), 12);
        EXPECT_EQ(sim::OpenHandles(), 0);
        EXPECT_TRUE(p.H.Beeps().empty());
        EXPECT_FALSE(p.H.Exited());
    }
}

TEST(Spindle, ADriveThatCannotBeOpenedFailsSilently) {
    // The chosen drive 2 is unplugged at the menu: it no longer opens.
    TProgram p("[drive 0]\nsectors = 1000\n[drive 2]\nsectors = 2000\n");
    p.H.SendText("3");
    p.H.Send(Key::Enter);
    sim::RemoveDrive(2);
    sim::ClearLogs();
    const std::string panelRow = p.H.Row(4);
    Pick(p.H, 0, 2);
    for (const sim::TRequest& r : sim::Requests()) EXPECT_TRUE(r.Drive != 0 && r.Drive != 2) << r.Drive;
    ExpectWaitLineErased(p.H);
    EXPECT_EQ(p.H.Row(4), panelRow) << "no message";
    EXPECT_EQ(HighlightedRow(p.H), 11);
    EXPECT_EQ(sim::OpenHandles(), 0);
    p.H.Send(Key::Down);
    EXPECT_EQ(HighlightedRow(p.H), 12);
}

TEST(Spindle, AStoppedDriveSpinsUpOnItsNextRead) {
    TAtMenu p(OneDrive(1000));
    Pick(p.H, 0, 2);
    Pick(p.H, 2, 3);
    Scan(p.H, 3);
    EXPECT_EQ(SlowestCount(p.H), "         0") << p.H.Dump();

    p.H.Send(Key::Enter);
    Pick(p.H, 0, 2);
    Scan(p.H, 2);
    EXPECT_EQ(SlowestCount(p.H), "         1") << p.H.Dump();
}
