#pragma once

#include "backends/linux/atspi/AtspiWindowSystem.hpp"

#include <memory>

namespace orvane::linuxbackend {

class X11Connection;
class X11Displays;
class X11RaisedWindows;
class X11WindowCache;

// The X server as the accessibility service's window system: AT-SPI screen coordinates are X
// root coordinates, shifted by the primary monitor's origin into the global space. Main thread.
class X11AtspiWindows : public AtspiWindowSystem {
public:
    // `cache` and `displays` may be null: then the server is asked on every call.
    X11AtspiWindows(std::shared_ptr<X11Connection> connection,
                    std::shared_ptr<X11RaisedWindows> raised,
                    std::shared_ptr<X11WindowCache> cache = nullptr,
                    std::shared_ptr<const X11Displays> displays = nullptr);

    std::optional<std::vector<AtspiTopLevel>> windowsOf(pid_t pid) override;
    bool screenCoordinatesUsable() const override { return true; }
    plinth::Point screenFromGlobal(plinth::Point global) override;
    plinth::Point globalFromScreen(plinth::Point screen) override;
    void remember(pid_t pid, std::uint64_t window) override;
    bool raise(std::uint64_t window) override;

private:
    plinth::Rect primary() const;

    std::shared_ptr<X11Connection> connection_;
    std::shared_ptr<X11RaisedWindows> raised_;
    std::shared_ptr<X11WindowCache> cache_;
    std::shared_ptr<const X11Displays> displays_;
};

} // namespace orvane::linuxbackend
