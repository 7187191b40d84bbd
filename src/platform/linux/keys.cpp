#include "platform/linux/keys.h"

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

}  // namespace

std::size_t DecodeKey(std::string_view bytes, bool complete, Key& key) {
    if (bytes.empty()) return 0;
    if (bytes[0] != Esc) {
        key = ByteKey(static_cast<std::uint8_t>(bytes[0]));
        return 1;
    }
    if (bytes.size() == 1) {
        if (!complete) return 0;
        key = EscapeKey;
        return 1;
    }
    const char intro = bytes[1];
    if (intro != '[' && intro != 'O') {  // ESC followed by an ordinary key: two keys
        key = EscapeKey;
        return 1;
    }
    std::size_t i = 2;
    if (intro == '[' && bytes.size() > i && bytes[i] == '[') {  // the Linux console's F1-F5
        if (bytes.size() == i + 1) {
            if (!complete) return 0;
            key = Key{};
            return bytes.size();
        }
        const char f = bytes[i + 1];
        key = f >= 'A' && f <= 'E' ? FunctionKey(f - 'A' + 1) : Key{};
        return i + 2;
    }
    int param = 0;
    bool firstParam = true;
    for (; i < bytes.size() && i < MaxSequence; ++i) {
        const auto b = static_cast<std::uint8_t>(bytes[i]);
        if (b >= '0' && b <= '9') {
            if (firstParam && param < 1000) param = param * 10 + (b - '0');
        } else if (b >= 0x20 && b <= 0x3F) {
            firstParam = false;
        } else if (b >= 0x40 && b <= 0x7E) {
            key = SequenceKey(static_cast<char>(b), param);
            return i + 1;
        } else {  // a byte no sequence holds ends this one; it starts the next key
            key = Key{};
            return i;
        }
    }
    if (!complete && i < MaxSequence) return 0;
    key = Key{};
    return i;
}

void DecodeKeys(std::string& pending, bool complete, std::deque<InputRecord>& queue) {
    std::size_t used = 0;
    Key key;
    while (const std::size_t n = DecodeKey(std::string_view(pending).substr(used), complete, key)) {
        used += n;
        queue.push_back(InputRecord{KeyEvent, true, key.VirtualKey, key.Ascii});
        queue.push_back(InputRecord{KeyEvent, false, key.VirtualKey, key.Ascii});
    }
    pending.erase(0, used);
}

}  // namespace plat::term
