#include "backends/sim/SimHotKeys.hpp"

#include "backends/posix/ChordText.hpp"
#include "orvane/platform/WindowServer.hpp"

namespace orvane::sim {

SimHotKeys::SimHotKeys(std::shared_ptr<MainQueue> mainQueue) : mainQueue_(std::move(mainQueue)) {}

std::optional<HotKeyToken> SimHotKeys::registerHotKey(Key key, std::uint64_t modifiers,
                                                      std::function<void()> handler) {
    if (!handler || taken_.contains({key, modifiers}) || isRegistered(key, modifiers)) {
        return std::nullopt;
    }
    const HotKeyToken token = nextToken_++;
    registrations_->emplace(token, Registration{key, modifiers, std::move(handler)});
    return token;
}

void SimHotKeys::unregisterHotKey(HotKeyToken token) {
    registrations_->erase(token);
}

std::string SimHotKeys::describe(Key key, std::uint64_t modifiers) const {
    const std::string text = posix::modifierPrefix(modifiers);
    return text +
           (key == Key::g ? std::string("G") : "Key " + std::to_string(static_cast<int>(key)));
}

bool SimHotKeys::press(Key key, std::uint64_t modifiers) {
    for (const auto& [token, registration] : *registrations_) {
        if (registration.key == key && registration.modifiers == modifiers) {
            std::weak_ptr<Registrations> weak = registrations_;
            mainQueue_->post([weak, token = token] {
                auto registrations = weak.lock();
                if (!registrations) {
                    return;
                }
                // Unregistered on the way: nothing happens.
                auto it = registrations->find(token);
                if (it != registrations->end()) {
                    auto handler = it->second.handler;
                    handler();
                }
            });
            return true;
        }
    }
    return false;
}

void SimHotKeys::takeByAnotherApplication(Key key, std::uint64_t modifiers) {
    taken_.insert({key, modifiers});
}

bool SimHotKeys::isRegistered(Key key, std::uint64_t modifiers) const {
    for (const auto& [token, registration] : *registrations_) {
        if (registration.key == key && registration.modifiers == modifiers) {
            return true;
        }
    }
    return false;
}

std::string SimHotKeys::takenBy(Key key, std::uint64_t modifiers) const {
    return taken_.contains({key, modifiers}) ? "another application" : std::string();
}

} // namespace orvane::sim
