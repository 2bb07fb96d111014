#include "orvane/platform/PreferencesStore.hpp"

#include "plinth/Numeric.hpp"

#include <charconv>
#include <cmath>
#include <limits>

namespace orvane {
namespace {

std::optional<double> parseNumber(const std::string& text) {
    double parsed = 0;
    const char* begin = text.data();
    const char* end = begin + text.size();
    while (begin != end && *begin == ' ') {
        ++begin;
    }
    auto [ptr, ec] = std::from_chars(begin, end, parsed);
    if (ec != std::errc() || ptr == begin) {
        return std::nullopt;
    }
    return parsed;
}

struct ToReal {
    double operator()(bool v) const { return v ? 1.0 : 0.0; }
    double operator()(std::int64_t v) const { return static_cast<double>(v); }
    double operator()(double v) const { return v; }
    double operator()(const std::string& v) const { return parseNumber(v).value_or(0.0); }
};

struct ToInteger {
    std::int64_t operator()(bool v) const { return v ? 1 : 0; }
    std::int64_t operator()(std::int64_t v) const { return v; }
    std::int64_t operator()(double v) const { return plinth::truncatedToInt64(v); }
    std::int64_t operator()(const std::string& v) const {
        return plinth::truncatedToInt64(parseNumber(v).value_or(0.0));
    }
};

struct ToBool {
    bool operator()(bool v) const { return v; }
    bool operator()(std::int64_t v) const { return v != 0; }
    bool operator()(double v) const { return v != 0.0; }
    bool operator()(const std::string& v) const {
        if (v == "true" || v == "TRUE" || v == "YES" || v == "yes") {
            return true;
        }
        return ToInteger{}(v) != 0;
    }
};

struct ToText {
    std::optional<std::string> operator()(bool) const { return std::nullopt; }
    std::optional<std::string> operator()(std::int64_t v) const { return std::to_string(v); }
    std::optional<std::string> operator()(double v) const {
        char buffer[32];
        auto [ptr, ec] = std::to_chars(buffer, buffer + sizeof buffer, v);
        return ec == std::errc() ? std::optional<std::string>(std::string(buffer, ptr))
                                 : std::nullopt;
    }
    std::optional<std::string> operator()(const std::string& v) const { return v; }
};

} // namespace

void PreferencesStore::registerDefaults(const std::map<std::string, PrefValue>& defaults) {
    std::lock_guard lock(defaultsMutex_);
    for (const auto& [key, value] : defaults) {
        defaults_[key] = value;
    }
}

std::optional<PrefValue> PreferencesStore::value(const std::string& key) const {
    if (auto stored = storedValue(key)) {
        return stored;
    }
    std::lock_guard lock(defaultsMutex_);
    auto found = defaults_.find(key);
    if (found == defaults_.end()) {
        return std::nullopt;
    }
    return found->second;
}

std::int64_t PreferencesStore::integer(const std::string& key) const {
    auto v = value(key);
    return v ? std::visit(ToInteger{}, *v) : 0;
}

double PreferencesStore::real(const std::string& key) const {
    auto v = value(key);
    return v ? std::visit(ToReal{}, *v) : 0.0;
}

bool PreferencesStore::boolean(const std::string& key) const {
    auto v = value(key);
    return v ? std::visit(ToBool{}, *v) : false;
}

std::optional<std::string> PreferencesStore::string(const std::string& key) const {
    auto v = value(key);
    return v ? std::visit(ToText{}, *v) : std::nullopt;
}

} // namespace orvane
