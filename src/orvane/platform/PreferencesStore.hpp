#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <variant>

namespace orvane {

using PrefValue = std::variant<bool, std::int64_t, double, std::string>;

// The user's per-application key-value settings. Backends supply storage; the typed accessors
// and the registered defaults live here so every backend converts the same way. Registered
// defaults are never written to storage: they answer only while a key has no stored value.
// Safe to use from any thread.
class PreferencesStore {
public:
    virtual ~PreferencesStore() = default;

    void registerDefaults(const std::map<std::string, PrefValue>& defaults);

    // The stored value, else the registered default, else nullopt.
    std::optional<PrefValue> value(const std::string& key) const;

    // Typed reads never fail: a missing key answers 0, 0.0, false or nullopt; a value of
    // another type is converted (numbers to numbers, numeric text to numbers, "true"/"YES"
    // to true, numbers to text).
    std::int64_t integer(const std::string& key) const;
    double real(const std::string& key) const;
    bool boolean(const std::string& key) const;
    std::optional<std::string> string(const std::string& key) const;

    void setInteger(const std::string& key, std::int64_t value) { store(key, value); }
    void setReal(const std::string& key, double value) { store(key, value); }
    void setBool(const std::string& key, bool value) { store(key, value); }
    void setString(const std::string& key, const std::string& value) { store(key, value); }
    // Removes the stored value; the registered default answers again.
    void remove(const std::string& key) { erase(key); }

protected:
    virtual std::optional<PrefValue> storedValue(const std::string& key) const = 0;
    virtual void store(const std::string& key, const PrefValue& value) = 0;
    virtual void erase(const std::string& key) = 0;

private:
    mutable std::mutex defaultsMutex_;
    std::map<std::string, PrefValue> defaults_;
};

} // namespace orvane
