// Staying awake on Linux: a logind inhibitor ("sleep:idle", mode "block") taken on the system bus
// through sd-bus when a scan starts and dropped when it ends, by closing the descriptor logind
// gave. Built without sd-bus (PH_LOGIND undefined: the static build), the system may sleep.
// Thread: main.
#include <string>
#include <string_view>

#include "platform/platform.h"

#ifdef PH_LOGIND
#include <fcntl.h>
#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#endif

namespace plat {

#ifdef PH_LOGIND
namespace {

// Longer than logind ever takes; short enough that a bus that does not answer delays a scan little.
constexpr std::uint64_t CallMicros = 5'000'000;

int Inhibitor = -1;  // the descriptor that holds it

struct TBusCall {
    sd_bus* Bus = nullptr;
    sd_bus_message* Reply = nullptr;
    sd_bus_error Error = SD_BUS_ERROR_NULL;
    TBusCall() = default;
    TBusCall(const TBusCall&) = delete;
    TBusCall& operator=(const TBusCall&) = delete;
    ~TBusCall() {
        sd_bus_error_free(&Error);
        sd_bus_message_unref(Reply);
        sd_bus_flush_close_unref(Bus);
    }
};

}  // namespace

std::string HoldAwake(std::string_view why) {
    ReleaseAwake();
    TBusCall call;
    if (const int r = sd_bus_open_system(&call.Bus); r < 0) return std::string("no system bus: ") + std::strerror(-r);
    sd_bus_set_method_call_timeout(call.Bus, CallMicros);
    const std::string text(why);
    const int r = sd_bus_call_method(call.Bus, "org.freedesktop.login1", "/org/freedesktop/login1",
                                     "org.freedesktop.login1.Manager", "Inhibit", &call.Error, &call.Reply, "ssss",
                                     "sleep:idle", "platenhawk", text.c_str(), "block");
    if (r < 0)
        return std::string("logind did not keep the system awake: ") +
               (call.Error.message ? call.Error.message : std::strerror(-r));
    int fd = -1;
    if (const int m = sd_bus_message_read(call.Reply, "h", &fd); m < 0)
        return std::string("logind's answer was not understood: ") + std::strerror(-m);
    // The descriptor belongs to the reply: a copy of it outlives the reply and the connection.
    Inhibitor = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    if (Inhibitor < 0) return std::string("logind's inhibitor could not be kept: ") + std::strerror(errno);
    return {};
}

void ReleaseAwake() {
    if (Inhibitor >= 0) close(Inhibitor);
    Inhibitor = -1;
}

#else

std::string HoldAwake(std::string_view) { return "built without logind support"; }
void ReleaseAwake() {}

#endif

}  // namespace plat
