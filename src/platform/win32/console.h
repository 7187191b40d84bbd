// What the Win32 system calls need of the console backend.
// Threads: main, signal handling.
#pragma once

namespace plat::con {

// Puts a console the program borrowed (the one of the cmd.exe that started it) back as the
// program found it: buffer size, window, cells, cursor, text attribute, title and input mode.
// Does it once, from whichever thread comes first; console output after it is dropped. Nothing
// to do in a console the program allocated itself.
void Restore();

}  // namespace plat::con
