#include "orvane/focus/PasswordPrompts.hpp"

#include "orvane/focus/WindowFinder.hpp"
#include "orvane/platform/Platform.hpp"

#include <algorithm>
#include <map>

namespace orvane::PasswordPrompts {

std::vector<std::string> limits() {
    std::vector<std::string> sentences;
    const auto& secure = platform().secureInput;
    if (!secure) {
        return sentences;
    }
    std::map<pid_t, std::size_t> sessions;
    std::vector<std::string> named;
    bool anyTerminal = false;
    for (const auto& window : WindowFinder::windowsFrontToBack()) {
        auto known = sessions.find(window.pid);
        if (known == sessions.end()) {
            known = sessions.emplace(window.pid, secure->terminalSessions(window.pid)).first;
        }
        const std::size_t count = known->second;
        anyTerminal = anyTerminal || count > 0;
        const std::string& name = window.ownerName.empty() ? window.title : window.ownerName;
        if (count < 2 || name.empty() ||
            std::find(named.begin(), named.end(), name) != named.end()) {
            continue;
        }
        named.push_back(name);
        sentences.push_back(name + ": its " + std::to_string(count) +
                            " tabs and windows share one process, and which one shows cannot be "
                            "known, so a password prompt in any of them holds focus while any of "
                            "its windows has it.");
    }
    if (anyTerminal) {
        sentences.push_back("Password prompts inside tmux or screen, and those a remote computer "
                            "asks through ssh, cannot be seen in any terminal: focus may move "
                            "away from them.");
    }
    return sentences;
}

} // namespace orvane::PasswordPrompts
