#pragma once

#include "orvane/platform/LogSink.hpp"

#include <mutex>
#include <string>
#include <vector>

namespace orvane::sim {

struct LogRecord {
    LogLevel level = LogLevel::info;
    std::string subsystem;
    std::string category;
    std::string text;
};

// Keeps every record so tests can assert what was logged.
class CapturingLogSink : public LogSink {
public:
    void write(LogLevel level, std::string_view subsystem, std::string_view category,
               std::string_view text) override;

    std::vector<LogRecord> records() const;
    // Just the texts at `level`, in order.
    std::vector<std::string> lines(LogLevel level) const;
    void clear();

private:
    mutable std::mutex mutex_;
    std::vector<LogRecord> records_;
};

} // namespace orvane::sim
