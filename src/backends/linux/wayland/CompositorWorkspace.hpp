#pragma once

#include "orvane/platform/MainQueue.hpp"
#include "orvane/platform/Workspace.hpp"

#include <memory>

namespace orvane::linuxbackend {

class CompositorLink;
class MainQueueObservers;
class SessionNotifier;
class DesktopEntries;
struct CompositorWindow;

// Applications, activation and the overview through the compositor's link; sleep, wake, lock
// and unlock through the session watcher, as on X11. Main thread.
class CompositorWorkspace : public Workspace {
public:
    CompositorWorkspace(std::shared_ptr<CompositorLink> link,
                        std::shared_ptr<const DesktopEntries> entries,
                        std::shared_ptr<MainQueue> mainQueue);
    ~CompositorWorkspace() override;

    std::optional<RunningApplication> frontmostApplication() const override;
    std::optional<RunningApplication> runningApplication(pid_t pid) const override;
    // Its frontmost window.
    bool activate(pid_t pid) override;
    bool activateWindow(pid_t pid, std::uint32_t windowNumber) override;
    bool openURL(const std::string& url) override;
    bool isOverviewShowing() const override;
    Subscription observe(WorkspaceEvent event, std::function<void()> handler) override;

private:
    RunningApplication describe(const CompositorWindow& window) const;

    std::shared_ptr<CompositorLink> link_;
    std::shared_ptr<const DesktopEntries> entries_;
    std::shared_ptr<MainQueue> mainQueue_;
    std::unique_ptr<MainQueueObservers> displayObservers_;
    Subscription monitorsChanged_;
    std::unique_ptr<SessionNotifier> session_;
};

} // namespace orvane::linuxbackend
