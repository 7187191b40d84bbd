// The program: start sequence and main loop.
#pragma once

[[noreturn]] void Main();
void ChooseDrive();
void ReselectDrive();
