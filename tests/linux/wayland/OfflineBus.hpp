#pragma once

#include <systemd/sd-bus.h>

#include <cstdlib>
#include <sys/socket.h>

namespace orvane::linuxbackend::test {

// A started bus on which messages can be made, as they would arrive; nothing is ever sent on
// it and nothing answers.
inline sd_bus* offlineBus() {
    static sd_bus* made = [] {
        int fds[2];
        sd_bus* b = nullptr;
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) < 0 || sd_bus_new(&b) < 0 ||
            sd_bus_set_fd(b, fds[0], fds[0]) < 0 || sd_bus_start(b) < 0) {
            std::abort();
        }
        return b;
    }();
    return made;
}

} // namespace orvane::linuxbackend::test
