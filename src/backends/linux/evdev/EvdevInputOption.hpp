#pragma once

#include "backends/linux/SessionChoice.hpp"
#include "backends/linux/evdev/EvdevAccess.hpp"
#include "backends/linux/evdev/EvdevInputMonitor.hpp"
#include "orvane/platform/InputDeviceAccess.hpp"
#include "orvane/platform/Platform.hpp"

#include <functional>
#include <memory>

namespace orvane::linuxbackend {

class CombinedInputMonitor;

// The input devices as the platform's opt-in: turned on, the combined monitor takes its input
// from them instead of from the desktop.
class EvdevInputOption : public InputDeviceAccess {
public:
    EvdevInputOption(std::shared_ptr<CombinedInputMonitor> combined,
                     EvdevInputMonitor::Options options,
                     std::function<InputAccess()> check = checkInputAccess);
    ~EvdevInputOption() override;

    Readability readability() const override;
    bool setEnabled(bool on, std::string* problem) override;
    bool enabled() const override { return devices_ != nullptr; }

private:
    std::shared_ptr<CombinedInputMonitor> combined_;
    EvdevInputMonitor::Options options_;
    std::function<InputAccess()> check_;
    std::shared_ptr<EvdevInputMonitor> devices_;
};

// Whether a desktop of `family` shows Orvane so little of other programs' input that reading
// the devices is worth offering: not X11, whose server shows it all, nor GNOME, whose shell
// extension does; not a desktop Orvane cannot work with at all.
bool offersInputDevices(DesktopFamily family);

// Wraps the input monitor `platform` has in a combined one and offers the devices beside it.
// `keysAreOurs` as for the device monitor.
void offerInputDevices(Platform& platform, std::function<bool()> keysAreOurs);

} // namespace orvane::linuxbackend
