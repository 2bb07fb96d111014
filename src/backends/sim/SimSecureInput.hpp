#pragma once

#include "orvane/platform/SecureInput.hpp"

#include <atomic>

namespace orvane::sim {

// Secure keyboard entry, switched on and off by the test (a password prompt opening).
class SimSecureInput : public SecureInput {
public:
    bool isSecureEventInputEnabled() const override { return enabled_.load(); }
    void setEnabled(bool enabled) { enabled_.store(enabled); }

private:
    std::atomic<bool> enabled_{false};
};

} // namespace orvane::sim
