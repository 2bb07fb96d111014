#include "backends/sim/InMemoryPreferences.hpp"

namespace orvane::sim {

bool InMemoryPreferences::hasStoredValue(const std::string& key) const {
    std::lock_guard lock(mutex_);
    return values_.contains(key);
}

std::optional<PrefValue> InMemoryPreferences::storedValue(const std::string& key) const {
    std::lock_guard lock(mutex_);
    auto found = values_.find(key);
    if (found == values_.end()) {
        return std::nullopt;
    }
    return found->second;
}

void InMemoryPreferences::store(const std::string& key, const PrefValue& value) {
    std::lock_guard lock(mutex_);
    values_[key] = value;
}

void InMemoryPreferences::erase(const std::string& key) {
    std::lock_guard lock(mutex_);
    values_.erase(key);
}

} // namespace orvane::sim
