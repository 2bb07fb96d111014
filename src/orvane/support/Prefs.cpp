#include "orvane/support/Prefs.hpp"

#include "orvane/platform/Platform.hpp"

#include <algorithm>
#include <mutex>
#include <utility>

namespace orvane {

Prefs::Prefs(std::shared_ptr<PreferencesStore> store) : store_(std::move(store)) {
    store_->registerDefaults({
        {PrefKey::settleMilliseconds, std::int64_t{300}},
        {PrefKey::turnThreshold, 50.0},
        {PrefKey::paneDelayMilliseconds, std::int64_t{300}},
        {PrefKey::typingPauseSeconds, 3.0},
        {PrefKey::learnFromClicks, true},
        {PrefKey::showGazeDot, false},
        {PrefKey::focusPanes, true},
        {PrefKey::moveCursor, true},
        {PrefKey::respectMouse, true},
        {PrefKey::edgeMarginPoints, 40.0},
        {PrefKey::readInputDevices, false},
    });
}

Prefs& Prefs::shared() {
    static std::mutex mutex;
    static std::unique_ptr<Prefs> instance;
    static std::uint64_t builtFor = 0;
    std::lock_guard lock(mutex);
    const auto generation = platformGeneration();
    if (!instance || builtFor != generation) {
        instance = std::make_unique<Prefs>(platform().preferences);
        builtFor = generation;
    }
    return *instance;
}

std::int64_t Prefs::settleMilliseconds() const {
    return std::clamp(store_->integer(PrefKey::settleMilliseconds), -longestMilliseconds,
                      longestMilliseconds);
}

std::int64_t Prefs::paneDelayMilliseconds() const {
    return std::clamp(store_->integer(PrefKey::paneDelayMilliseconds), -longestMilliseconds,
                      longestMilliseconds);
}

double Prefs::typingPauseSeconds() const {
    // Never NaN: the store answers the default for a value that is not a finite number.
    return std::clamp(store_->real(PrefKey::typingPauseSeconds), -longestSeconds, longestSeconds);
}

void Prefs::setCameraID(const std::string& identifier) {
    if (identifier.empty()) {
        store_->remove(PrefKey::cameraID);
    } else {
        store_->setString(PrefKey::cameraID, identifier);
    }
}

} // namespace orvane
