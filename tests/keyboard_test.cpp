// The key readers, called directly on the headless input queue.
#include "console/keyboard.h"

#include "app/state.h"
#include "platform/headless/runtime.h"
#include "program.h"

namespace {

using Keyboard = TWithoutProgram;

void ExpectProgramEnds(const std::function<void()>& read) {
    try {
        read();
        ADD_FAILURE() << "the program went on";
    } catch (const headless::TExit& exit) {
        EXPECT_EQ(exit.Code, 0);
    }
}

}  // namespace

TEST_F(Keyboard, WaitForEnterDropsKeysTypedAheadAndTakesOnlyEnter) {
    H().Press(Key::Enter);
    H().PressAt(10, Key::Space);
    H().PressAt(20, Key::Escape);
    H().PressAt(30, Key::Enter);
    WaitForEnter();
    EXPECT_EQ(H().Now(), 30u);
}

TEST_F(Keyboard, WaitForEnterEndsOnTheReleaseOfAHeldEnter) {
    H().Push(headless::KeyRecord(Key::Enter, false));  // flushed with the queue
    H().PressAt(5, Key::Space);
    H().PushAt(9, headless::KeyRecord(Key::Enter, false));
    WaitForEnter();
    EXPECT_EQ(H().Now(), 9u);
}

TEST_F(Keyboard, F10EndsTheProgramFromEveryRead) {
    H().PressAt(1, Key::F10);
    ExpectProgramEnds([] { WaitForEnter(); });
    H().PressAt(2, Key::F10);
    ExpectProgramEnds([] { WaitMenuKey(); });
    H().Push(headless::KeyRecord(Key::F10, false));
    ExpectProgramEnds([] { PollEscape(); });
}

TEST_F(Keyboard, WaitMenuKeyTakesPressesOfItsSixKeys) {
    H().Push(headless::KeyRecord(Key::Down, true));  // dropped by the flush
    H().PressAt(1, Key::Left);
    H().PressAt(1, Key::Tab);
    H().Type("a");
    H().PressAt(2, Key::Up);
    EXPECT_EQ(WaitMenuKey(), vkUp);
    EXPECT_EQ(H().Now(), 2u);
    for (const auto& [key, code] :
         {std::pair{Key::Down, vkDown}, std::pair{Key::F4, vkF4}, std::pair{Key::Enter, vkReturn},
          std::pair{Key::Space, vkSpace}, std::pair{Key::Escape, vkEscape}}) {
        H().PressAt(H().Now() + 1, key);
        EXPECT_EQ(WaitMenuKey(), code);
    }
}

TEST_F(Keyboard, F10ReleaseAloneEndsAMenuWait) {
    H().PressAt(1, Key::F1);
    H().PressAt(2, Key::F10);
    ExpectProgramEnds([] { WaitMenuKey(); });
    EXPECT_EQ(H().Now(), 2u);
}

TEST_F(Keyboard, PollEscapeReadsAtMostOneRecordAndNeverWaits) {
    EXPECT_FALSE(PollEscape());
    EXPECT_EQ(H().Now(), 0u);
    H().Type("a");
    EXPECT_FALSE(PollEscape()) << "the letter's press";
    EXPECT_FALSE(PollEscape()) << "its release";
    EXPECT_EQ(plat::PendingInputCount(0), 0u);
    H().Press(Key::Escape);
    EXPECT_TRUE(PollEscape());
    EXPECT_TRUE(PollEscape()) << "the release of ESC carries its key code too";
    EXPECT_FALSE(PollEscape());
}

TEST(IsDigits, NeedsOneOrMoreDigitsOnly) {
    EXPECT_TRUE(IsDigits("0"));
    EXPECT_TRUE(IsDigits("0123"));
    EXPECT_FALSE(IsDigits(""));
    EXPECT_FALSE(IsDigits("12a"));
    EXPECT_FALSE(IsDigits("-1"));
    EXPECT_FALSE(IsDigits(" 1"));
}
