#include "backends/linux/x11/X11DisplayWatcher.hpp"

#include "backends/linux/x11/X11Connection.hpp"

#include <X11/extensions/Xrandr.h>

#include <utility>

namespace orvane::linuxbackend {

X11DisplayWatcher::X11DisplayWatcher(std::function<std::shared_ptr<MainQueue>()> mainQueue)
    : observers_(std::move(mainQueue)) {}

X11DisplayWatcher::~X11DisplayWatcher() {
    events_.stop();
}

Subscription X11DisplayWatcher::observe(std::function<void()> handler) {
    auto subscription = observers_.add(0, std::move(handler));
    if (!events_.isRunning()) {
        start();
    }
    return subscription;
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
                observers_.notify(0);
            }
        });
}

} // namespace orvane::linuxbackend
