// Start-up: the stored texts and the console set-up.
// Thread: main.
#pragma once

#include <string>
#include <string_view>

// The stored forms of the three texts decoded at start-up.
extern const std::string_view StoredTitle;
extern const std::string_view StoredForumUrl;
extern const std::string_view StoredBanner;

std::string DecodeBase64(std::string_view text);
void SetUpConsole();
void SetBufferSize80x25();
bool Is80x25();
[[noreturn]] void Fail80x25();
void SetFullScreen();
