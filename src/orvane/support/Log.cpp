#include "orvane/support/Log.hpp"

#include "orvane/platform/Platform.hpp"

#include <cstdio>
#include <mutex>
#include <string>

namespace orvane {
namespace {

// Created on first use; resolves the sink at every call so that a platform installed later
// (or a test's capturing sink) receives the records.
class Logger {
public:
    void write(LogLevel level, std::string_view text) {
        if (auto sink = currentLogSink()) {
            sink->write(level, kApplicationIdentifier, Log::category, text);
            return;
        }
        std::lock_guard lock(fallbackMutex_);
        std::string line;
        line.reserve(text.size() + 16);
        line.append(level == LogLevel::error ? "orvane error: " : "orvane: ");
        line.append(text);
        line.push_back('\n');
        std::fwrite(line.data(), 1, line.size(), stderr);
    }

private:
    std::mutex fallbackMutex_;
};

Logger& logger() {
    static Logger instance;
    return instance;
}

} // namespace

void Log::info(std::string_view text) {
    logger().write(LogLevel::info, text);
}

void Log::error(std::string_view text) {
    logger().write(LogLevel::error, text);
}

} // namespace orvane
