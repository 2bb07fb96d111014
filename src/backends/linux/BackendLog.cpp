#include "backends/linux/BackendLog.hpp"

#include "orvane/platform/Platform.hpp"

namespace orvane::linuxbackend {

void logInfo(std::string_view text) {
    if (auto sink = currentLogSink()) {
        sink->write(LogLevel::info, kApplicationIdentifier, "core", text);
    }
}

} // namespace orvane::linuxbackend
