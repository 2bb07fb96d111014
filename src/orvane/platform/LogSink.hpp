#pragma once

#include <string_view>

namespace orvane {

enum class LogLevel { info, error };

// Where log records go. Called from any thread; implementations serialise themselves. The
// text is a finished message, never a format string.
class LogSink {
public:
    virtual ~LogSink() = default;
    virtual void write(LogLevel level, std::string_view subsystem, std::string_view category,
                       std::string_view text) = 0;
};

} // namespace orvane
