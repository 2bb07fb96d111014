#pragma once

#include "orvane/platform/SecureInput.hpp"

#include <X11/X.h>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace orvane::linuxbackend {

class AtspiFocusWatch;
class AtspiOnDemandTrees;
class ScreenReaderToolkits;
class TerminalEcho;
class X11Connection;
class X11WindowCache;
struct X11WindowInfo;

// X has no secure-input flag, so three things stand in for it, cheapest first:
// - the focused element of the focused window's process is a password entry (AT-SPI);
// - the focused window is a terminal whose program reads a password with echo off;
// - another client holds the keyboard grab (a password prompt or a lock screen; a grab request
//   of ours answers AlreadyGrabbed) and no menu is open, since every open menu grabs the
//   keyboard too. The request is made so that it can never succeed (see the source), so
//   asking disturbs nobody.
// Main thread.
class X11SecureInput : public SecureInput {
public:
    // `cache` and `focus` may be null: then the active window is read from the server, and
    // password entries go unnoticed.
    X11SecureInput(std::shared_ptr<X11Connection> connection, std::shared_ptr<X11WindowCache> cache,
                   std::shared_ptr<AtspiFocusWatch> focus);
    ~X11SecureInput() override;
    bool isSecureEventInputEnabled() const override;
    // The ptys whose master side the process holds.
    std::size_t terminalSessions(pid_t pid) const override;
    bool hidesPasswordFields(pid_t pid) const override;

    // The two checks of the focused window alone, without the grab.
    bool isPasswordFocused() const;
    // Launchers (rofi, dmenu) hold the grab while they show, as menus do: no secure input then.
    void setLauncherCheck(std::function<bool(const X11WindowInfo&)> isLauncher) {
        isLauncher_ = std::move(isLauncher);
    }

private:
    bool isKeyboardGrabbedByAnother() const;
    Time futureServerTime() const;

    std::shared_ptr<X11Connection> connection_;
    std::shared_ptr<X11WindowCache> cache_;
    std::shared_ptr<AtspiFocusWatch> focus_;
    std::unique_ptr<TerminalEcho> terminals_;
    std::unique_ptr<AtspiOnDemandTrees> trees_;
    std::unique_ptr<ScreenReaderToolkits> toolkits_;
    std::function<bool(const X11WindowInfo&)> isLauncher_;
    // The server's clock as last asked, and when.
    mutable Time serverTime_ = CurrentTime;
    mutable std::optional<std::chrono::steady_clock::time_point> serverTimeAt_;
};

} // namespace orvane::linuxbackend
