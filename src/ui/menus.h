// The framed main menu and the scan settings dialog.
// Thread: main.
#pragma once

#include <cstdint>

bool RunMainMenu();
void DrawMainMenu(int highlighted);
void DrawMenuItems(int highlighted);

bool RunScanSettings();
void DrawScanSettings(bool recheck, int field, std::int64_t startLba, std::int64_t endLba);
void DrawSettingsItems(bool recheck, int field, std::int64_t startLba, std::int64_t endLba);
void EditLbaField(std::int64_t& lba, bool isStart);
