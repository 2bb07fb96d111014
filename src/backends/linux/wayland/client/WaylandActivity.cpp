#include "backends/linux/wayland/client/WaylandActivity.hpp"

#include "backends/linux/wayland/ListenerSet.hpp"
#include "backends/linux/wayland/client/WaylandClient.hpp"
#include "orvane/platform/Platform.hpp"

#include <wayland-client.h>

#include "ext-idle-notify-v1-client-protocol.h"
#include "idle-client-protocol.h"

#include <map>
#include <mutex>

namespace orvane::linuxbackend {

namespace {
constexpr const char* idleNotifyName = "ext-idle-notify-v1";
constexpr const char* kdeIdleName = "org_kde_kwin_idle";
} // namespace

// The idle timer's objects on the worker, and the listeners it tells on the main queue.
class ActivityPart : public WaylandPart {
public:
    ActivityPart(unsigned timeout, std::shared_ptr<MainQueue> mainQueue)
        : timeout_(timeout), mainQueue_(std::move(mainQueue)) {}

    void connected(WaylandGlobals& globals) override {
        if (globals.seat && globals.idleNotifier) {
            notification_ = ext_idle_notifier_v1_get_idle_notification(globals.idleNotifier,
                                                                       timeout_, globals.seat);
            ext_idle_notification_v1_add_listener(notification_, &notificationListener, this);
            setProtocol(idleNotifyName);
        } else if (globals.seat && globals.kdeIdle) {
            kdeTimeout_ =
                org_kde_kwin_idle_get_idle_timeout(globals.kdeIdle, globals.seat, timeout_);
            org_kde_kwin_idle_timeout_add_listener(kdeTimeout_, &kdeListener, this);
            setProtocol(kdeIdleName);
        } else {
            post(ActivityChange::Kind::unavailable);
        }
    }

    void disconnecting() override {
        if (notification_) {
            ext_idle_notification_v1_destroy(notification_);
            notification_ = nullptr;
        }
        if (kdeTimeout_) {
            org_kde_kwin_idle_timeout_release(kdeTimeout_);
            kdeTimeout_ = nullptr;
        }
        if (!protocol().empty()) {
            setProtocol("");
            post(ActivityChange::Kind::unavailable);
        }
    }

    Subscription listen(std::function<void(const ActivityChange&)> listener) {
        return listeners_.add(std::move(listener));
    }

    std::string protocol() const {
        std::lock_guard lock(protocolMutex_);
        return protocol_;
    }

    // The part outlives its owner until the worker lets it go: nothing is told after that.
    void forget() { listeners_.clear(); }

private:
    static ActivityPart& of(void* data) { return *static_cast<ActivityPart*>(data); }

    void setProtocol(std::string protocol) {
        std::lock_guard lock(protocolMutex_);
        protocol_ = std::move(protocol);
    }

    void post(ActivityChange::Kind kind) {
        listeners_.post(mainQueue_ ? mainQueue_ : platform().mainQueue, ActivityChange{kind});
    }

    static constexpr ext_idle_notification_v1_listener notificationListener = {
        [](void* data, ext_idle_notification_v1*) { of(data).post(ActivityChange::Kind::idled); },
        [](void* data, ext_idle_notification_v1*) { of(data).post(ActivityChange::Kind::resumed); },
    };

    static constexpr org_kde_kwin_idle_timeout_listener kdeListener = {
        [](void* data, org_kde_kwin_idle_timeout*) { of(data).post(ActivityChange::Kind::idled); },
        [](void* data, org_kde_kwin_idle_timeout*) {
            of(data).post(ActivityChange::Kind::resumed);
        },
    };

    unsigned timeout_;
    std::shared_ptr<MainQueue> mainQueue_;
    ListenerSet<ActivityChange> listeners_;
    mutable std::mutex protocolMutex_;
    std::string protocol_;
    ext_idle_notification_v1* notification_ = nullptr;
    org_kde_kwin_idle_timeout* kdeTimeout_ = nullptr;
};

WaylandActivity::WaylandActivity(std::shared_ptr<WaylandClient> client,
                                 unsigned timeoutMilliseconds, std::shared_ptr<MainQueue> mainQueue)
    : client_(std::move(client)), timeout_(timeoutMilliseconds),
      part_(std::make_shared<ActivityPart>(timeoutMilliseconds, std::move(mainQueue))) {
    client_->attach(part_);
}

WaylandActivity::~WaylandActivity() {
    part_->forget();
    client_->detach(part_);
}

Subscription WaylandActivity::listen(std::function<void(const ActivityChange&)> listener) {
    return part_->listen(std::move(listener));
}

bool WaylandActivity::available() const {
    return !protocol().empty();
}

std::string WaylandActivity::protocol() const {
    // The worker names the protocol once it has asked for the timer; until then the client's
    // globals already say which one it will use, so both answers agree from the first moment.
    if (auto named = part_->protocol(); !named.empty()) {
        return named;
    }
    const auto state = client_->state();
    if (!state.connected || !state.seat) {
        return {};
    }
    if (state.idleNotifier) {
        return idleNotifyName;
    }
    return state.kdeIdle ? kdeIdleName : "";
}

} // namespace orvane::linuxbackend
