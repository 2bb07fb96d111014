#include "backends/linux/x11/X11DisplayWatcher.hpp"

#include "backends/linux/x11/X11Connection.hpp"

#include <X11/extensions/Xrandr.h>

#include <utility>
#include <vector>

namespace orvane::linuxbackend {

X11DisplayWatcher::X11DisplayWatcher(std::function<std::shared_ptr<MainQueue>()> mainQueue)
    : mainQueue_(std::move(mainQueue)) {}

X11DisplayWatcher::~X11DisplayWatcher() {
    events_.stop();
}

Subscription X11DisplayWatcher::observe(std::function<void()> handler) {
    std::uint64_t id = 0;
    {
        std::lock_guard lock(observers_->mutex);
        id = observers_->next++;
        observers_->handlers.emplace(id, std::move(handler));
    }
    if (!events_.isRunning()) {
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
    events_.start(
        *connection_,
        [this](XEvent& event) {
            XRRUpdateConfiguration(&event);
            if (event.type == eventBase_ + RRScreenChangeNotify ||
                event.type == eventBase_ + RRNotify) {
                changed_ = true;
            }
        },
        [this] {
            if (std::exchange(changed_, false)) {
                notify();
            }
        });
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
