#include "orvane/platform/PreferencesStore.hpp"

#include "plinth/Numeric.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <string_view>

namespace orvane {
namespace {

std::string_view trimmed(std::string_view text) {
    constexpr std::string_view blanks = " \t\r\n";
    const auto first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// The whole text (blanks around it aside) as a number of the given type, or nullopt. A plain
// `+` sign is allowed.
template <class Number> std::optional<Number> parsed(std::string_view text) {
    text = trimmed(text);
    if (text.size() > 1 && text.front() == '+' && text[1] != '-') {
        text.remove_prefix(1);
    }
    Number number{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error != std::errc() || end != text.data() + text.size() || text.empty()) {
        return std::nullopt;
    }
    return number;
}

std::optional<double> finite(double value) {
    return std::isfinite(value) ? std::optional<double>(value) : std::nullopt;
}

// Each conversion answers nullopt for a value that does not stand for one of its type; the
// read then falls back to the registered default.
struct ToReal {
    std::optional<double> operator()(bool v) const { return v ? 1.0 : 0.0; }
    std::optional<double> operator()(std::int64_t v) const { return static_cast<double>(v); }
    std::optional<double> operator()(double v) const { return finite(v); }
    std::optional<double> operator()(const std::string& v) const {
        const auto number = parsed<double>(v);
        return number ? finite(*number) : std::nullopt;
    }
};

struct ToInteger {
    std::optional<std::int64_t> operator()(bool v) const { return v ? 1 : 0; }
    std::optional<std::int64_t> operator()(std::int64_t v) const { return v; }
    std::optional<std::int64_t> operator()(double v) const {
        return std::isfinite(v) ? std::optional(plinth::truncatedToInt64(v)) : std::nullopt;
    }
    std::optional<std::int64_t> operator()(const std::string& v) const {
        // Exact for every 64-bit integer; "450.5" or "4.5e2" go the floating-point way.
        if (auto integer = parsed<std::int64_t>(v)) {
            return integer;
        }
        const auto real = ToReal{}(v);
        return real ? std::optional(plinth::truncatedToInt64(*real)) : std::nullopt;
    }
};

struct ToBool {
    std::optional<bool> operator()(bool v) const { return v; }
    std::optional<bool> operator()(std::int64_t v) const {
        return v == 0 || v == 1 ? std::optional(v == 1) : std::nullopt;
    }
    std::optional<bool> operator()(double v) const {
        return v == 0.0 || v == 1.0 ? std::optional(v == 1.0) : std::nullopt;
    }
    std::optional<bool> operator()(const std::string& v) const {
        std::string word(trimmed(v));
        std::transform(word.begin(), word.end(), word.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        if (word == "true" || word == "yes" || word == "on" || word == "1") {
            return true;
        }
        if (word == "false" || word == "no" || word == "off" || word == "0") {
            return false;
        }
        return std::nullopt;
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
    return registeredDefault(key);
}

std::optional<PrefValue> PreferencesStore::registeredDefault(const std::string& key) const {
    std::lock_guard lock(defaultsMutex_);
    auto found = defaults_.find(key);
    if (found == defaults_.end()) {
        return std::nullopt;
    }
    return found->second;
}

template <class Conversion, class Result>
Result PreferencesStore::converted(const std::string& key, Result empty) const {
    if (auto stored = storedValue(key)) {
        if (auto result = std::visit(Conversion{}, *stored)) {
            return *result;
        }
    }
    if (auto fallback = registeredDefault(key)) {
        if (auto result = std::visit(Conversion{}, *fallback)) {
            return *result;
        }
    }
    return empty;
}

std::int64_t PreferencesStore::integer(const std::string& key) const {
    return converted<ToInteger>(key, std::int64_t{0});
}

double PreferencesStore::real(const std::string& key) const {
    return converted<ToReal>(key, 0.0);
}

bool PreferencesStore::boolean(const std::string& key) const {
    return converted<ToBool>(key, false);
}

std::optional<std::string> PreferencesStore::string(const std::string& key) const {
    auto v = value(key);
    return v ? std::visit(ToText{}, *v) : std::nullopt;
}

} // namespace orvane
