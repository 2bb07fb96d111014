#include "backends/linux/wayland/sway/SwayHotKeys.hpp"

#include "backends/linux/wayland/CompositorKeys.hpp"
#include "backends/linux/wayland/sway/SwayLink.hpp"
#include "backends/posix/ChordText.hpp"
#include "orvane/platform/Platform.hpp"

#include <algorithm>
#include <cctype>
#include <map>
#include <sstream>
#include <vector>

namespace orvane::linuxbackend {
namespace {

std::string lower(std::string text) {
    for (auto& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

// One chord however it is written: "$mod+Shift+G", "shift+Mod4+g" and "Super+Shift+g" are
// the same keys.
std::string normalised(const std::string& chord, const std::map<std::string, std::string>& vars) {
    std::vector<std::string> parts;
    std::istringstream keys(chord);
    std::string part;
    while (std::getline(keys, part, '+')) {
        if (auto found = vars.find(part); found != vars.end()) {
            part = found->second;
        }
        part = lower(part);
        if (part == "super") {
            part = "mod4";
        } else if (part == "alt") {
            part = "mod1";
        } else if (part == "control") {
            part = "ctrl";
        }
        parts.push_back(part);
    }
    std::sort(parts.begin(), parts.end());
    std::string joined;
    for (const auto& key : parts) {
        joined += (joined.empty() ? "" : "+") + key;
    }
    return joined;
}

} // namespace

SwayHotKeys::SwayHotKeys(std::shared_ptr<SwayLink> link) : link_(std::move(link)) {
    events_ = link_->listen([this](const CompositorEvent& event) { handle(event); });
}

SwayHotKeys::~SwayHotKeys() {
    events_.reset();
    while (!bindings_.empty()) {
        unregisterHotKey(bindings_.begin()->first);
    }
}

std::optional<std::string> SwayHotKeys::swayChord(Key key, std::uint64_t modifiers) {
    const auto accelerator = CompositorKeys::accelerator(key, modifiers);
    if (!accelerator) {
        return std::nullopt;
    }
    static const std::map<std::string, std::string> names = {
        {"Control", "Ctrl"}, {"Alt", "Mod1"}, {"Shift", "Shift"}, {"Super", "Mod4"}};
    std::string chord;
    std::size_t at = 0;
    while (at < accelerator->size() && (*accelerator)[at] == '<') {
        const auto end = accelerator->find('>', at);
        if (end == std::string::npos) {
            return std::nullopt;
        }
        const auto found = names.find(accelerator->substr(at + 1, end - at - 1));
        if (found == names.end()) {
            return std::nullopt;
        }
        chord += found->second + "+";
        at = end + 1;
    }
    if (at >= accelerator->size()) {
        return std::nullopt;
    }
    return chord + accelerator->substr(at);
}

std::string SwayHotKeys::bindingCommand(const std::string& chord) {
    return "nop orvane-hot-key " + chord;
}

bool SwayHotKeys::configBinds(const std::string& config, const std::string& chord) {
    std::map<std::string, std::string> vars;
    const std::string wanted = normalised(chord, vars);
    std::istringstream lines(config);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string word;
        if (!(words >> word)) {
            continue;
        }
        if (word == "set") {
            std::string name;
            std::string value;
            if (words >> name >> value) {
                vars[name] = value;
            }
            continue;
        }
        if (word != "bindsym") {
            continue;
        }
        while (words >> word && word.rfind("--", 0) == 0) {
        }
        if (!word.empty() && normalised(word, vars) == wanted) {
            return true;
        }
    }
    return false;
}

bool SwayHotKeys::bind(const std::string& chord, std::string* error) {
    // The user's binding of the chord stays theirs: a run-time one would quietly replace it.
    if (const auto config = link_->loadedConfig(); config && configBinds(*config, chord)) {
        if (error) {
            *error = "sway's config binds it already";
        }
        return false;
    }
    return link_->runCommand("bindsym --no-warn " + chord + " " + bindingCommand(chord), error);
}

void SwayHotKeys::handle(const CompositorEvent& event) {
    if (event.kind == CompositorEvent::Kind::ready) {
        for (auto& [token, binding] : bindings_) {
            std::string error;
            binding.bound = bind(binding.chord, &error);
            if (!binding.bound) {
                logPlatformError("hot key " + binding.chord + ": sway refused it (" + error + ")");
            }
        }
    } else if (event.kind == CompositorEvent::Kind::vanished) {
        for (auto& [token, binding] : bindings_) {
            binding.bound = false;
        }
    } else if (event.kind == CompositorEvent::Kind::acceleratorActivated) {
        for (const auto& [token, binding] : bindings_) {
            if (binding.bound && event.id == bindingCommand(binding.chord)) {
                auto handler = binding.handler; // it may unregister itself
                handler();
                return;
            }
        }
    }
}

std::optional<HotKeyToken> SwayHotKeys::registerHotKey(Key key, std::uint64_t modifiers,
                                                       std::function<void()> handler) {
    const auto chord = swayChord(key, modifiers);
    if (!handler || !chord) {
        logPlatformError("hot key " + describe(key, modifiers) + ": no such key");
        return std::nullopt;
    }
    for (const auto& [token, binding] : bindings_) {
        if (binding.chord == *chord) {
            logPlatformError("hot key " + describe(key, modifiers) + " is registered already");
            return std::nullopt;
        }
    }
    // Before sway answers, the chord is bound once it does.
    const bool ready = link_->snapshot().ready;
    std::string error;
    const bool bound = ready && bind(*chord, &error);
    if (ready && !bound) {
        logPlatformError("hot key " + describe(key, modifiers) + ": sway did not bind it (" +
                         error + ")");
        return std::nullopt;
    }
    const HotKeyToken token = nextToken_++;
    bindings_.emplace(token, Binding{*chord, bound, std::move(handler)});
    return token;
}

void SwayHotKeys::unregisterHotKey(HotKeyToken token) {
    const auto found = bindings_.find(token);
    if (found == bindings_.end()) {
        return;
    }
    if (found->second.bound) {
        link_->runCommand("unbindsym " + found->second.chord);
    }
    bindings_.erase(found);
}

std::string SwayHotKeys::takenBy(Key key, std::uint64_t modifiers) const {
    const auto chord = swayChord(key, modifiers);
    const auto config = chord ? link_->loadedConfig() : std::nullopt;
    if (config && configBinds(*config, *chord)) {
        return "a bindsym of your sway config (Orvane's binding would replace it)";
    }
    return {};
}

std::string SwayHotKeys::describe(Key key, std::uint64_t modifiers) const {
    return posix::chordText(key, modifiers);
}

} // namespace orvane::linuxbackend
