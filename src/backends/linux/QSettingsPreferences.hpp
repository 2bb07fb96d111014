#pragma once

#include "orvane/platform/PreferencesStore.hpp"

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

class QSettings;

namespace orvane::linuxbackend {

// Preferences in ~/.config/Orvane/Orvane.conf through QSettings. The INI format keeps no types,
// so values read back from disk arrive as text and the store's typed accessors convert them.
//
// The file is looked at before QSettings reads it, at the first use: QSettings would wait
// forever on a FIFO and read a file of any size whole. A file that is not a regular file, is
// larger than `fileSizeLimit` or cannot be read is reported and moved aside to the first free
// name of "Orvane.conf.bad", ".bad.1" ... ".bad.9"; the settings then start from the
// defaults. When it cannot be moved, the values are kept in memory only and the file is left
// as it is.
class QSettingsPreferences : public PreferencesStore {
public:
    // A settings file holds a few hundred bytes.
    static constexpr std::size_t fileSizeLimit = 1024 * 1024;
    // How many unusable files are kept aside; an older one goes when a new one comes.
    static constexpr int asideNameCount = 10;

    // Told why the settings file is not used, once; by default the application log.
    using Reporter = std::function<void(const std::string& problem)>;

    // `file`: a settings file of its own (tests); default the user's Orvane.conf.
    explicit QSettingsPreferences(std::optional<std::string> file = std::nullopt,
                                  Reporter report = {});
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
    // The settings, opened on first use; null when they live in memory only. Needs mutex_.
    QSettings* settings() const;

    const std::string file_;
    const Reporter report_;
    mutable std::mutex mutex_;
    mutable bool opened_ = false;
    mutable std::unique_ptr<QSettings> settings_;
    mutable std::map<std::string, PrefValue> memoryOnly_;
};

} // namespace orvane::linuxbackend
