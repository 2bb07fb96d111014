#include "backends/sim/CapturingLogSink.hpp"

namespace orvane::sim {

void CapturingLogSink::write(LogLevel level, std::string_view subsystem, std::string_view category,
                             std::string_view text) {
    std::lock_guard lock(mutex_);
    records_.push_back({level, std::string(subsystem), std::string(category), std::string(text)});
}

std::vector<LogRecord> CapturingLogSink::records() const {
    std::lock_guard lock(mutex_);
    return records_;
}

std::vector<std::string> CapturingLogSink::lines(LogLevel level) const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> texts;
    for (const auto& record : records_) {
        if (record.level == level) {
            texts.push_back(record.text);
        }
    }
    return texts;
}

void CapturingLogSink::clear() {
    std::lock_guard lock(mutex_);
    records_.clear();
}

} // namespace orvane::sim
