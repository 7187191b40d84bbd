// The three background threads. They draw only with cell writes, never touching the cursor or
// the current colour of the main thread.
#pragma once

void MouseNudgeThread();
void ClockThread();
void TickerThread();
