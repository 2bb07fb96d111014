#include "X11DisplayWatcher.hpp"

#include "X11Connection.hpp"

#include <X11/extensions/Xrandr.h>

#include <cerrno>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <vector>

namespace orvane::linuxbackend {

X11DisplayWatcher::X11DisplayWatcher(std::function<std::shared_ptr<MainQueue>()> mainQueue)
    : mainQueue_(std::move(mainQueue)) {}

X11DisplayWatcher::~X11DisplayWatcher() {
    if (thread_.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] auto written = write(wakeFd_, &one, sizeof one);
        thread_.join();
    }
    if (wakeFd_ >= 0) {
        close(wakeFd_);
    }
}

Subscription X11DisplayWatcher::observe(std::function<void()> handler) {
    std::uint64_t id = 0;
    {
        std::lock_guard lock(observers_->mutex);
        id = observers_->next++;
        observers_->handlers.emplace(id, std::move(handler));
    }
    if (!thread_.joinable()) {
        start();
    }
    std::weak_ptr<Observers> weak = observers_;
    return Subscription([weak, id] {
        if (auto observers = weak.lock()) {
            std::lock_guard lock(observers->mutex);
            observers->handlers.erase(id);
        }
    });
}

void X11DisplayWatcher::start() {
    if (connection_) {
        return; // opened before and the thread could not start: stay quiet
    }
    connection_ = X11Connection::open(nullptr, nullptr);
    if (!connection_) {
        return;
    }
    int errorBase = 0;
    if (!XRRQueryExtension(connection_->display(), &eventBase_, &errorBase)) {
        return;
    }
    XRRSelectInput(connection_->display(), connection_->root(),
                   RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask | RROutputChangeNotifyMask);
    XFlush(connection_->display());
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0) {
        return;
    }
    thread_ = std::thread([this] { run(); });
}

void X11DisplayWatcher::run() {
    ::Display* display = connection_->display();
    while (connection_->isAlive()) {
        bool changed = false;
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            XRRUpdateConfiguration(&event);
            if (event.type == eventBase_ + RRScreenChangeNotify ||
                event.type == eventBase_ + RRNotify) {
                changed = true;
            }
        }
        if (changed) {
            notify();
        }
        pollfd descriptors[2] = {{ConnectionNumber(display), POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        if (poll(descriptors, 2, -1) < 0 && errno != EINTR) {
            return;
        }
        if (descriptors[1].revents & POLLIN) {
            return;
        }
        if (descriptors[0].revents & (POLLHUP | POLLERR)) {
            return;
        }
    }
}

void X11DisplayWatcher::notify() {
    auto queue = mainQueue_ ? mainQueue_() : nullptr;
    if (!queue) {
        return;
    }
    std::weak_ptr<Observers> weak = observers_;
    queue->post([weak] {
        auto observers = weak.lock();
        if (!observers) {
            return;
        }
        std::vector<std::uint64_t> ids;
        {
            std::lock_guard lock(observers->mutex);
            for (const auto& [id, handler] : observers->handlers) {
                ids.push_back(id);
            }
        }
        // Looked up one by one so that a handler ending another subscription is respected.
        for (auto id : ids) {
            std::function<void()> handler;
            {
                std::lock_guard lock(observers->mutex);
                auto it = observers->handlers.find(id);
                if (it == observers->handlers.end()) {
                    continue;
                }
                handler = it->second;
            }
            handler();
        }
    });
}

} // namespace orvane::linuxbackend
