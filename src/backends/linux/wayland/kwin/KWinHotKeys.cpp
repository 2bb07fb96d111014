#include "backends/linux/wayland/kwin/KWinHotKeys.hpp"

#include "backends/linux/wayland/CompositorKeys.hpp"
#include "backends/linux/wayland/kwin/KWinLink.hpp"
#include "backends/posix/ChordText.hpp"
#include "orvane/platform/Platform.hpp"

#include <cctype>

namespace orvane::linuxbackend {
namespace {

// Qt's modifier bits in a combined key.
constexpr int qtShift = 0x02000000;
constexpr int qtControl = 0x04000000;
constexpr int qtAlt = 0x08000000;
constexpr int qtMeta = 0x10000000;

// Qt's number for the key of an X keysym, for the keys a chord may end with.
std::optional<int> qtKeyOfKeysym(std::uint32_t keysym) {
    if (keysym >= 0x20 && keysym <= 0x7e) {
        return std::toupper(static_cast<int>(keysym)); // Qt names letters by their capital
    }
    if (keysym >= 0xffbe && keysym <= 0xffd5) { // F1..F24
        return 0x01000030 + static_cast<int>(keysym - 0xffbe);
    }
    switch (keysym) {
    case 0xff1b:
        return 0x01000000; // Escape
    case 0xff09:
        return 0x01000001; // Tab
    case 0xff08:
        return 0x01000003; // BackSpace
    case 0xff0d:
        return 0x01000004; // Return
    case 0xff63:
        return 0x01000006; // Insert
    case 0xffff:
        return 0x01000007; // Delete
    case 0xff50:
        return 0x01000010; // Home
    case 0xff57:
        return 0x01000011; // End
    case 0xff51:
        return 0x01000012; // Left
    case 0xff52:
        return 0x01000013; // Up
    case 0xff53:
        return 0x01000014; // Right
    case 0xff54:
        return 0x01000015; // Down
    case 0xff55:
        return 0x01000016; // Prior
    case 0xff56:
        return 0x01000017; // Next
    default:
        return std::nullopt;
    }
}

} // namespace

KWinHotKeys::KWinHotKeys(std::shared_ptr<KWinLink> link) : link_(std::move(link)) {
    events_ = link_->listen([this](const CompositorEvent& event) { handle(event); });
}

KWinHotKeys::~KWinHotKeys() {
    events_.reset();
    while (!bindings_.empty()) {
        unregisterHotKey(bindings_.begin()->first);
    }
}

std::optional<int> KWinHotKeys::qtKeys(Key key, std::uint64_t modifiers) {
    const auto keysym = CompositorKeys::keyvalFromKey(key);
    const auto qtKey = keysym ? qtKeyOfKeysym(*keysym) : std::nullopt;
    if (!qtKey) {
        return std::nullopt;
    }
    int combined = *qtKey;
    combined |= (modifiers & ModifierFlag::shift) ? qtShift : 0;
    combined |= (modifiers & ModifierFlag::control) ? qtControl : 0;
    combined |= (modifiers & ModifierFlag::option) ? qtAlt : 0;
    combined |= (modifiers & ModifierFlag::command) ? qtMeta : 0;
    return combined;
}

std::optional<HotKeyToken> KWinHotKeys::registerHotKey(Key key, std::uint64_t modifiers,
                                                       std::function<void()> handler) {
    const auto keys = qtKeys(key, modifiers);
    const std::string text = describe(key, modifiers);
    if (!handler || !keys) {
        logPlatformError("hot key " + text + ": no such key");
        return std::nullopt;
    }
    // Named by the chord, so that each run finds the entry the last one left in the settings.
    const std::string action = "hot-key-" + std::to_string(*keys);
    for (const auto& [token, binding] : bindings_) {
        if (binding.action == action) {
            logPlatformError("hot key " + text + " is registered already");
            return std::nullopt;
        }
    }
    // Unanswered, the shortcut is asked for again when KWin's shortcuts are there.
    const auto given = link_->bindShortcut(action, "Orvane: " + text, *keys);
    if (given && *given != *keys) {
        link_->unbindShortcut(action);
        logPlatformError("hot key " + text + ": KDE's global shortcuts give it to another");
        return std::nullopt;
    }
    const HotKeyToken token = nextToken_++;
    bindings_.emplace(token, Binding{action, std::move(handler)});
    return token;
}

void KWinHotKeys::unregisterHotKey(HotKeyToken token) {
    const auto found = bindings_.find(token);
    if (found == bindings_.end()) {
        return;
    }
    link_->unbindShortcut(found->second.action);
    bindings_.erase(found);
}

void KWinHotKeys::handle(const CompositorEvent& event) {
    if (event.kind != CompositorEvent::Kind::acceleratorActivated) {
        return;
    }
    for (const auto& [token, binding] : bindings_) {
        if (event.id == binding.action) {
            auto handler = binding.handler; // it may unregister itself
            handler();
            return;
        }
    }
}

std::string KWinHotKeys::takenBy(Key key, std::uint64_t modifiers) const {
    const auto keys = qtKeys(key, modifiers);
    std::string owners;
    for (const auto& owner : keys ? link_->shortcutOwners(*keys) : std::vector<std::string>{}) {
        owners += (owners.empty() ? "" : ", ") + owner;
    }
    return owners;
}

std::string KWinHotKeys::describe(Key key, std::uint64_t modifiers) const {
    return posix::chordText(key, modifiers);
}

} // namespace orvane::linuxbackend
