#pragma once

#include "backends/linux/dbus/BusWorker.hpp"
#include "backends/linux/wayland/CompositorLink.hpp"
#include "backends/linux/wayland/ListenerSet.hpp"
#include "backends/linux/wayland/gnome/BridgeReplies.hpp"
#include "orvane/platform/DesktopBridge.hpp"
#include "orvane/platform/MainQueue.hpp"
#include "orvane/platform/Subscription.hpp"
#include "plinth/Geometry.hpp"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct sd_bus;
struct sd_bus_message;

namespace orvane::linuxbackend {

// The session-bus client of a compositor's bridge (net.orvane.Bridge): a connection of its own
// on a worker thread follows the bridge's name, refuses a bridge of another version, and keeps
// its monitors, windows, focus, overview, shell dialogs and input samples from its signals, so
// that asking (on every pose) costs a lock and a copy of two pointers. Listeners hear each
// change on the main queue. Calls go over a second connection owned by the main thread, each
// bounded by `callTimeoutMicroseconds`; each method of the bridge is a function here, typed as
// net.orvane.Bridge1.xml declares it (the build checks the two agree: BridgeProtocol).
class BridgeConnection : public CompositorLink {
public:
    static constexpr const char* busName = "net.orvane.Bridge";
    static constexpr const char* objectPath = "/net/orvane/Bridge";
    static constexpr const char* interfaceName = "net.orvane.Bridge1";
    // Only the bridge on the same connection as the shell's own name is believed.
    static constexpr const char* shellName = "org.gnome.Shell";
    static constexpr const char* shellPath = "/org/gnome/Shell";
    static constexpr const char* shellExtensionsInterface = "org.gnome.Shell.Extensions";
    static constexpr unsigned version = 2;
    static constexpr std::uint64_t callTimeoutMicroseconds = 1'000'000;

    // `mainQueue` delivers the listeners' calls; when null, the installed platform's at each
    // event.
    explicit BridgeConnection(std::shared_ptr<MainQueue> mainQueue);
    // Joins the worker; returns at once even while the bridge has not answered.
    ~BridgeConnection() override;
    BridgeConnection(const BridgeConnection&) = delete;
    BridgeConnection& operator=(const BridgeConnection&) = delete;

    CompositorSnapshot snapshot() const override;
    Subscription listen(std::function<void(const CompositorEvent&)> listener) override;
    std::optional<std::uint64_t> activateWindow(std::uint64_t id) override;
    // The shell's pointer moves at once; samples say so a moment later, so the snapshot is
    // told now.
    bool warpPointer(int x, int y) override;
    std::optional<plinth::Point> queryPointer() override;
    bool postKey(std::uint32_t keysym, bool press) override;

    // Main thread: the bridge's other methods. Nothing (false) when the bridge did not answer
    // in time, refused, or is not the shell's own (then nothing is sent).
    bool setOverviewActive(bool active);
    // The action the chord is heard as; 0 when the shell did not grant it.
    std::optional<std::uint32_t> grabAccelerator(const std::string& accelerator);
    // Whether the shell let go of the chord.
    std::optional<bool> ungrabAccelerator(std::uint32_t action);
    // The gaze dot, in the shell's stage coordinates.
    bool showDot(int x, int y, int diameter);
    bool hideDot();
    bool setIndicator(const std::vector<std::uint8_t>& icon, const std::string& tooltip,
                      const std::vector<IndicatorItem>& items);
    bool clearIndicator();

    // Main thread: GNOME Shell's own version and extension manager, over the same connection,
    // bounded alike.
    std::optional<std::string> shellVersion();
    // Nothing when the shell did not answer.
    std::optional<BridgeReplies::ShellExtensionInfo> extensionInfo(const std::string& uuid);
    bool enableExtension(const std::string& uuid);

    // The first look at the bus is done: the bridge read, refused, or not there.
    bool waitUntilSettled(std::chrono::milliseconds timeout) const override;

    // Asked again whenever the bridge comes back.
    bool watchInput(unsigned milliseconds) override;

    // The unique name of a program that holds the bridge's name but is not GNOME Shell;
    // empty when there is none.
    std::string impostor() const;

private:
    friend class BridgeLoop;

    void update(const std::function<void(CompositorSnapshot&)>& change);
    void post(CompositorEvent event);
    void markSettled();
    void updateAndPost(const std::function<void(CompositorSnapshot&)>& change,
                       CompositorEvent event);
    std::shared_ptr<MainQueue> queue() const;
    void setTrustedOwner(std::string unique);
    void setImpostor(std::string unique);
    std::string trustedOwner() const;
    // The reply when it came from the bridge believed; else null (and the reply unref'd).
    sd_bus_message* fromTrustedOwner(sd_bus_message* reply) const;
    // Main thread: the session-bus connection the calls use; null without a session bus.
    sd_bus* callBus();
    // Main thread: a method of the bridge, `M` of BridgeProtocol, with exactly its arguments'
    // types; its reply's values, or nothing.
    template <class M, class... Arguments>
    std::optional<typename M::Reply> ask(const Arguments&... arguments);
    // Main thread: a method of GNOME Shell's own at its path; the reply (to unref) or null.
    sd_bus_message* callShell(const char* interface, const char* member, const char* types, ...);

    std::shared_ptr<MainQueue> mainQueue_;
    ListenerSet<CompositorEvent> listeners_;
    mutable std::mutex mutex_;
    mutable std::condition_variable settledChanged_;
    bool settled_ = false; // guarded by mutex_
    CompositorSnapshot snapshot_;
    std::string trustedOwner_; // guarded by mutex_: the shell's connection, when believed
    std::string impostor_;     // guarded by mutex_
    Subscription rewatch_;
    unsigned inputInterval_ = 0;                              // main thread
    sd_bus* callBus_ = nullptr;                               // main thread
    BusWorker worker_{"the desktop's bridge is not reached"}; // last: ends before the rest goes
};

} // namespace orvane::linuxbackend
