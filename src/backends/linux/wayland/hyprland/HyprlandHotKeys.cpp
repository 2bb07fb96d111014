#include "backends/linux/wayland/hyprland/HyprlandHotKeys.hpp"

#include "backends/linux/wayland/hyprland/HyprlandJson.hpp"
#include "backends/linux/wayland/hyprland/HyprlandLink.hpp"

namespace orvane::linuxbackend {

HyprlandHotKeys::HyprlandHotKeys(std::shared_ptr<HyprlandLink> link) : link_(std::move(link)) {}

std::optional<std::vector<std::string>> HyprlandHotKeys::toggleChords() const {
    const auto reply = link_->ask("j/binds");
    return reply ? HyprlandJson::chordsRunning(*reply, "--toggle-pause") : std::nullopt;
}

std::optional<HotKeyToken> HyprlandHotKeys::registerHotKey(Key, std::uint64_t,
                                                           std::function<void()> handler) {
    if (const auto chords = toggleChords(); chords && chords->empty()) {
        return std::nullopt;
    }
    const HotKeyToken token = nextToken_++;
    handlers_.emplace(token, std::move(handler));
    return token;
}

void HyprlandHotKeys::unregisterHotKey(HotKeyToken token) {
    handlers_.erase(token);
}

std::string HyprlandHotKeys::describe(Key, std::uint64_t) const {
    const auto chords = toggleChords();
    if (!chords) {
        return std::string("a key binding of yours that runs \"") + toggleCommand +
               "\" (not checked: Hyprland did not answer)";
    }
    if (chords->empty()) {
        return std::string("NOT BOUND: add \"") + suggestedBinding +
               "\" to ~/.config/hypr/hyprland.conf (a Lua config takes it in Lua: see the README)";
    }
    return "your Hyprland key binding " + chords->front() + " (runs \"" + toggleCommand + "\")";
}

} // namespace orvane::linuxbackend
