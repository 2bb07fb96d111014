#pragma once

#include <cstddef>
#include <sys/types.h>

namespace orvane {

class SecureInput {
public:
    virtual ~SecureInput() = default;

    // True while some application has claimed the keyboard for itself (a password prompt,
    // a lock screen): synthetic focus changes must not interfere then.
    virtual bool isSecureEventInputEnabled() const = 0;

    // How many terminal sessions (tabs, panes, windows) process `pid` runs, each of which may
    // ask for a password; 0 for a process that is no terminal. Where a process runs several,
    // which one the user sees cannot be known, and a prompt in any of them holds focus.
    virtual std::size_t terminalSessions(pid_t pid) const {
        (void)pid;
        return 0;
    }

    // True while process `pid` keeps its password fields from Orvane (its toolkit shows them
    // only while a screen reader runs): focus may leave them, so Settings and --diagnose name it.
    virtual bool hidesPasswordFields(pid_t pid) const {
        (void)pid;
        return false;
    }
};

} // namespace orvane
