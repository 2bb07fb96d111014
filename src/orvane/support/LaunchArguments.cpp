#include "orvane/support/LaunchArguments.hpp"

#include <charconv>
#include <optional>

namespace orvane {
namespace {

std::optional<std::int64_t> wholeNumber(const std::string& text) {
    std::size_t start = 0;
    if (!text.empty() && text[0] == '+') {
        start = 1; // from_chars takes a minus sign but not a plus
    }
    const char* first = text.data() + start;
    const char* last = text.data() + text.size();
    if (first == last || (*first == '-' && first + 1 == last) || (start == 1 && *first == '-')) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    const auto [end, error] = std::from_chars(first, last, value);
    if (error != std::errc() || end != last) {
        return std::nullopt;
    }
    return value;
}

} // namespace

LaunchMode LaunchMode::parse(const std::vector<std::string>& arguments) {
    for (std::size_t index = 0; index < arguments.size(); ++index) {
        if (arguments[index] != "--probe-camera") {
            continue;
        }
        LaunchMode mode{Kind::probeCamera, defaultProbeSeconds, std::nullopt};
        if (index + 1 < arguments.size()) {
            mode.probeSeconds = wholeNumber(arguments[index + 1]).value_or(defaultProbeSeconds);
        }
        return mode;
    }
    for (const auto& argument : arguments) {
        if (argument == "--diagnose") {
            return {Kind::diagnose, defaultProbeSeconds, std::nullopt};
        }
    }
    for (std::size_t index = 1; index < arguments.size(); ++index) {
        if (arguments[index] == "--toggle-pause") {
            return {Kind::togglePause, defaultProbeSeconds, std::nullopt};
        }
    }
    LaunchMode mode;
    for (std::size_t index = 1; index < arguments.size(); ++index) {
        mode.reportsGaze = mode.reportsGaze || arguments[index] == "--report-gaze";
    }
    for (std::size_t index = 1; index + 1 < arguments.size(); ++index) {
        if (arguments[index] == "--after") {
            const auto pid = wholeNumber(arguments[index + 1]);
            if (pid && *pid > 0) {
                mode.afterProcess = pid;
            }
            break;
        }
    }
    return mode;
}

} // namespace orvane
