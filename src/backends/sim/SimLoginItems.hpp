#pragma once

#include "orvane/platform/LoginItems.hpp"

#include <optional>
#include <string>
#include <utility>

namespace orvane::sim {

// Starting at login as a flag, off at first; a test may make every change fail.
class SimLoginItems : public LoginItems {
public:
    bool startsAtLogin() const override { return on_; }
    LoginItemChange setStartsAtLogin(bool on) override;

    // Changed behind the application's back, as the user could in the session's own settings.
    void setOutside(bool on) { on_ = on; }
    // While set, every change fails with this reason and leaves the flag as it was.
    void setFailure(std::optional<std::string> reason) { failure_ = std::move(reason); }
    int changes() const { return changes_; }

private:
    bool on_ = false;
    std::optional<std::string> failure_;
    int changes_ = 0;
};

} // namespace orvane::sim
