#pragma once

#include "orvane/platform/PreferencesStore.hpp"

#include <map>
#include <mutex>

namespace orvane::sim {

class InMemoryPreferences : public PreferencesStore {
public:
    // True when a value is stored for `key` (registered defaults do not count).
    bool hasStoredValue(const std::string& key) const;

protected:
    std::optional<PrefValue> storedValue(const std::string& key) const override;
    void store(const std::string& key, const PrefValue& value) override;
    void erase(const std::string& key) override;

private:
    mutable std::mutex mutex_;
    std::map<std::string, PrefValue> values_;
};

} // namespace orvane::sim
