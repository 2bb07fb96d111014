#pragma once

#include "orvane/platform/SecureInput.hpp"

#include <memory>

namespace orvane::linuxbackend {

class AtspiFocusWatch;
class BridgeConnection;
class TerminalEcho;

// The shell holds the keyboard for a password dialog, another modal dialog or the lock
// screen; else, as on X11, the focused window's program shows a focused password entry
// (AT-SPI) or is a terminal reading a password with echo off. Main thread.
class GnomeSecureInput : public SecureInput {
public:
    // `focus` may be null: then password entries go unnoticed.
    GnomeSecureInput(std::shared_ptr<BridgeConnection> bridge,
                     std::shared_ptr<AtspiFocusWatch> focus);
    ~GnomeSecureInput() override;
    bool isSecureEventInputEnabled() const override;

private:
    std::shared_ptr<BridgeConnection> bridge_;
    std::shared_ptr<AtspiFocusWatch> focus_;
    std::unique_ptr<TerminalEcho> terminals_;
};

} // namespace orvane::linuxbackend
