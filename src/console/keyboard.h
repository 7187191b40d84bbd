// Keyboard reads. Every blocking read flushes the queue first; F10 at any of them ends the
// program.
// Thread: main.
#pragma once

#include <cstdint>
#include <string_view>

enum TKey : std::uint16_t {
    vkBack = 8,
    vkReturn = 13,
    vkEscape = 27,
    vkSpace = 32,
    vkUp = 38,
    vkDown = 40,
    vkF4 = 115,
    vkF10 = 121,
};

void ErrorBeep();
bool IsDigits(std::string_view text);
void WaitForEnter();
std::uint16_t WaitMenuKey();  // DOWN, UP, F4, ENTER, SPACE or ESC
bool PollEscape();
// Edits a decimal LBA in place at the cursor; true with `value` set when the user confirmed a
// value inside the range, false on ESC.
bool EditLba(std::int64_t& value, bool isStart);
// Digits an LBA field takes on the current drive: ten, or as many as its last LBA has when that
// is more.
int LbaFieldDigits();
// Ends the program when the record carries F10 (pressed or released).
void EndOnF10(std::uint16_t virtualKey);
