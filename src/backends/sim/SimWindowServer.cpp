#include "backends/sim/SimWindowServer.hpp"

#include <algorithm>
#include <utility>

namespace orvane::sim {
std::optional<std::vector<WindowRecord>> SimWindowServer::onScreenWindows() const {
    std::lock_guard lock(mutex_);
    if (listFails_) {
        return std::nullopt;
    }
    return entries_;
}

std::int64_t SimWindowServer::popUpMenuLevel() const {
    std::lock_guard lock(mutex_);
    return popUpMenuLevel_;
}

plinth::Point SimWindowServer::pointerLocation() const {
    std::lock_guard lock(mutex_);
    return pointer_;
}

void SimWindowServer::warpPointer(plinth::Point point) {
    std::lock_guard lock(mutex_);
    pointer_ = point;
    warps_.push_back(point);
}

bool SimWindowServer::postKeyEvent(Key key, std::uint64_t flags, bool keyDown) {
    std::lock_guard lock(mutex_);
    if (keyPostingFails_) {
        return false;
    }
    keyEvents_.push_back({key, flags, keyDown});
    return true;
}

WindowRecord SimWindowServer::entryFor(const SimWindow& window) {
    WindowRecord record;
    record.ownerPid = window.pid;
    record.number = window.number;
    record.bounds = window.frame;
    record.layer = window.layer;
    record.ownerName = window.ownerName;
    record.title = window.title;
    return record;
}

std::uint32_t SimWindowServer::addWindow(SimWindow window) {
    std::lock_guard lock(mutex_);
    if (window.number == 0) {
        window.number = nextNumber_++;
    }
    entries_.insert(entries_.begin(), entryFor(window));
    return window.number;
}

void SimWindowServer::insertEntry(std::size_t position, WindowRecord entry) {
    std::lock_guard lock(mutex_);
    position = std::min(position, entries_.size());
    entries_.insert(entries_.begin() + static_cast<std::ptrdiff_t>(position), std::move(entry));
}

void SimWindowServer::setEntries(std::vector<WindowRecord> entries) {
    std::lock_guard lock(mutex_);
    entries_ = std::move(entries);
}

std::vector<WindowRecord> SimWindowServer::entries() const {
    std::lock_guard lock(mutex_);
    return entries_;
}

std::optional<std::size_t> SimWindowServer::indexOf(std::uint32_t number) const {
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        if (entries_[i].number == std::int64_t{number}) {
            return i;
        }
    }
    return std::nullopt;
}

bool SimWindowServer::raiseWindow(std::uint32_t number) {
    std::lock_guard lock(mutex_);
    const auto index = indexOf(number);
    if (!index) {
        return false;
    }
    auto first = entries_.begin();
    std::rotate(first, first + static_cast<std::ptrdiff_t>(*index),
                first + static_cast<std::ptrdiff_t>(*index) + 1);
    return true;
}

bool SimWindowServer::setContentFrame(std::uint32_t number, plinth::Rect frame) {
    std::lock_guard lock(mutex_);
    const auto index = indexOf(number);
    if (!index) {
        return false;
    }
    entries_[*index].contentBounds = frame;
    return true;
}

bool SimWindowServer::moveWindow(std::uint32_t number, plinth::Rect frame) {
    std::lock_guard lock(mutex_);
    const auto index = indexOf(number);
    if (!index) {
        return false;
    }
    entries_[*index].bounds = frame;
    return true;
}

bool SimWindowServer::closeWindow(std::uint32_t number) {
    std::lock_guard lock(mutex_);
    const auto index = indexOf(number);
    if (!index) {
        return false;
    }
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(*index));
    return true;
}

std::optional<WindowRecord> SimWindowServer::entry(std::uint32_t number) const {
    std::lock_guard lock(mutex_);
    const auto index = indexOf(number);
    if (!index) {
        return std::nullopt;
    }
    return entries_[*index];
}

void SimWindowServer::setListFails(bool fails) {
    std::lock_guard lock(mutex_);
    listFails_ = fails;
}

void SimWindowServer::setPopUpMenuLevel(std::int64_t level) {
    std::lock_guard lock(mutex_);
    popUpMenuLevel_ = level;
}

bool SimWindowServer::isMenuOpenInsideWindow() const {
    std::lock_guard lock(mutex_);
    return menuInsideWindow_;
}

void SimWindowServer::setMenuOpenInsideWindow(bool open) {
    std::lock_guard lock(mutex_);
    menuInsideWindow_ = open;
}

void SimWindowServer::setPointer(plinth::Point global) {
    std::lock_guard lock(mutex_);
    pointer_ = global;
}

plinth::Point SimWindowServer::pointer() const {
    std::lock_guard lock(mutex_);
    return pointer_;
}

std::vector<plinth::Point> SimWindowServer::warps() const {
    std::lock_guard lock(mutex_);
    return warps_;
}

std::vector<PostedKeyEvent> SimWindowServer::postedKeyEvents() const {
    std::lock_guard lock(mutex_);
    return keyEvents_;
}

void SimWindowServer::setKeyPostingFails(bool fails) {
    std::lock_guard lock(mutex_);
    keyPostingFails_ = fails;
}

} // namespace orvane::sim
