#include "backends/linux/atspi/ScreenReaderToolkits.hpp"

#include "backends/linux/atspi/AtspiBusStatus.hpp"

#include <fstream>
#include <iterator>

namespace orvane::linuxbackend {
namespace {

// A large program's maps run to a few hundred kilobytes; the GUI library comes early.
constexpr std::size_t maxMapsBytes = 4 * 1024 * 1024;
constexpr std::size_t maxEnvironmentBytes = 1024 * 1024;
constexpr std::string_view forceVariable = "QT_LINUX_ACCESSIBILITY_ALWAYS_ON=";

std::string readBounded(const std::string& path, std::size_t limit) {
    std::ifstream file(path, std::ios::binary);
    std::string text;
    if (!file) {
        return text;
    }
    text.resize(limit);
    file.read(text.data(), static_cast<std::streamsize>(limit));
    text.resize(static_cast<std::size_t>(file.gcount()));
    return text;
}

} // namespace

ScreenReaderToolkits::ScreenReaderToolkits(std::string proc)
    : proc_(std::move(proc)), status_(std::make_unique<AtspiBusStatus>()) {}

ScreenReaderToolkits::~ScreenReaderToolkits() = default;

bool ScreenReaderToolkits::hidesFields(pid_t pid) const {
    return hidesFields(pid, [this] { return status_->isScreenReaderEnabled(); });
}

bool ScreenReaderToolkits::mapsQtGui(std::string_view maps) {
    for (std::string_view library : {"/libQt5Gui.so", "/libQt6Gui.so"}) {
        if (maps.find(library) != std::string_view::npos) {
            return true;
        }
    }
    return false;
}

bool ScreenReaderToolkits::forcesAccessibility(std::string_view environment) {
    // Qt only asks whether the variable is set, whatever its value.
    std::size_t start = 0;
    while (start < environment.size()) {
        std::size_t end = environment.find('\0', start);
        if (end == std::string_view::npos) {
            end = environment.size();
        }
        if (environment.substr(start, end - start).starts_with(forceVariable)) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

bool ScreenReaderToolkits::hidesFields(pid_t pid,
                                       const std::function<bool()>& screenReaderOn) const {
    if (pid <= 0) {
        return false;
    }
    const std::string dir = proc_ + "/" + std::to_string(pid);
    if (!mapsQtGui(readBounded(dir + "/maps", maxMapsBytes)) ||
        forcesAccessibility(readBounded(dir + "/environ", maxEnvironmentBytes))) {
        return false;
    }
    return !(screenReaderOn && screenReaderOn());
}

} // namespace orvane::linuxbackend
