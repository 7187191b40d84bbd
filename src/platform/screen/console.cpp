// The console output calls of the seam, on the process's in-memory screen buffer. Shared by the
// backends that keep the screen in memory (the Linux terminal and the headless harness); each of
// them adds the calls that set the console up and the input side.
// Threads: main, clock, ticker.
#include "platform/platform.h"
#include "platform/screen/codepage.h"
#include "platform/screen/screen_buffer.h"

namespace plat {

using screen::TheScreen;

bool SetCursorPosition(Handle, Coord pos) { return TheScreen().SetCursor(pos); }

ScreenBufferInfo GetScreenBufferInfo(Handle) {
    auto& s = TheScreen();
    return ScreenBufferInfo{s.Size(), s.Cursor(), s.Attribute()};
}

CursorInfo GetCursorInfo(Handle) { return TheScreen().GetCursorInfo(); }

void SetCursorInfo(Handle, const CursorInfo& info) { TheScreen().SetCursorInfo(info); }

void SetTextAttribute(Handle, std::uint16_t attribute) { TheScreen().SetAttribute(attribute); }

void WriteStream(std::string_view bytes) { TheScreen().Write(bytes); }

std::uint32_t FillCharacter(Handle, char c, std::uint32_t count, Coord at) {
    return TheScreen().FillChar(static_cast<std::uint8_t>(c), count, at);
}

std::uint32_t FillAttribute(Handle, std::uint16_t attribute, std::uint32_t count, Coord at) {
    return TheScreen().FillAttr(static_cast<std::uint8_t>(attribute), count, at);
}

std::uint32_t WriteCharacters(Handle, std::string_view chars, Coord at) { return TheScreen().WriteChars(chars, at); }

void ScrollBuffer(Handle, Rect scroll, Coord dest, char fill, std::uint16_t fillAttribute) {
    TheScreen().Scroll(scroll, dest,
                       screen::Cell{static_cast<std::uint8_t>(fill), static_cast<std::uint8_t>(fillAttribute)});
}

void AnsiToOem(std::string& text) {
    for (char& c : text) c = static_cast<char>(screen::AnsiToOemByte(static_cast<std::uint8_t>(c)));
}

}  // namespace plat
