#pragma once

#include <string>

namespace orvane {

// What LoginItems::setStartsAtLogin did.
struct LoginItemChange {
    bool succeeded = false;
    // Why it did not, in words fit for a log line; empty on success.
    std::string problem;
};

// Whether the desktop session starts the application when the user logs in. The answer lives
// with the system, not in our preferences: the user may change it elsewhere at any time, so
// it is read again on every question.
class LoginItems {
public:
    virtual ~LoginItems() = default;

    virtual bool startsAtLogin() const = 0;

    // Main thread. On failure the setting is left as it was.
    virtual LoginItemChange setStartsAtLogin(bool on) = 0;
};

} // namespace orvane
