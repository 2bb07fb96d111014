#pragma once

#include "orvane/platform/LogSink.hpp"

#include <cstdio>
#include <mutex>

namespace orvane::linuxbackend {

// Log records to the systemd journal (identifier = the subsystem, the category as a field of
// its own); to `fallback` when there is no journal to write to, and to both when `echo` is set
// (a person watching the terminal).
class JournaldLogSink : public LogSink {
public:
    explicit JournaldLogSink(std::FILE* fallback = stderr, bool useJournal = true,
                             bool echo = false);

    void write(LogLevel level, std::string_view subsystem, std::string_view category,
               std::string_view text) override;

    // Whether every line also reaches the fallback stream (no journal, or echoing to it).
    bool writesToFallback() const { return !useJournal_ || echo_; }

private:
    std::FILE* fallback_;
    bool useJournal_;
    bool echo_;
    std::mutex fallbackMutex_;
};

} // namespace orvane::linuxbackend
