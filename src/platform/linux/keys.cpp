// Key decoding for a terminal (keys.h): the bytes a terminal sends turned into key records.
// Thread: main.
#include "platform/linux/keys.h"

#include <algorithm>
#include <optional>

namespace plat::term {
namespace {

// The Windows virtual-key codes the records carry.
enum : std::uint16_t {
    vkBack = 8,
    vkTab = 9,
    vkReturn = 13,
    vkEscape = 27,
    vkPrior = 33,
    vkNext = 34,
    vkEnd = 35,
    vkHome = 36,
    vkLeft = 37,
    vkUp = 38,
    vkRight = 39,
    vkDown = 40,
    vkInsert = 45,
    vkDelete = 46,
    vkF1 = 112,
};

constexpr char Esc = '\x1b';
constexpr Key EscapeKey{vkEscape, Esc};

constexpr Key FunctionKey(int n) { return Key{static_cast<std::uint16_t>(vkF1 + n - 1), 0}; }

// A key sent as one byte.
Key ByteKey(std::uint8_t b) {
    switch (b) {
        case '\r':
        case '\n':
            return Key{vkReturn, '\r'};
        case 0x7F:
        case 0x08:
            return Key{vkBack, 8};
        case '\t':
            return Key{vkTab, '\t'};
        case Esc:
            return EscapeKey;
        default:
            break;
    }
    const char c = static_cast<char>(b);
    if ((b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || b == ' ') return Key{b, c};
    if (b >= 'a' && b <= 'z') return Key{static_cast<std::uint16_t>(b - 'a' + 'A'), c};
    if (b >= 1 && b <= 26) return Key{static_cast<std::uint16_t>(b - 1 + 'A'), c};  // Ctrl+letter
    return Key{0, c};
}

// The key named by the final byte of a CSI or SS3 sequence and its first parameter.
Key SequenceKey(char final, int param) {
    switch (final) {
        case 'A':
            return Key{vkUp, 0};
        case 'B':
            return Key{vkDown, 0};
        case 'C':
            return Key{vkRight, 0};
        case 'D':
            return Key{vkLeft, 0};
        case 'H':
            return Key{vkHome, 0};
        case 'F':
            return Key{vkEnd, 0};
        case 'P':
        case 'Q':
        case 'R':
        case 'S':
            return FunctionKey(final - 'P' + 1);
        case '~':
            break;
        default:
            return Key{};
    }
    switch (param) {
        case 1:
        case 7:
            return Key{vkHome, 0};
        case 2:
            return Key{vkInsert, 0};
        case 3:
            return Key{vkDelete, 0};
        case 4:
        case 8:
            return Key{vkEnd, 0};
        case 5:
            return Key{vkPrior, 0};
        case 6:
            return Key{vkNext, 0};
        case 23:
        case 24:
            return FunctionKey(param - 12);
        default:
            break;
    }
    if (param >= 11 && param <= 15) return FunctionKey(param - 10);
    if (param >= 17 && param <= 21) return FunctionKey(param - 11);
    return Key{};
}

using State = KeyDecoder::State;

void Push(std::deque<InputRecord>& queue, Key key) {
    queue.push_back(InputRecord{KeyEvent, true, key.VirtualKey, key.Ascii});
    queue.push_back(InputRecord{KeyEvent, false, key.VirtualKey, key.Ascii});
}

// Ends the sequence under way, giving `key` unless it is muted; nothing for no key.
void Finish(KeyDecoder& d, std::deque<InputRecord>& queue, std::optional<Key> key) {
    if (key && !d.Muted) Push(queue, *key);
    d = KeyDecoder{};
}

void Start(KeyDecoder& d, State state, std::size_t length) {
    d.At = state;
    d.Length = length;
}

void Take(KeyDecoder& d, std::uint8_t b, std::deque<InputRecord>& queue) {
    switch (d.At) {
        case State::Ground:
            if (b == Esc)
                Start(d, State::Escape, 1);
            else
                Push(queue, ByteKey(b));
            return;
        case State::Escape:
            switch (b) {
                case '[':
                    Start(d, State::Csi, 2);
                    return;
                case 'O':
                    Start(d, State::Ss3, 2);
                    return;
                case ']':  // OSC
                case 'P':  // DCS
                case 'X':  // SOS
                case '^':  // PM
                case '_':  // APC
                    Start(d, State::String, 2);
                    return;
                default:  // ESC followed by an ordinary key: two keys
                    Finish(d, queue, EscapeKey);
                    Take(d, b, queue);
                    return;
            }
        case State::Csi:
            if (b == '[' && d.Length == 2) {  // the Linux console's F1-F5
                Start(d, State::LinuxFunction, 3);
                return;
            }
            [[fallthrough]];
        case State::Ss3:
            if (b >= '0' && b <= '9') {
                if (d.InFirstParam && d.Param < 1000) d.Param = static_cast<std::uint16_t>(d.Param * 10 + (b - '0'));
            } else if (b >= 0x20 && b <= 0x3F) {
                d.InFirstParam = false;
            } else if (b >= 0x40 && b <= 0x7E) {
                Finish(d, queue, d.Length < MaxSequence ? SequenceKey(static_cast<char>(b), d.Param) : Key{});
                return;
            } else {  // a byte no sequence holds ends this one; it starts the next key
                Finish(d, queue, Key{});
                Take(d, b, queue);
                return;
            }
            d.Length = std::min(d.Length + 1, MaxSequence);
            return;
        case State::LinuxFunction:
            if (b >= 0x20 && b <= 0x7E) {
                Finish(d, queue, b >= 'A' && b <= 'E' ? FunctionKey(b - 'A' + 1) : Key{});
                return;
            }
            Finish(d, queue, Key{});
            Take(d, b, queue);
            return;
        case State::String:
            if (b == '\a')
                Finish(d, queue, std::nullopt);
            else if (b == Esc)
                d.At = State::StringEscape;
            return;
        case State::StringEscape:
            Finish(d, queue, std::nullopt);
            if (b == '\\') return;  // ST
            Start(d, State::Escape, 1);
            Take(d, b, queue);
            return;
    }
}

}  // namespace

void DecodeKeys(KeyDecoder& decoder, std::string_view bytes, std::deque<InputRecord>& queue) {
    for (const char c : bytes) Take(decoder, static_cast<std::uint8_t>(c), queue);
}

void EndSequence(KeyDecoder& decoder, std::deque<InputRecord>& queue) {
    switch (decoder.At) {
        case State::Ground:
            return;
        case State::Escape:
            Finish(decoder, queue, EscapeKey);
            return;
        case State::Csi:
        case State::Ss3:
        case State::LinuxFunction:
            Finish(decoder, queue, Key{});
            return;
        case State::String:
            Finish(decoder, queue, std::nullopt);
            return;
        case State::StringEscape:  // the string ends; the ESC after it stands alone
            Finish(decoder, queue, std::nullopt);
            Start(decoder, State::Escape, 1);
            Finish(decoder, queue, EscapeKey);
            return;
    }
}

}  // namespace plat::term
