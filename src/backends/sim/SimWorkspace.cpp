#include "backends/sim/SimWorkspace.hpp"

#include "backends/sim/SimWindowServer.hpp"

#include <utility>

namespace orvane::sim {

SimWorkspace::SimWorkspace() : observers_(std::make_shared<Observers>()) {}

std::optional<RunningApplication> SimWorkspace::frontmostApplication() const {
    std::lock_guard lock(mutex_);
    if (!frontmost_) {
        return std::nullopt;
    }
    auto found = applications_.find(*frontmost_);
    if (found == applications_.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::optional<RunningApplication> SimWorkspace::runningApplication(pid_t pid) const {
    std::lock_guard lock(mutex_);
    auto found = applications_.find(pid);
    if (found == applications_.end()) {
        return std::nullopt;
    }
    return found->second;
}

bool SimWorkspace::activate(pid_t pid) {
    std::lock_guard lock(mutex_);
    ++attempts_;
    if (!applications_.contains(pid) || refused_.contains(pid)) {
        return false;
    }
    frontmost_ = pid;
    activations_.push_back(pid);
    return true;
}

bool SimWorkspace::activateWindow(pid_t pid, std::uint32_t windowNumber) {
    std::shared_ptr<SimWindowServer> server;
    {
        std::lock_guard lock(mutex_);
        ++attempts_;
        if (!applications_.contains(pid) || refused_.contains(pid) ||
            refusedWindows_.contains(windowNumber)) {
            return false;
        }
        server = windowServer_;
    }
    if (server) {
        const auto entry = server->entry(windowNumber);
        if (!entry || entry->ownerPid != std::int64_t{pid}) {
            return false;
        }
        server->raiseWindow(windowNumber);
    }
    std::lock_guard lock(mutex_);
    frontmost_ = pid;
    activations_.push_back(pid);
    activatedWindows_.push_back(windowNumber);
    return true;
}

void SimWorkspace::refuseWindowActivation(std::uint32_t windowNumber, bool refuse) {
    std::lock_guard lock(mutex_);
    if (refuse) {
        refusedWindows_.insert(windowNumber);
    } else {
        refusedWindows_.erase(windowNumber);
    }
}

void SimWorkspace::setWindowServer(std::shared_ptr<SimWindowServer> server) {
    std::lock_guard lock(mutex_);
    windowServer_ = std::move(server);
}

std::vector<std::uint32_t> SimWorkspace::activatedWindows() const {
    std::lock_guard lock(mutex_);
    return activatedWindows_;
}

bool SimWorkspace::openURL(const std::string& url) {
    std::lock_guard lock(mutex_);
    if (openURLFails_) {
        return false;
    }
    urls_.push_back(url);
    return true;
}

Subscription SimWorkspace::observe(WorkspaceEvent event, std::function<void()> handler) {
    std::uint64_t id = 0;
    {
        std::lock_guard lock(observers_->mutex);
        id = observers_->nextID++;
        observers_->handlers[id] = {event, std::move(handler)};
    }
    return Subscription([weak = std::weak_ptr<Observers>(observers_), id] {
        if (auto observers = weak.lock()) {
            std::lock_guard lock(observers->mutex);
            observers->handlers.erase(id);
        }
    });
}

void SimWorkspace::addApplication(RunningApplication application) {
    std::lock_guard lock(mutex_);
    applications_[application.pid] = std::move(application);
}

void SimWorkspace::removeApplication(pid_t pid) {
    std::lock_guard lock(mutex_);
    applications_.erase(pid);
    if (frontmost_ == pid) {
        frontmost_.reset();
    }
}

void SimWorkspace::setFrontmost(std::optional<pid_t> pid) {
    std::lock_guard lock(mutex_);
    frontmost_ = pid;
}

bool SimWorkspace::isOverviewShowing() const {
    std::lock_guard lock(mutex_);
    return overviewShowing_;
}

void SimWorkspace::setOverviewShowing(bool showing) {
    std::lock_guard lock(mutex_);
    overviewShowing_ = showing;
}

std::optional<pid_t> SimWorkspace::frontmostPID() const {
    std::lock_guard lock(mutex_);
    return frontmost_;
}

void SimWorkspace::refuseActivation(pid_t pid, bool refuse) {
    std::lock_guard lock(mutex_);
    if (refuse) {
        refused_.insert(pid);
    } else {
        refused_.erase(pid);
    }
}

std::vector<pid_t> SimWorkspace::activations() const {
    std::lock_guard lock(mutex_);
    return activations_;
}

std::size_t SimWorkspace::activationAttempts() const {
    std::lock_guard lock(mutex_);
    return attempts_;
}

void SimWorkspace::setOpenURLFails(bool fails) {
    std::lock_guard lock(mutex_);
    openURLFails_ = fails;
}

std::vector<std::string> SimWorkspace::openedURLs() const {
    std::lock_guard lock(mutex_);
    return urls_;
}

std::size_t SimWorkspace::fire(WorkspaceEvent event) {
    // Copied first: a handler may end its own or another subscription.
    std::vector<std::pair<std::uint64_t, std::function<void()>>> matching;
    {
        std::lock_guard lock(observers_->mutex);
        for (const auto& [id, entry] : observers_->handlers) {
            if (entry.first == event) {
                matching.emplace_back(id, entry.second);
            }
        }
    }
    std::size_t called = 0;
    for (auto& [id, handler] : matching) {
        bool stillObserving = false;
        {
            std::lock_guard lock(observers_->mutex);
            stillObserving = observers_->handlers.contains(id);
        }
        if (stillObserving && handler) {
            handler();
            ++called;
        }
    }
    return called;
}

std::size_t SimWorkspace::observerCount() const {
    std::lock_guard lock(observers_->mutex);
    return observers_->handlers.size();
}

} // namespace orvane::sim
