// The choice of a drive, its identity panel and the one-line drive header.
// Thread: main.
#pragma once

void SelectDrive();
void ShowDrivePanel(int d);
void ShowDriveHeader(int d);
