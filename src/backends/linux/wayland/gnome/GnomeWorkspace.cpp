#include "backends/linux/wayland/gnome/GnomeWorkspace.hpp"

#include "backends/linux/DesktopProcesses.hpp"
#include "backends/linux/MainQueueObservers.hpp"
#include "backends/linux/session/SessionNotifier.hpp"
#include "backends/linux/wayland/BridgeConnection.hpp"
#include "backends/linux/wayland/gnome/GnomeWindowServer.hpp"
#include "backends/linux/x11/X11DesktopEntries.hpp"
#include "orvane/platform/Platform.hpp"

#include <systemd/sd-bus.h>

namespace orvane::linuxbackend {
namespace {

constexpr int displaysTopic = 0;

std::optional<BridgeWindow> windowWithId(const BridgeSnapshot& snapshot, std::uint64_t id) {
    if (snapshot.windows && id != 0) {
        for (const auto& window : *snapshot.windows) {
            if (window.id == id) {
                return window;
            }
        }
    }
    return std::nullopt;
}

} // namespace

GnomeWorkspace::GnomeWorkspace(std::shared_ptr<BridgeConnection> bridge,
                               std::shared_ptr<const X11DesktopEntries> entries,
                               std::shared_ptr<MainQueue> mainQueue)
    : bridge_(std::move(bridge)), entries_(std::move(entries)), mainQueue_(std::move(mainQueue)) {}

GnomeWorkspace::~GnomeWorkspace() = default;

RunningApplication GnomeWorkspace::describe(const BridgeWindow& window) const {
    RunningApplication application;
    application.pid = static_cast<pid_t>(window.pid);
    if (!window.applicationId.empty()) {
        application.bundleIdentifier = window.applicationId;
    }
    auto name = entries_->applicationName(window.applicationId, "", window.applicationId);
    if (!name.empty()) {
        application.localizedName = name;
    } else if (window.pid != 0) {
        application.localizedName = DesktopProcesses::commandName(application.pid);
    }
    return application;
}

std::optional<RunningApplication> GnomeWorkspace::frontmostApplication() const {
    const auto snapshot = bridge_->snapshot();
    const auto focused = windowWithId(snapshot, snapshot.focusWindow);
    if (!focused || focused->pid == 0) {
        return std::nullopt;
    }
    return describe(*focused);
}

std::optional<RunningApplication> GnomeWorkspace::runningApplication(pid_t pid) const {
    if (!DesktopProcesses::exists(pid)) {
        return std::nullopt;
    }
    if (const auto windows = bridge_->snapshot().windows) {
        for (const auto& window : *windows) {
            if (window.pid == static_cast<std::uint32_t>(pid)) {
                return describe(window);
            }
        }
    }
    // A process without a window: still running, known by its command name.
    RunningApplication application;
    application.pid = pid;
    application.localizedName = DesktopProcesses::commandName(pid);
    return application;
}

bool GnomeWorkspace::activate(pid_t pid) {
    const auto windows = bridge_->snapshot().windows;
    if (!windows) {
        return false;
    }
    const BridgeWindow* front = nullptr;
    for (const auto& window : *windows) {
        if (window.pid == static_cast<std::uint32_t>(pid) &&
            GnomeWindowServer::layerOf(window) == std::int64_t{0} &&
            (!front || (front->minimized && !window.minimized))) {
            front = &window;
        }
    }
    return front && activateWindow(pid, GnomeWindowServer::numberOf(front->id));
}

bool GnomeWorkspace::activateWindow(pid_t pid, std::uint32_t windowNumber) {
    const auto snapshot = bridge_->snapshot();
    if (!snapshot.ready || !snapshot.windows) {
        return false;
    }
    std::optional<std::uint64_t> id;
    for (const auto& window : *snapshot.windows) {
        if (GnomeWindowServer::numberOf(window.id) == windowNumber &&
            window.pid == static_cast<std::uint32_t>(pid)) {
            id = window.id;
        }
    }
    if (!id) {
        return false;
    }
    sd_bus_message* reply = bridge_->call("ActivateWindow", "t", *id);
    int activated = 0;
    const bool answered = reply && sd_bus_message_read(reply, "b", &activated) >= 0;
    sd_bus_message_unref(reply);
    if (!answered || !activated) {
        return false;
    }
    // Asked now rather than taken from the cache, which hears of the change a moment later.
    reply = bridge_->callService(BridgeConnection::busName, BridgeConnection::objectPath,
                                 "org.freedesktop.DBus.Properties", "Get", "ss",
                                 BridgeConnection::interfaceName, "FocusWindow");
    std::uint64_t focus = 0;
    const bool read = reply && sd_bus_message_read(reply, "v", "t", &focus) >= 0;
    sd_bus_message_unref(reply);
    if (!read) {
        return false;
    }
    // The window itself or one of its program's own, such as its dialog.
    const auto focused = windowWithId(bridge_->snapshot(), focus);
    return focus == *id || (focused && focused->pid == static_cast<std::uint32_t>(pid));
}

bool GnomeWorkspace::openURL(const std::string& url) {
    return DesktopProcesses::openWithUserHandler(url);
}

bool GnomeWorkspace::isOverviewShowing() const {
    return bridge_->snapshot().overviewActive;
}

Subscription GnomeWorkspace::observe(WorkspaceEvent event, std::function<void()> handler) {
    if (event == WorkspaceEvent::displaysChanged) {
        if (!displayObservers_) {
            displayObservers_ =
                std::make_unique<MainQueueObservers>(fixedOrInstalledQueue(mainQueue_));
            monitorsChanged_ =
                bridge_->listen([observers = displayObservers_.get()](const BridgeEvent& change) {
                    // A bridge that comes back may come with other monitors.
                    if (change.kind == BridgeEvent::Kind::monitorsChanged ||
                        change.kind == BridgeEvent::Kind::ready) {
                        observers->notify(displaysTopic);
                    }
                });
        }
        return displayObservers_->add(displaysTopic, std::move(handler));
    }
    if (!session_) {
        session_ = std::make_unique<SessionNotifier>(fixedOrInstalledQueue(mainQueue_));
    }
    return session_->observe(event, std::move(handler));
}

} // namespace orvane::linuxbackend
