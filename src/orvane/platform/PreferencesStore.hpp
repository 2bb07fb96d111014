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

    // Typed reads never fail. A stored value of another type is converted: numbers to numbers
    // (truncated toward zero for integers), text that is wholly one number to that number,
    // true/yes/on/1 and false/no/off/0 in any letter case to booleans, numbers to text. A
    // value that stands for nothing of the type (a number that is not finite, other text, a
    // boolean number other than 0 or 1) reads as the registered default, as does a missing
    // one; without a default the read answers 0, 0.0, false or nullopt.
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
    std::optional<PrefValue> registeredDefault(const std::string& key) const;
    template <class Conversion, class Result>
    Result converted(const std::string& key, Result empty) const;

    mutable std::mutex defaultsMutex_;
    std::map<std::string, PrefValue> defaults_;
};

} // namespace orvane
