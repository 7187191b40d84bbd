// The background threads' procedures (app/threads.h): the clock on row 0, the ticker on row 24,
// and the mouse nudge.
// Threads: clock, ticker, mouse nudge.
#include "app/threads.h"

#include <algorithm>
#include <string>

#include "app/state.h"
#include "console/output.h"

namespace {

// The clock field ends at column 78 of row 0; the title ends at column 23.
constexpr int ClockEnd = 78;
constexpr int ClockField = 8;
constexpr int TitleEnd = 23;

void ShowForumLine() {
    FillAttributes(1, 24, 33, clWhiteOnBlue);
    PutTextAt(1, 24, ToOem("Посетите форум Quilvex Software: "));
    FillAttributes(34, 24, 23, clYellowOnBlue);
    PutTextAt(34, 24, std::string_view(App.ForumUrl).substr(0, 23));
}

void ShowEscapeHint() {
    FillAttributes(1, 24, 8, clWhiteOnBlue);
    PutTextAt(1, 24, ToOem("Нажмите "));
    FillAttributes(9, 24, 5, clYellowOnBlue);
    PutTextAt(9, 24, "[ESC]");
    FillAttributes(14, 24, 43, clWhiteOnBlue);
    PutTextAt(14, 24, ToOem(", чтобы прервать проверку поверхности      "));
}

void ShowBanner() {
    FillAttributes(1, 24, 56, clWhiteOnBlue);
    PutTextAt(1, 24, std::string_view(App.BannerText).substr(0, 55));
    PutTextAt(56, 24, std::string_view("\0", 1));
}

}  // namespace

void MouseNudgeThread() {
    for (;;) {
        plat::NudgeIdleTimers();
        plat::SleepMs(50000);
    }
}

void ClockThread() {
    int field = ClockField;  // cells the clock has used so far, counted from column 78
    for (;;) {
        std::string t = plat::LocalTimeText();
        // A longer time (a 12-hour clock with its designator) grows to the left, stopping short
        // of the title; past that its beginning is cut.
        const int room = ClockEnd - TitleEnd - 1;
        if (static_cast<int>(t.size()) > room) t.erase(0, t.size() - static_cast<std::size_t>(room));
        const int n = static_cast<int>(t.size());
        FillAttributes(ClockEnd + 1 - n, 0, static_cast<std::uint32_t>(n), clYellowOnBlue);
        for (int x = ClockEnd + 1 - field; x <= ClockEnd - n; ++x) PutTextAt(x, 0, " ");
        field = std::max(field, n);
        PutTextAt(ClockEnd + 1 - n, 0, t);
        plat::SleepMs(1000);
    }
}

void TickerThread() {
    for (;;) {
        plat::SleepMs(20000);
        ShowForumLine();
        plat::SleepMs(20000);
        if (App.ScanRunning.load(std::memory_order_relaxed) == 1) {
            ShowEscapeHint();
            bool running = true;
            for (int count = 1; count <= 40 && running; ++count) {
                plat::SleepMs(500);
                running = App.ScanRunning.load(std::memory_order_relaxed) != 0;
            }
        }
        ShowBanner();
    }
}
