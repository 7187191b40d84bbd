// Whether this terminal can show the screen at all: what TERM says, the locale's character set,
// and, where the locale is not UTF-8, a question to the terminal itself.
//
// Runs on the main thread, once at start-up, before the terminal is taken: no other part of the
// terminal runs yet. It sets the terminal's modes only for its question and puts them back after.
// Thread: main.
#include <langinfo.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/linux/terminal.h"
#include "platform/linux/terminal_parts.h"

namespace plat::term {
namespace {

using Clock = std::chrono::steady_clock;

// Whether the terminal decodes UTF-8: after a two-byte letter it reports its cursor one column on.
bool TerminalDecodesUtf8() {
    termios saved{};
    if (tcgetattr(In, &saved) != 0) return false;
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    quiet.c_cc[VMIN] = 0;
    quiet.c_cc[VTIME] = 0;
    tcsetattr(In, TCSANOW, &quiet);
    Send("\r\xC3\xA9\x1b[6n");  // an e with an acute accent, then: where is the cursor?
    std::string reply;
    const auto deadline = Clock::now() + std::chrono::milliseconds(500);
    while (reply.find('R') == std::string::npos && Clock::now() < deadline) {
        pollfd p{In, POLLIN, 0};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (poll(&p, 1, static_cast<int>(std::max<std::int64_t>(left, 1))) <= 0) continue;
        char bytes[64];
        const ssize_t n = read(In, bytes, sizeof bytes);
        if (n > 0) reply.append(bytes, static_cast<std::size_t>(n));
    }
    Send("\r\x1b[K");
    tcsetattr(In, TCSANOW, &saved);
    const std::size_t semicolon = reply.rfind(';'), end = reply.find('R', semicolon);
    return semicolon != std::string::npos && end != std::string::npos &&
           reply.substr(semicolon + 1, end - semicolon - 1) == "2";
}

}  // namespace

std::string WhyUnfit() {
    const char* type = std::getenv("TERM");
    if (!type || !*type || std::strcmp(type, "dumb") == 0)
        return std::string("the terminal (TERM=") + (type ? type : "") +
               ") cannot show the screen: it needs one that moves the cursor and shows colours";
    std::setlocale(LC_CTYPE, "");
    const std::string codeset = nl_langinfo(CODESET);
    if (codeset == "UTF-8" || TerminalDecodesUtf8()) return {};
    return "the locale's character set is " + codeset +
           ", not UTF-8, and the terminal did not show that it takes UTF-8: run it in a UTF-8 locale "
           "(LANG=C.UTF-8, for instance)";
}

}  // namespace plat::term
