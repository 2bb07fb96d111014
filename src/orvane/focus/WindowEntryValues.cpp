#include "orvane/focus/WindowEntryValues.hpp"

#include <cmath>

namespace orvane::WindowEntryValues {

std::optional<std::int64_t> integer(const WindowEntry& entry, const char* key) {
    auto found = entry.find(key);
    if (found == entry.end()) {
        return std::nullopt;
    }
    if (const auto* value = std::get_if<std::int64_t>(&found->second)) {
        return *value;
    }
    if (const auto* real = std::get_if<double>(&found->second)) {
        // 2^63 is the first double past the int64 range.
        if (std::trunc(*real) == *real && *real >= -9223372036854775808.0 &&
            *real < 9223372036854775808.0) {
            return static_cast<std::int64_t>(*real);
        }
    }
    return std::nullopt;
}

std::optional<plinth::Rect> rect(const WindowEntry& entry, const char* key) {
    auto found = entry.find(key);
    if (found == entry.end()) {
        return std::nullopt;
    }
    const auto* value = std::get_if<plinth::Rect>(&found->second);
    if (value == nullptr || !std::isfinite(value->x) || !std::isfinite(value->y) ||
        !std::isfinite(value->width) || !std::isfinite(value->height)) {
        return std::nullopt;
    }
    return *value;
}

std::optional<std::string> text(const WindowEntry& entry, const char* key) {
    auto found = entry.find(key);
    if (found == entry.end()) {
        return std::nullopt;
    }
    const auto* value = std::get_if<std::string>(&found->second);
    if (value == nullptr) {
        return std::nullopt;
    }
    return *value;
}

} // namespace orvane::WindowEntryValues
