#include "backends/linux/wayland/kwin/KWinDesktop.hpp"

#include "backends/linux/wayland/client/CompositorDesktop.hpp"
#include "backends/linux/wayland/kwin/KWinHotKeys.hpp"
#include "backends/linux/wayland/kwin/KWinLink.hpp"
#include "orvane/platform/DesktopBridge.hpp"

#include <cstdlib>

namespace orvane::linuxbackend {
namespace {

// What stands between Orvane and KWin is Orvane's script, which it loads into KWin itself:
// nothing to install or switch on, only a KWin that takes it.
class KWinDesktopBridge : public DesktopBridge {
public:
    explicit KWinDesktopBridge(std::shared_ptr<KWinLink> link) : link_(std::move(link)) {}

    DesktopBridgeState state() const override {
        DesktopBridgeState state;
        state.sessionKind = "Wayland";
        state.bridgeName = "Orvane's KWin script";
        state.bridgeId = link_->pluginName();
        if (state.bridgeId.empty()) {
            state.bridgeId = KWinLink::pluginStem;
        }
        const auto snapshot = link_->snapshot();
        state.desktop = snapshot.compositorVersion.empty()
                            ? "KDE Plasma (KWin)"
                            : "KDE Plasma (KWin " + snapshot.compositorVersion + ")";
        state.bridgeVersion = snapshot.version;
        state.detail = link_->problem();
        if (snapshot.ready) {
            state.status = DesktopBridgeStatus::ready;
        } else if (snapshot.version && *snapshot.version != KWinLink::version) {
            state.status = DesktopBridgeStatus::otherVersion;
        } else if (snapshot.present && !link_->scriptLoaded() && !state.detail.empty()) {
            state.status = DesktopBridgeStatus::failed; // KWin is there and refused the script
        } else {
            state.status = DesktopBridgeStatus::unreachable;
        }
        return state;
    }

    bool enable() override { return false; }

private:
    std::shared_ptr<KWinLink> link_;
};

} // namespace

bool installKWinDesktop(Platform& platform, std::string* error) {
    const bool busFindable =
        std::getenv("DBUS_SESSION_BUS_ADDRESS") || std::getenv("XDG_RUNTIME_DIR");
    return installCompositorDesktop(
        platform, error, busFindable ? "" : "there is no session bus to reach KWin by",
        [](const CompositorDesktop::Options& options) {
            auto link = std::make_shared<KWinLink>(options.mainQueue);
            return CompositorDesktop::open(
                {link, std::make_shared<KWinHotKeys>(link),
                 std::make_shared<KWinDesktopBridge>(link),
                 // The script tells the cursor; the idle timer that there was input.
                 true, nullptr,
                 "Orvane's KWin script, loaded while Orvane runs: it calls only this Orvane's "
                 "own bus connection, with a key made for this run, which takes calls only from "
                 "KWin with that key; it unloads itself within seconds once that connection is "
                 "gone",
                 nullptr},
                options);
        },
        // KWin loads the script and it answers within a second.
        std::chrono::seconds(5));
}

} // namespace orvane::linuxbackend
