#include "backends/linux/JournaldLogSink.hpp"

#include <string>
#include <syslog.h>
#include <systemd/sd-journal.h>
#include <unistd.h>

namespace orvane::linuxbackend {
namespace {

bool journalAvailable() {
    return ::access("/run/systemd/journal/socket", W_OK) == 0;
}

} // namespace

JournaldLogSink::JournaldLogSink(std::FILE* fallback, bool useJournal, bool echo)
    : fallback_(fallback), useJournal_(useJournal && journalAvailable()), echo_(echo) {}

void JournaldLogSink::write(LogLevel level, std::string_view subsystem, std::string_view category,
                            std::string_view text) {
    const std::string message(text);
    if (useJournal_) {
        const std::string identifier(subsystem);
        const std::string categoryText(category);
        // The text only ever fills a %s: it is never read as a format.
        int sent = sd_journal_send("MESSAGE=%s", message.c_str(), "PRIORITY=%i",
                                   level == LogLevel::error ? LOG_ERR : LOG_INFO,
                                   "SYSLOG_IDENTIFIER=%s", identifier.c_str(), "ORVANE_CATEGORY=%s",
                                   categoryText.c_str(), nullptr);
        if (sent >= 0 && !echo_) {
            return;
        }
    }
    std::string line(subsystem);
    line.append(level == LogLevel::error ? " [error] " : " [info] ");
    line.append(message);
    line.push_back('\n');
    std::lock_guard lock(fallbackMutex_);
    std::fwrite(line.data(), 1, line.size(), fallback_);
    std::fflush(fallback_);
}

} // namespace orvane::linuxbackend
