#pragma once

#include "backends/linux/dbus/BusWorker.hpp"
#include "backends/linux/wayland/CompositorLink.hpp"
#include "backends/linux/wayland/kwin/KWinLinkState.hpp"
#include "backends/linux/wayland/kwin/KWinShortcuts.hpp"
#include "orvane/platform/MainQueue.hpp"

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orvane::linuxbackend {

class KWinLoop;

// KWin reached through Orvane's KWin script: the link loads the script over
// org.kde.kwin.Scripting when KWin is (or comes back) on the session bus, takes the state the
// script pushes to its own bus object (on a connection of its own on a worker thread), and
// hands the script its commands as the answer to the call the script keeps waiting on us,
// since a KWin script cannot be called. It unloads the script when it ends.
//
// The script serves this link alone: it calls the link's connection by its unique name, which
// the bus never gives again, so that nobody who later takes a name of Orvane's hears it; and
// each of its calls carries a key made for this run and written only into the copy KWin
// loads. A call not from the current owner of org.kde.KWin with that key is refused.
class KWinLink : public CompositorLink {
public:
    // Owned while the link runs, so that a second Orvane says so; the script does not use it.
    static constexpr const char* busName = "net.orvane.KWinBridge";
    static constexpr const char* objectPath = "/net/orvane/KWinBridge";
    static constexpr const char* interfaceName = "net.orvane.KWinBridge1";
    // KWin knows each run's script by this and the connection's unique name.
    static constexpr const char* pluginStem = "orvane-bridge";
    static constexpr unsigned version = 2;
    // How long the script's standing call is held before it is told "nothing"; under the 25 s
    // KWin waits for an answer, and the 15 s after which the script takes Orvane for gone.
    static constexpr std::uint64_t pollHoldMicroseconds = 10'000'000;
    static constexpr std::chrono::milliseconds commandTimeout{1000};
    // The component Orvane's global shortcuts are listed under in KDE's settings.
    static constexpr const char* shortcutComponent = KWinShortcuts::component;

    // `mainQueue` delivers the listeners' calls; when null, the installed platform's at each
    // event.
    explicit KWinLink(std::shared_ptr<MainQueue> mainQueue);
    // Unloads the script and joins the worker.
    ~KWinLink() override;
    KWinLink(const KWinLink&) = delete;
    KWinLink& operator=(const KWinLink&) = delete;

    CompositorSnapshot snapshot() const override;
    Subscription listen(std::function<void(const CompositorEvent&)> listener) override;
    std::optional<std::uint64_t> activateWindow(std::uint64_t id) override;
    bool warpPointer(int x, int y) override;
    std::optional<plinth::Point> queryPointer() override;
    bool postKey(std::uint32_t keysym, bool press) override;
    bool watchInput(unsigned milliseconds) override;
    bool waitUntilSettled(std::chrono::milliseconds timeout) const override;

    // Main thread: asks KWin's global shortcuts (kglobalaccel, inside KWin) for `qtKeys` (a Qt
    // key code with its modifier bits) as Orvane's action `action`, shown as `text` in KDE's
    // shortcut settings. The keys it gave (0: none, they are another's); nullopt when KWin did
    // not answer, and then they are asked for once its shortcuts are there. Asked again each
    // time KWin's shortcuts come back; a press is an acceleratorActivated event naming
    // `action`.
    std::optional<int> bindShortcut(const std::string& action, const std::string& text, int qtKeys);
    void unbindShortcut(const std::string& action);
    // Any thread but the worker's: the programs other than Orvane whose global shortcuts have
    // `qtKeys`, as "Program: action"; empty when none, or KWin does not answer.
    std::vector<std::string> shortcutOwners(int qtKeys);

    // Any thread: whether KWin runs our script now, and why not when it does not.
    bool scriptLoaded() const;
    std::string problem() const;
    // Any thread: the name KWin knows this run's script by, and the file it reads it from;
    // empty before the link has a connection.
    std::string pluginName() const;
    std::string scriptFile() const;

private:
    friend class KWinLoop;

    // Queues a command for the script; with `wait`, its answer or nullopt after the timeout.
    std::optional<KWinScriptDone> command(const std::function<std::string(std::uint64_t)>& make,
                                          bool wait);
    // Runs `task` on the worker while its loop runs; false when there is no worker.
    bool onWorker(std::function<void(KWinLoop&)> task);

    std::unique_ptr<KWinLinkState> state_;
    KWinLoop* running_ = nullptr;             // the worker's thread only
    BusWorker worker_{"KWin is not reached"}; // last: ends before the rest goes
};

} // namespace orvane::linuxbackend
