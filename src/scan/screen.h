// The scan screen: the fixed frame (title bar, progress row, status bar), the work area, the
// statistics panel, the block map and the damaged-block list.
// Thread: main.
#pragma once

#include <cstdint>
#include <string_view>

#include "scan/engine.h"

void DrawMainScreen();
void DrawWorkArea();
void DrawStatsPanel();
void PlotMapCell(char glyph, TBlockClass blockClass, std::int64_t blockEndLba);
void ScrollMap();
void ShowCurrentLba(std::int64_t lba);
void ShowClassCount(TBlockClass blockClass);
void ShowPercent();
void AddDamagedBlock(std::string_view lbaText);
void ScrollDamagedList();
