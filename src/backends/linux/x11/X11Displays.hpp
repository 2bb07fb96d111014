#pragma once

#include "orvane/platform/Displays.hpp"

#include <chrono>
#include <memory>
#include <mutex>

namespace orvane::linuxbackend {

class X11Connection;

// One monitor as XRandR reports it, in root coordinates (top-left origin of the X screen).
struct X11Monitor {
    std::uint32_t id = 0;
    plinth::Rect rootFrame;
    std::string name;
    bool primary = false;
};

// Displays from XRandR 1.5 monitors. The global top-left space is the root space shifted so that
// the primary monitor's top-left corner is the origin.
class X11Displays : public Displays {
public:
    explicit X11Displays(std::shared_ptr<X11Connection> connection);

    // Asked of the server at most once a second, or after `invalidate`: the engine asks for
    // the displays several times a pose, and each asking is two round trips.
    std::vector<Display> screens() const override;
    std::optional<Display> mainDisplay() const override;

    // The monitors changed: the next `screens` asks the server. Any thread.
    void invalidate();
    // `primaryRootFrame`, remembered like `screens`.
    plinth::Rect primaryRoot() const;
    static constexpr std::chrono::milliseconds reuseFor{1000};

    // Every active monitor, primary first (the first one when none is marked primary).
    static std::vector<X11Monitor> monitors(X11Connection& connection);

    // The primary monitor's root rectangle; the whole root window when XRandR lists nothing.
    static plinth::Rect primaryRootFrame(X11Connection& connection);

private:
    std::vector<Display> screensOf(const std::vector<X11Monitor>& list) const;
    // Asks the server again when the remembered answer is gone or too old. Holds `mutex_`.
    void refreshIfStale() const;

    std::shared_ptr<X11Connection> connection_;
    mutable std::mutex mutex_;
    mutable std::optional<std::vector<Display>> answer_;
    mutable plinth::Rect primaryRoot_;
    mutable std::chrono::steady_clock::time_point answeredAt_;
};

} // namespace orvane::linuxbackend
