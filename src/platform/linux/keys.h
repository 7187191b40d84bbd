// Key decoding for a terminal: the bytes a terminal sends for a key, turned into the key-down
// and key-up records the console input queue holds (Windows virtual-key codes).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace plat::term {

struct Key {
    std::uint16_t VirtualKey = 0;  // 0 for a sequence no key of the program answers to
    char Ascii = 0;
    friend bool operator==(Key, Key) = default;
};

// Longest escape sequence waited for; a longer one counts as unknown.
inline constexpr std::size_t MaxSequence = 32;

// Decodes the first key of `bytes` into `key` and returns the number of bytes it took. Returns 0
// when `bytes` starts with an escape sequence that may still go on; `complete` says that no
// more bytes are coming soon (the sequence then stands as it is: a lone ESC is the ESC key).
std::size_t DecodeKey(std::string_view bytes, bool complete, Key& key);

// Decodes every key at the start of `pending`, appending a key-down and a key-up record for each
// to `queue` and removing its bytes; an unfinished escape sequence stays in `pending` unless
// `complete`.
void DecodeKeys(std::string& pending, bool complete, std::deque<InputRecord>& queue);

}  // namespace plat::term
