// What the two parts of the Win32 console ask of each other: the hand-over (console.cpp) keeps the
// console the program borrowed and puts it back on every way out; the screen (console_screen.cpp)
// draws on it, writes the text stream and reads the keys. Nothing else includes this.
// Threads: main, clock, ticker.
#pragma once

#include <windows.h>
// winuser.h names CharToOemA AnsiToOem as well; the seam's AnsiToOem is defined by the console.
#undef AnsiToOem

#include "platform/platform.h"

namespace plat::con {

inline HANDLE Native(Handle handle) { return reinterpret_cast<HANDLE>(handle); }

inline COORD Native(Coord c) { return COORD{c.X, c.Y}; }

inline Coord FromNative(COORD c) { return Coord{c.X, c.Y}; }

// Held around every call that changes the console: once the restore has begun such calls are
// dropped, and the restore waits for those under way (the clock and ticker threads write too).
class TOutput {
public:
    TOutput();
    ~TOutput();
    TOutput(const TOutput&) = delete;
    TOutput& operator=(const TOutput&) = delete;
    bool Allowed() const;
};

// The program draws on the buffer: from now on the restore puts the cells found there back.
void TakeScreen();

// The cursor is moved. On a screen not taken yet that is the size check's, which the text stream
// and the restore undo.
void NoteCursorMove();

// Before the text stream writes on a screen not taken: the cursor goes back to where the user's
// output ended, when the size check moved it.
void ReturnMovedCursor(HANDLE out);

}  // namespace plat::con
