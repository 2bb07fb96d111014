#include "backends/linux/wayland/kwin/KWinDesktop.hpp"

#include "backends/linux/wayland/CompositorSecureInput.hpp"
#include "backends/linux/wayland/client/WaylandClient.hpp"
#include "backends/linux/wayland/kwin/KWinHotKeys.hpp"
#include "backends/linux/wayland/kwin/KWinLink.hpp"
#include "orvane/platform/DesktopBridge.hpp"

#if ORVANE_WITH_EVDEV
#include "backends/linux/evdev/EvdevInputOption.hpp"
#endif

#include <cstdlib>

namespace orvane::linuxbackend {

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

std::shared_ptr<KWinDesktop> KWinDesktop::open(Options options) {
    std::shared_ptr<KWinDesktop> desktop(new KWinDesktop());
    auto link = std::make_shared<KWinLink>(options.mainQueue);
    desktop->link_ = link;
    desktop->services_ =
        CompositorServices::open(link, options.mainQueue, std::move(options.focusWatch));
    desktop->secureInput_ =
        std::make_shared<CompositorSecureInput>(link, desktop->services_.focusWatch);
    desktop->hotKeys_ = std::make_shared<KWinHotKeys>(link);
    // The script tells the cursor; the idle timer that there was input.
    desktop->client_ = WaylandClientServices::open(link, desktop->services_.posted,
                                                   options.mainQueue, options.clock, true);
    desktop->bridge_ = std::make_shared<KWinDesktopBridge>(link);
    return desktop;
}

void KWinDesktop::fill(Platform& platform) const {
    services_.fill(platform);
    client_.fill(platform);
    platform.secureInput = secureInput_;
    platform.hotKeys = hotKeys_;
    platform.desktopBridge = bridge_;
    platform.exposure.push_back(
        "Orvane's KWin script, loaded while Orvane runs: it calls only this Orvane's own bus "
        "connection, with a key made for this run, which takes calls only from KWin with that "
        "key; it unloads itself within seconds once that connection is gone");
}

void KWinDesktop::waitUntilSettled(std::chrono::milliseconds timeout) const {
    link_->waitUntilSettled(timeout);
    client_.client->waitUntilSettled(timeout);
}

bool installKWinDesktop(Platform& platform, std::string* error) {
    if (!std::getenv("DBUS_SESSION_BUS_ADDRESS") && !std::getenv("XDG_RUNTIME_DIR")) {
        if (error) {
            *error = "there is no session bus to reach KWin by";
        }
        // Without the compositor's link, the devices are all that tell of typing.
#if ORVANE_WITH_EVDEV
        offerInputDevices(platform, nullptr);
#endif
        return false;
    }
    auto desktop = KWinDesktop::open({platform.mainQueue, nullptr, platform.clock});
    // KWin loads the script and it answers within a second; what is asked first (the
    // monitors, by --diagnose or the first pose) should find its answer there.
    desktop->waitUntilSettled(std::chrono::seconds(5));
    desktop->fill(platform);
#if ORVANE_WITH_EVDEV
    offerInputDevices(platform, keysGoToOwnWindow(desktop->link()));
#endif
    return true;
}

} // namespace orvane::linuxbackend
