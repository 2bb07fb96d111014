#pragma once

#include "orvane/platform/PreferencesStore.hpp"

#include <memory>
#include <mutex>
#include <optional>
#include <string>

class QSettings;

namespace orvane::linuxbackend {

// Preferences in ~/.config/Orvane/Orvane.conf through QSettings. The INI format keeps no types,
// so values read back from disk arrive as text and the store's typed accessors convert them.
class QSettingsPreferences : public PreferencesStore {
public:
    // `file`: a settings file of its own (tests); default the user's Orvane.conf.
    explicit QSettingsPreferences(std::optional<std::string> file = std::nullopt);
    ~QSettingsPreferences() override;

    // Where the values are kept.
    std::string fileName() const;
    // Writes pending changes to disk now (they are also written on destruction and by Qt's
    // own timer).
    void sync();

protected:
    std::optional<PrefValue> storedValue(const std::string& key) const override;
    void store(const std::string& key, const PrefValue& value) override;
    void erase(const std::string& key) override;

private:
    mutable std::mutex mutex_;
    std::unique_ptr<QSettings> settings_;
};

} // namespace orvane::linuxbackend
