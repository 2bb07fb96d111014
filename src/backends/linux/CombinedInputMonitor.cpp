#include "backends/linux/CombinedInputMonitor.hpp"

#include <utility>
#include <vector>

namespace orvane::linuxbackend {

CombinedInputMonitor::CombinedInputMonitor(std::shared_ptr<InputMonitor> desktop)
    : desktop_(std::move(desktop)) {}

CombinedInputMonitor::~CombinedInputMonitor() {
    std::lock_guard lock(mutex_);
    for (const auto& [token, monitor] : monitors_) {
        current()->removeMonitor(monitor.inner);
    }
    if (keepWatching_) {
        desktop_->removeMonitor(*keepWatching_);
    }
}

const std::shared_ptr<InputMonitor>& CombinedInputMonitor::current() const {
    return replacement_ ? replacement_ : desktop_;
}

std::string CombinedInputMonitor::reducedGuards() const {
    std::lock_guard lock(mutex_);
    return current()->reducedGuards();
}

bool CombinedInputMonitor::usesReplacement() const {
    std::lock_guard lock(mutex_);
    return replacement_ != nullptr;
}

bool CombinedInputMonitor::use(std::shared_ptr<InputMonitor> replacement) {
    std::lock_guard lock(mutex_);
    const std::shared_ptr<InputMonitor>& target = replacement ? replacement : desktop_;
    if (target == current()) {
        return true;
    }
    // Installed on the new source before leaving the old, so that no input falls between.
    std::vector<std::pair<MonitorToken, MonitorToken>> moved;
    for (const auto& [token, monitor] : monitors_) {
        const auto inner = target->addGlobalMonitor(monitor.mask, monitor.handler);
        if (!inner) {
            for (const auto& [done, installed] : moved) {
                target->removeMonitor(installed);
            }
            return false;
        }
        moved.emplace_back(token, *inner);
    }
    if (replacement && !keepWatching_) {
        keepWatching_ = desktop_->addGlobalMonitor(eventMask(InputEventType::mouseMoved),
                                                   [](const InputEvent&) {});
    }
    for (const auto& [token, inner] : moved) {
        Monitor& monitor = monitors_.at(token);
        current()->removeMonitor(monitor.inner);
        monitor.inner = inner;
    }
    if (!replacement && keepWatching_) {
        desktop_->removeMonitor(*keepWatching_);
        keepWatching_.reset();
    }
    replacement_ = std::move(replacement);
    return true;
}

std::optional<MonitorToken>
CombinedInputMonitor::addGlobalMonitor(std::uint64_t mask,
                                       std::function<void(const InputEvent&)> handler) {
    std::lock_guard lock(mutex_);
    const auto inner = current()->addGlobalMonitor(mask, handler);
    if (!inner) {
        return std::nullopt;
    }
    const MonitorToken token = nextToken_++;
    monitors_.emplace(token, Monitor{mask, std::move(handler), *inner});
    return token;
}

void CombinedInputMonitor::removeMonitor(MonitorToken token) {
    std::shared_ptr<InputMonitor> source;
    MonitorToken inner = 0;
    {
        std::lock_guard lock(mutex_);
        const auto found = monitors_.find(token);
        if (found == monitors_.end()) {
            return;
        }
        source = current();
        inner = found->second.inner;
        monitors_.erase(found);
    }
    // Outside the lock: the source waits for a handler call in progress, and that handler may
    // itself be removing a monitor here.
    source->removeMonitor(inner);
}

} // namespace orvane::linuxbackend
