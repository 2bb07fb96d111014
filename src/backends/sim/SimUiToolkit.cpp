#include "backends/sim/SimUiToolkit.hpp"

#include <algorithm>
#include <utility>

namespace orvane::sim {

class SimUiToolkit::Window : public FullScreenWindow {
public:
    Window(std::weak_ptr<Record> record, std::size_t index)
        : record_(std::move(record)), index_(index) {}
    ~Window() override { orderOut(); }

    void orderOut() override {
        auto record = record_.lock();
        if (record && index_ < record->windows.size()) {
            record->windows[index_].orderedOut = true;
        }
    }

private:
    std::weak_ptr<Record> record_;
    std::size_t index_;
};

SimUiToolkit::SimUiToolkit() : record_(std::make_shared<Record>()) {}

std::unique_ptr<FullScreenWindow>
SimUiToolkit::presentCalibrationWindow(const Display& display, const std::string& screenID) {
    if (failsToMakeWindows_) {
        return nullptr;
    }
    record_->windows.push_back({display, screenID, false});
    return std::make_unique<Window>(record_, record_->windows.size() - 1);
}

void SimUiToolkit::activateIgnoringOtherApps() {
    ++activations_;
}

std::vector<SimUiToolkit::PresentedWindow> SimUiToolkit::windows() const {
    return record_->windows;
}

std::size_t SimUiToolkit::visibleCount() const {
    return static_cast<std::size_t>(
        std::count_if(record_->windows.begin(), record_->windows.end(),
                      [](const PresentedWindow& window) { return !window.orderedOut; }));
}

} // namespace orvane::sim
