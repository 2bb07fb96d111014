#include "backends/linux/x11/X11EventThread.hpp"

#include "backends/linux/runtime/WorkerWakeUp.hpp"
#include "backends/linux/x11/X11Connection.hpp"

#include <cerrno>
#include <cstdint>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace orvane::linuxbackend {

bool X11EventThread::start(X11Connection& connection, std::function<void(XEvent&)> onEvent,
                           std::function<void()> afterBatch) {
    if (thread_.joinable()) {
        return true;
    }
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) {
        return false;
    }
    onEvent_ = std::move(onEvent);
    afterBatch_ = std::move(afterBatch);
    thread_ = std::thread([this, &connection] { run(connection); });
    return true;
}

void X11EventThread::stop() {
    wakeJoinAndClose(thread_, wakeFd_);
}

void X11EventThread::run(X11Connection& connection) {
    ::Display* display = connection.display();
    while (connection.isAlive()) {
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            onEvent_(event);
        }
        if (afterBatch_) {
            afterBatch_();
        }
        pollfd descriptors[2] = {{ConnectionNumber(display), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        if (poll(descriptors, 2, -1) < 0 && errno != EINTR) {
            return;
        }
        if ((descriptors[1].revents & POLLIN) || (descriptors[0].revents & (POLLHUP | POLLERR))) {
            return;
        }
    }
}

} // namespace orvane::linuxbackend
