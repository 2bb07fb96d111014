#pragma once

#include "orvane/platform/SecureInput.hpp"

#include <atomic>
#include <map>
#include <set>

namespace orvane::sim {

// Secure keyboard entry, switched on and off by the test (a password prompt opening).
class SimSecureInput : public SecureInput {
public:
    bool isSecureEventInputEnabled() const override { return enabled_.load(); }
    void setEnabled(bool enabled) { enabled_.store(enabled); }

    std::size_t terminalSessions(pid_t pid) const override {
        const auto found = sessions_.find(pid);
        return found == sessions_.end() ? 0 : found->second;
    }
    // Process `pid` is a terminal running `count` sessions. Test thread only.
    void setTerminalSessions(pid_t pid, std::size_t count) { sessions_[pid] = count; }

    bool hidesPasswordFields(pid_t pid) const override { return hiding_.contains(pid); }
    // Process `pid` keeps its password fields from Orvane. Test thread only.
    void setHidesPasswordFields(pid_t pid) { hiding_.insert(pid); }

private:
    std::map<pid_t, std::size_t> sessions_;
    std::set<pid_t> hiding_;
    std::atomic<bool> enabled_{false};
};

} // namespace orvane::sim
