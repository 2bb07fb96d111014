#pragma once

#include "orvane/platform/HotKeys.hpp"
#include "orvane/platform/Subscription.hpp"

#include <map>
#include <memory>
#include <optional>
#include <string>

namespace orvane::linuxbackend {

class KWinLink;
struct CompositorEvent;

// System-wide chords as KDE global shortcuts of Orvane's own, which KWin grabs and people see
// (and may change) in the shortcut settings. A chord another program has is refused, not
// taken over. Main thread.
class KWinHotKeys : public HotKeys {
public:
    explicit KWinHotKeys(std::shared_ptr<KWinLink> link);
    ~KWinHotKeys() override;

    std::optional<HotKeyToken> registerHotKey(Key key, std::uint64_t modifiers,
                                              std::function<void()> handler) override;
    void unregisterHotKey(HotKeyToken token) override;
    std::string describe(Key key, std::uint64_t modifiers) const override;
    std::string takenBy(Key key, std::uint64_t modifiers) const override;

    // The chord as Qt writes a key with its modifiers in one number, as kglobalaccel takes
    // it; nullopt for a key with no name.
    static std::optional<int> qtKeys(Key key, std::uint64_t modifiers);

private:
    struct Binding {
        std::string action;
        std::function<void()> handler;
    };

    void handle(const CompositorEvent& event);

    std::shared_ptr<KWinLink> link_;
    std::map<HotKeyToken, Binding> bindings_;
    HotKeyToken nextToken_ = 1;
    Subscription events_;
};

} // namespace orvane::linuxbackend
