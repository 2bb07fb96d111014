#pragma once

#include "backends/linux/x11/X11EventThread.hpp"
#include "orvane/platform/HotKeys.hpp"
#include "orvane/platform/MainQueue.hpp"

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

namespace orvane::linuxbackend {

class X11Connection;

// Global hot keys as passive key grabs on the root window. A grab only matches the exact
// modifier state, so each chord is grabbed again with Caps Lock and Num Lock on. The grabs
// live on a connection of our own whose events a thread reads; presses hop to the main queue.
// A chord another client has grabbed already fails with BadAccess: the registration fails
// and the reason is logged.
class X11HotKeys : public HotKeys {
public:
    // `mainQueue` gets the presses; when null, the installed platform's at each press.
    explicit X11HotKeys(std::shared_ptr<MainQueue> mainQueue);
    ~X11HotKeys() override;
    X11HotKeys(const X11HotKeys&) = delete;
    X11HotKeys& operator=(const X11HotKeys&) = delete;

    std::optional<HotKeyToken> registerHotKey(Key key, std::uint64_t modifiers,
                                              std::function<void()> handler) override;
    void unregisterHotKey(HotKeyToken token) override;
    std::string describe(Key key, std::uint64_t modifiers) const override;

    // Why the last registration failed; empty after a success.
    std::string lastProblem() const;

private:
    struct Grab {
        unsigned int keycode = 0;
        unsigned int state = 0;
        std::function<void()> handler;
    };
    // Shared with the presses on their way to the main queue, which may outlive this object.
    struct Grabs {
        std::mutex mutex;
        std::map<HotKeyToken, Grab> byToken;
    };

    bool connect();
    void grabOrUngrab(unsigned int keycode, unsigned int state, bool grab);
    void handle(const XEvent& event);
    std::shared_ptr<MainQueue> queue() const;
    void fail(std::string problem);

    std::shared_ptr<MainQueue> mainQueue_;
    std::shared_ptr<Grabs> grabs_ = std::make_shared<Grabs>();
    HotKeyToken nextToken_ = 1;
    mutable std::mutex problemMutex_;
    std::string lastProblem_;

    std::unique_ptr<X11Connection> connection_;
    X11EventThread events_; // after the connection: stops before it closes
    bool connectFailed_ = false;
    unsigned int numLockMask_ = 0;
    // Event thread: keys whose press has been reported and not yet released, so that the
    // server's auto-repeat of a held chord does not fire it again and again.
    std::set<unsigned int> keysDown_;
};

} // namespace orvane::linuxbackend
