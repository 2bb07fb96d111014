#include "backends/linux/wayland/CompositorWorkspace.hpp"

#include "backends/linux/DesktopProcesses.hpp"
#include "backends/linux/freedesktop/DesktopEntries.hpp"
#include "backends/linux/runtime/MainQueueObservers.hpp"
#include "backends/linux/session/SessionNotifier.hpp"
#include "backends/linux/wayland/CompositorLink.hpp"
#include "backends/linux/wayland/CompositorWindowServer.hpp"
#include "orvane/platform/Platform.hpp"

#include <algorithm>

namespace orvane::linuxbackend {
namespace {

constexpr int displaysTopic = 0;

std::optional<CompositorWindow> windowWithId(const CompositorSnapshot& snapshot, std::uint64_t id) {
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

CompositorWorkspace::CompositorWorkspace(std::shared_ptr<CompositorLink> link,
                                         std::shared_ptr<const DesktopEntries> entries,
                                         std::shared_ptr<MainQueue> mainQueue)
    : link_(std::move(link)), entries_(std::move(entries)), mainQueue_(std::move(mainQueue)) {}

CompositorWorkspace::~CompositorWorkspace() = default;

RunningApplication CompositorWorkspace::describe(const CompositorWindow& window) const {
    RunningApplication application;
    application.pid = static_cast<pid_t>(window.pid);
    if (!window.applicationId.empty()) {
        application.applicationId = window.applicationId;
    }
    auto name = entries_->applicationName(window.applicationId, "", window.applicationId);
    if (!name.empty()) {
        application.localizedName = name;
    } else if (window.pid != 0) {
        application.localizedName = DesktopProcesses::commandName(application.pid);
    }
    return application;
}

std::optional<RunningApplication> CompositorWorkspace::frontmostApplication() const {
    const auto snapshot = link_->snapshot();
    const auto focused = windowWithId(snapshot, snapshot.focusWindow);
    if (!focused || focused->pid == 0) {
        return std::nullopt;
    }
    return describe(*focused);
}

std::optional<RunningApplication> CompositorWorkspace::runningApplication(pid_t pid) const {
    if (pid == 0) {
        // The process of windows whose compositor does not name it: there while such a window
        // is, and nothing more is told of it (no identifier to mistake for another program's).
        const auto windows = link_->snapshot().windows;
        if (windows && std::any_of(windows->begin(), windows->end(),
                                   [](const auto& window) { return window.pid == 0; })) {
            RunningApplication unknown;
            unknown.pid = 0;
            return unknown;
        }
        return std::nullopt;
    }
    if (!DesktopProcesses::exists(pid)) {
        return std::nullopt;
    }
    if (const auto windows = link_->snapshot().windows) {
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

bool CompositorWorkspace::activate(pid_t pid) {
    const auto windows = link_->snapshot().windows;
    if (!windows) {
        return false;
    }
    const CompositorWindow* front = nullptr;
    for (const auto& window : *windows) {
        if (window.pid == static_cast<std::uint32_t>(pid) &&
            CompositorWindowServer::layerOf(window) == std::int64_t{0} &&
            (!front || (front->minimized && !window.minimized))) {
            front = &window;
        }
    }
    return front && activateWindow(pid, CompositorWindowServer::numberOf(front->id));
}

bool CompositorWorkspace::activateWindow(pid_t pid, std::uint32_t windowNumber) {
    const auto snapshot = link_->snapshot();
    if (!snapshot.ready || !snapshot.windows) {
        return false;
    }
    std::optional<std::uint64_t> id;
    for (const auto& window : *snapshot.windows) {
        if (CompositorWindowServer::numberOf(window.id) == windowNumber &&
            window.pid == static_cast<std::uint32_t>(pid)) {
            id = window.id;
        }
    }
    if (!id) {
        return false;
    }
    const auto focus = link_->activateWindow(*id);
    if (!focus) {
        return false;
    }
    // The window itself or one of its program's own, such as its dialog.
    const auto focused = windowWithId(link_->snapshot(), *focus);
    return *focus == *id || (focused && focused->pid == static_cast<std::uint32_t>(pid));
}

bool CompositorWorkspace::openURL(const std::string& url) {
    return DesktopProcesses::openWithUserHandler(url);
}

bool CompositorWorkspace::isOverviewShowing() const {
    return link_->snapshot().overviewActive;
}

Subscription CompositorWorkspace::observe(WorkspaceEvent event, std::function<void()> handler) {
    if (event == WorkspaceEvent::displaysChanged) {
        if (!displayObservers_) {
            displayObservers_ =
                std::make_unique<MainQueueObservers>(fixedOrInstalledQueue(mainQueue_));
            monitorsChanged_ =
                link_->listen([observers = displayObservers_.get()](const CompositorEvent& change) {
                    // A compositor that comes back may come with other monitors.
                    if (change.kind == CompositorEvent::Kind::monitorsChanged ||
                        change.kind == CompositorEvent::Kind::ready) {
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
