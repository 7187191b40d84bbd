// The program: start sequence and main loop.
// Thread: main.
#pragma once

[[noreturn]] void Main();
void ChooseDrive();
void ReselectDrive();
