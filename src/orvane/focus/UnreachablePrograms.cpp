#include "orvane/focus/UnreachablePrograms.hpp"

#include "orvane/focus/WindowFinder.hpp"
#include "orvane/platform/Platform.hpp"

#include <algorithm>
#include <map>

namespace orvane::UnreachablePrograms {

std::vector<std::string> list() {
    std::vector<std::string> names;
    const auto& accessibility = platform().accessibility;
    if (!accessibility || !accessibility->isProcessTrusted()) {
        return names;
    }
    const auto registered = accessibility->registeredProcesses();
    if (!registered) {
        return names;
    }
    const pid_t self = platform().processInfo ? platform().processInfo->processID() : -1;
    std::map<pid_t, bool> unreachable;
    for (const auto& window : WindowFinder::windowsFrontToBack()) {
        const pid_t pid = window.pid;
        if (pid == self ||
            std::find(registered->begin(), registered->end(), pid) != registered->end()) {
            continue;
        }
        auto known = unreachable.find(pid);
        if (known == unreachable.end()) {
            known = unreachable.emplace(pid, accessibility->speaksAccessibility(pid)).first;
        }
        const std::string& name = window.ownerName.empty() ? window.title : window.ownerName;
        if (known->second && !name.empty() &&
            std::find(names.begin(), names.end(), name) == names.end()) {
            names.push_back(name);
        }
    }
    return names;
}

std::string restartAdvice(const std::vector<std::string>& names) {
    if (names.empty()) {
        return {};
    }
    std::string advice =
        "Restart these programs so Orvane can see their windows and password fields: ";
    for (std::size_t i = 0; i < names.size(); ++i) {
        advice += (i == 0 ? "" : ", ") + names[i];
    }
    return advice;
}

} // namespace orvane::UnreachablePrograms
