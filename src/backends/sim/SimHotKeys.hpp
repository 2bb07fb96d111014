#pragma once

#include "orvane/platform/HotKeys.hpp"
#include "orvane/platform/MainQueue.hpp"

#include <map>
#include <memory>
#include <set>
#include <utility>

namespace orvane::sim {

// System-wide hot keys, pressed by the test. A chord another application holds cannot be
// registered. Presses reach the handler through the main queue, as the platform's would.
class SimHotKeys : public HotKeys {
public:
    explicit SimHotKeys(std::shared_ptr<MainQueue> mainQueue);

    std::optional<HotKeyToken> registerHotKey(Key key, std::uint64_t modifiers,
                                              std::function<void()> handler) override;
    void unregisterHotKey(HotKeyToken token) override;
    // "Shift+Super+G", as on the Linux desktop.
    std::string describe(Key key, std::uint64_t modifiers) const override;
    // "another application" once one holds the chord.
    std::string takenBy(Key key, std::uint64_t modifiers) const override;

    // The user presses the chord; false when no registration matches.
    bool press(Key key, std::uint64_t modifiers);
    // Another application holds the chord from now on.
    void takeByAnotherApplication(Key key, std::uint64_t modifiers);
    bool isRegistered(Key key, std::uint64_t modifiers) const;

private:
    struct Registration {
        Key key = Key::unknown;
        std::uint64_t modifiers = 0;
        std::function<void()> handler;
    };
    // Shared with the presses on their way through the main queue.
    using Registrations = std::map<HotKeyToken, Registration>;

    std::shared_ptr<MainQueue> mainQueue_;
    std::shared_ptr<Registrations> registrations_ = std::make_shared<Registrations>();
    std::set<std::pair<Key, std::uint64_t>> taken_;
    HotKeyToken nextToken_ = 1;
};

} // namespace orvane::sim
