#pragma once

#include "orvane/platform/Displays.hpp"

#include <mutex>

namespace orvane::sim {

// A configurable display arrangement. Frames are given in the global top-left space, the
// primary display first at origin (0, 0).
class SimDisplays : public Displays {
public:
    std::vector<Display> screens() const override;
    std::optional<Display> mainDisplay() const override;

    // Replaces the arrangement. Ids are assigned 1, 2, ... in order unless set.
    void setScreens(std::vector<Display> screens);
    // Convenience: one display per frame, named "Display 1", "Display 2", ...
    void setFrames(const std::vector<plinth::Rect>& frames);
    void setMainDisplayIndex(std::optional<std::size_t> index);

private:
    mutable std::mutex mutex_;
    std::vector<Display> screens_;
    std::optional<std::size_t> mainIndex_ = 0;
};

} // namespace orvane::sim
