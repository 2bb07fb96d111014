#pragma once

#include "backends/linux/wayland/client/ActivitySource.hpp"
#include "orvane/platform/MainQueue.hpp"

#include <memory>
#include <string>

namespace orvane::linuxbackend {

class WaylandClient;
class ActivityPart;

// "Any input in the last N ms" from the compositor's idle timer on the seat:
// ext-idle-notify-v1 where offered (KWin 5.27+, sway 1.8+), else KDE's org_kde_kwin_idle
// (sway 1.7). Follows the client across reconnections.
class WaylandActivity : public ActivitySource {
public:
    // Short enough to tell typing bursts apart, long enough not to wake on every key.
    static constexpr unsigned defaultTimeoutMilliseconds = 100;

    // `mainQueue` delivers the listeners' calls; when null, the installed platform's.
    WaylandActivity(std::shared_ptr<WaylandClient> client,
                    unsigned timeoutMilliseconds = defaultTimeoutMilliseconds,
                    std::shared_ptr<MainQueue> mainQueue = nullptr);
    ~WaylandActivity() override;
    WaylandActivity(const WaylandActivity&) = delete;
    WaylandActivity& operator=(const WaylandActivity&) = delete;

    Subscription listen(std::function<void(const ActivityChange&)> listener) override;
    unsigned timeoutMilliseconds() const override { return timeout_; }
    // Whether the compositor has an idle timer to offer, known as soon as the connection is:
    // the worker may make the timer itself a moment later.
    bool available() const override;

    // Any thread: the protocol the timer runs on ("ext-idle-notify-v1", "org_kde_kwin_idle"),
    // empty while there is none.
    std::string protocol() const;

private:
    std::shared_ptr<WaylandClient> client_;
    unsigned timeout_;
    std::shared_ptr<ActivityPart> part_;
};

} // namespace orvane::linuxbackend
