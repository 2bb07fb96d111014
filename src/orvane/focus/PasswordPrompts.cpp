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
    std::vector<std::string> hiding;
    bool anyTerminal = false;
    for (const auto& window : WindowFinder::windowsFrontToBack()) {
        auto known = sessions.find(window.pid);
        const bool firstWindow = known == sessions.end();
        if (firstWindow) {
            known = sessions.emplace(window.pid, secure->terminalSessions(window.pid)).first;
        }
        const std::size_t count = known->second;
        anyTerminal = anyTerminal || count > 0;
        const std::string& name = window.ownerName.empty() ? window.title : window.ownerName;
        if (firstWindow && count == 0 && !name.empty() && secure->hidesPasswordFields(window.pid) &&
            std::find(hiding.begin(), hiding.end(), name) == hiding.end()) {
            hiding.push_back(name);
        }
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
    if (!hiding.empty()) {
        std::string names;
        for (const auto& name : hiding) {
            names += (names.empty() ? "" : ", ") + name;
        }
        sentences.push_back(names + (hiding.size() == 1 ? ": its" : ": their") +
                            " password fields show only while a screen reader runs, so focus "
                            "may move away from them.");
    }
    if (anyTerminal) {
        sentences.push_back("Password prompts inside tmux or screen, and those a remote computer "
                            "asks through ssh, cannot be seen in any terminal: focus may move "
                            "away from them.");
    }
    return sentences;
}

} // namespace orvane::PasswordPrompts
