#include "backends/sim/SimDisplays.hpp"

#include <string>

namespace orvane::sim {

std::vector<Display> SimDisplays::screens() const {
    std::lock_guard lock(mutex_);
    return screens_;
}

std::optional<Display> SimDisplays::mainDisplay() const {
    std::lock_guard lock(mutex_);
    if (!mainIndex_ || *mainIndex_ >= screens_.size()) {
        return std::nullopt;
    }
    return screens_[*mainIndex_];
}

void SimDisplays::setScreens(std::vector<Display> screens) {
    std::uint32_t nextID = 1;
    for (auto& screen : screens) {
        if (screen.id == 0) {
            screen.id = nextID;
        }
        ++nextID;
    }
    std::lock_guard lock(mutex_);
    screens_ = std::move(screens);
}

void SimDisplays::setFrames(const std::vector<plinth::Rect>& frames) {
    std::vector<Display> screens;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        screens.push_back({0, frames[i], frames[i], "Display " + std::to_string(i + 1)});
    }
    setScreens(std::move(screens));
}

void SimDisplays::setMainDisplayIndex(std::optional<std::size_t> index) {
    std::lock_guard lock(mutex_);
    mainIndex_ = index;
}

} // namespace orvane::sim
