#pragma once

#include "orvane/platform/UiToolkit.hpp"

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace orvane::sim {

// The windows our own toolkit would draw, kept as records: which display each covers, under
// which display key, and whether it has been ordered out (or dropped) since. Activations of
// the application are counted. A test can make window creation fail. Main thread.
class SimUiToolkit : public UiToolkit {
public:
    struct PresentedWindow {
        Display display;
        std::string screenID;
        bool orderedOut = false;
    };

    SimUiToolkit();

    std::unique_ptr<FullScreenWindow>
    presentCalibrationWindow(const Display& display, const std::string& screenID) override;
    void activateIgnoringOtherApps() override;

    // Every window presented so far, in order, including those already ordered out.
    std::vector<PresentedWindow> windows() const;
    // The windows presented and not yet ordered out or dropped.
    std::size_t visibleCount() const;
    std::size_t activations() const { return activations_; }

    // While set, `presentCalibrationWindow` makes no window.
    void setFailsToMakeWindows(bool fails) { failsToMakeWindows_ = fails; }

private:
    struct Record {
        std::vector<PresentedWindow> windows;
    };
    class Window;

    // Shared with the windows, which may outlive the toolkit.
    std::shared_ptr<Record> record_;
    std::size_t activations_ = 0;
    bool failsToMakeWindows_ = false;
};

} // namespace orvane::sim
