#pragma once

#include "orvane/platform/SecureInput.hpp"

#include <memory>

namespace orvane::linuxbackend {

class AtspiFocusWatch;
class AtspiOnDemandTrees;
class ScreenReaderToolkits;
class CompositorLink;
class TerminalEcho;

// The compositor's own UI holds the keyboard for a password dialog, another modal dialog or
// its lock screen (where it tells: the GNOME shell); else, as on X11, the focused window's
// program shows a focused password entry (AT-SPI) or is a terminal reading a password with
// echo off. (A locked screen is also the session's lock, which the system guards hear from
// logind.) Main thread.
class CompositorSecureInput : public SecureInput {
public:
    // `focus` may be null: then password entries go unnoticed.
    CompositorSecureInput(std::shared_ptr<CompositorLink> link,
                          std::shared_ptr<AtspiFocusWatch> focus);
    ~CompositorSecureInput() override;
    bool isSecureEventInputEnabled() const override;
    // The ptys whose master side the process holds.
    std::size_t terminalSessions(pid_t pid) const override;
    bool hidesPasswordFields(pid_t pid) const override;

private:
    std::shared_ptr<CompositorLink> link_;
    std::shared_ptr<AtspiFocusWatch> focus_;
    std::unique_ptr<TerminalEcho> terminals_;
    std::unique_ptr<AtspiOnDemandTrees> trees_;
    std::unique_ptr<ScreenReaderToolkits> toolkits_;
};

} // namespace orvane::linuxbackend
