// Key decoding for a terminal: the bytes a terminal sends for a key, turned into the key-down
// and key-up records the console input queue holds (Windows virtual-key codes).
//
// The decoder takes bytes as they come and keeps only a small state between them, however long a
// sequence runs. Every escape sequence is taken whole, up to its final byte, and becomes one key;
// the strings a terminal sends as replies (OSC, DCS, SOS, PM, APC, up to BEL or ST) become no key.
// An ESC inside a sequence or a string ends it and starts the next key.
// Thread: main.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string_view>

#include "platform/platform.h"

namespace plat::term {

struct Key {
    std::uint16_t VirtualKey = 0;  // 0 for a sequence no key of the program answers to
    char Ascii = 0;
    friend bool operator==(Key, Key) = default;
};

// Longest escape sequence a key sends; a longer one is a key no one answers to.
inline constexpr std::size_t MaxSequence = 32;

struct KeyDecoder {
    enum class State : std::uint8_t {
        Ground,         // between keys
        Escape,         // after an ESC
        Csi,            // after ESC [: parameter and intermediate bytes up to the final byte
        LinuxFunction,  // after ESC [ [: the Linux console's F1-F5, one more byte
        Ss3,            // after ESC O
        String,         // inside OSC, DCS, SOS, PM or APC
        StringEscape,   // an ESC inside a string: ST if a backslash follows
    };
    State At = State::Ground;
    std::uint16_t Param = 0;  // the first parameter of a CSI or SS3 sequence, at most 1000
    bool InFirstParam = true;
    std::size_t Length = 0;  // bytes of a CSI or SS3 sequence so far, counted up to MaxSequence
    bool Muted = false;      // the sequence under way gives no key (a flush cut it)
};

// Decodes `bytes`, which follow whatever the decoder has taken before, appending a key-down and a
// key-up record to `queue` for each key they complete.
void DecodeKeys(KeyDecoder& decoder, std::string_view bytes, std::deque<InputRecord>& queue);

// Nothing more came in time: a sequence under way stands as it is. A lone ESC is the ESC key, a
// cut escape sequence a key no one answers to, a cut string no key.
void EndSequence(KeyDecoder& decoder, std::deque<InputRecord>& queue);

// Whether a sequence is under way, waiting for more bytes.
inline bool Waiting(const KeyDecoder& decoder) { return decoder.At != KeyDecoder::State::Ground; }

// The sequence under way, if any, gives no key when it ends, whatever bytes end it.
inline void MuteSequence(KeyDecoder& decoder) { decoder.Muted = Waiting(decoder); }

}  // namespace plat::term
