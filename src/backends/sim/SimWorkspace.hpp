#pragma once

#include "orvane/platform/Workspace.hpp"

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

namespace orvane::sim {

class SimWindowServer;

// The simulated workspace: running applications, which one is frontmost, activation (which a
// test can make the platform refuse), opened URLs, and system events a test fires by hand.
class SimWorkspace : public Workspace {
public:
    SimWorkspace();

    std::optional<RunningApplication> frontmostApplication() const override;
    std::optional<RunningApplication> runningApplication(pid_t pid) const override;
    bool activate(pid_t pid) override;
    bool activateWindow(pid_t pid, std::uint32_t windowNumber) override;
    bool openURL(const std::string& url) override;
    bool isOverviewShowing() const override;
    Subscription observe(WorkspaceEvent event, std::function<void()> handler) override;

    // Starts (or replaces) a running application.
    void addApplication(RunningApplication application);
    // The process ends; it is no longer frontmost.
    void removeApplication(pid_t pid);
    void setFrontmost(std::optional<pid_t> pid);
    // The desktop's overview opens or closes.
    void setOverviewShowing(bool showing);
    std::optional<pid_t> frontmostPID() const;

    // Activating this application fails (the platform refuses it).
    void refuseActivation(pid_t pid, bool refuse = true);
    // Activating this window ends with another window focused (a window manager that focuses
    // a different window of the application, or refuses to let it take focus).
    void refuseWindowActivation(std::uint32_t windowNumber, bool refuse = true);
    // Windows are activated only while the window server lists them for their application, and
    // activating one raises it.
    void setWindowServer(std::shared_ptr<SimWindowServer> server);
    // Every successful activation, in order (of the application alone or of one window).
    std::vector<pid_t> activations() const;
    // The windows of every successful window activation, in order.
    std::vector<std::uint32_t> activatedWindows() const;
    std::size_t activationAttempts() const;

    void setOpenURLFails(bool fails);
    std::vector<std::string> openedURLs() const;

    // Calls the handlers observing `event`, on the calling thread (the test's thread is the
    // main thread). Returns how many were called.
    std::size_t fire(WorkspaceEvent event);
    std::size_t observerCount() const;

private:
    struct Observers {
        std::mutex mutex;
        std::uint64_t nextID = 1;
        std::map<std::uint64_t, std::pair<WorkspaceEvent, std::function<void()>>> handlers;
    };

    mutable std::mutex mutex_;
    std::map<pid_t, RunningApplication> applications_;
    std::optional<pid_t> frontmost_;
    bool overviewShowing_ = false;
    std::set<pid_t> refused_;
    std::set<std::uint32_t> refusedWindows_;
    std::vector<std::uint32_t> activatedWindows_;
    std::shared_ptr<SimWindowServer> windowServer_;
    std::vector<pid_t> activations_;
    std::size_t attempts_ = 0;
    bool openURLFails_ = false;
    std::vector<std::string> urls_;
    // Shared with the subscriptions, which may outlive the workspace.
    std::shared_ptr<Observers> observers_;
};

} // namespace orvane::sim
