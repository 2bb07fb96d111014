#pragma once

#include "orvane/platform/SecureInput.hpp"

#include <memory>

namespace orvane::linuxbackend {

class X11Connection;

// X has no secure-input flag; a password prompt or a lock screen holds the keyboard grab
// instead. So: secure while another client holds the grab (a grab request of ours answers
// AlreadyGrabbed) and no menu is open, since every open menu grabs the keyboard too. The
// request is made so that it can never succeed (see the source), so asking disturbs nobody.
// Main thread.
class X11SecureInput : public SecureInput {
public:
    explicit X11SecureInput(std::shared_ptr<X11Connection> connection);
    bool isSecureEventInputEnabled() const override;

private:
    std::shared_ptr<X11Connection> connection_;
};

} // namespace orvane::linuxbackend
