#include "backends/linux/evdev/EvdevInputOption.hpp"

#include "backends/linux/CombinedInputMonitor.hpp"

#include <utility>

namespace orvane::linuxbackend {

EvdevInputOption::EvdevInputOption(std::shared_ptr<CombinedInputMonitor> combined,
                                   EvdevInputMonitor::Options options,
                                   std::function<InputAccess()> check)
    : combined_(std::move(combined)), options_(std::move(options)), check_(std::move(check)) {}

EvdevInputOption::~EvdevInputOption() {
    if (devices_) {
        combined_->use(nullptr);
    }
}

InputDeviceAccess::Readability EvdevInputOption::readability() const {
    const auto access = check_();
    return {access.keyboardReadable, access.reason};
}

bool EvdevInputOption::setEnabled(bool on, std::string* problem) {
    if (!on) {
        if (devices_) {
            // Back to the desktop's input first; the devices close with their monitor.
            combined_->use(nullptr);
            devices_.reset();
        }
        return true;
    }
    if (devices_) {
        return true;
    }
    const auto say = [problem](std::string text) {
        if (problem) {
            *problem = std::move(text);
        }
        return false;
    };
    if (const auto access = check_(); !access.keyboardReadable) {
        return say(access.reason);
    }
    auto devices = std::make_shared<EvdevInputMonitor>(options_);
    if (auto failed = devices->start()) {
        return say(*failed);
    }
    if (!combined_->use(devices)) {
        return say("the input devices could not be watched");
    }
    devices_ = std::move(devices);
    return true;
}

bool offersInputDevices(DesktopFamily family) {
    switch (family) {
    case DesktopFamily::x11:
    case DesktopFamily::gnome:
    case DesktopFamily::unsupported:
        return false;
    default:
        return true;
    }
}

void offerInputDevices(Platform& platform, std::function<bool()> keysAreOurs) {
    if (!platform.inputMonitor) {
        return;
    }
    auto combined = std::make_shared<CombinedInputMonitor>(platform.inputMonitor);
    EvdevInputMonitor::Options options;
    options.keysAreOurs = std::move(keysAreOurs);
    platform.inputMonitor = combined;
    platform.inputDevices = std::make_shared<EvdevInputOption>(combined, std::move(options));
}

} // namespace orvane::linuxbackend
